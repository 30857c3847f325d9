#include "settings/CRegKeyIterator.h"

#include "platform/SystemError.h"
#include "settings/RegistryValueText.h"

namespace {
// Both walks give up on an item whose size keeps changing under them.
constexpr int kMaxGrowAttempts = 16;
const char kSubkeyStepWhere[] = "CRegistryKey::SubkeyIterator::GetSubkeyInfo()";
const char kValueStepWhere[] = "CRegistryKey::ValueIterator::GetValueInfo()";
}  // namespace

bool CRegKeyIterator::operator==(const CRegKeyIterator& other) const {
    return key_.Holder() == other.key_.Holder() && index_ == other.index_;
}

platform::RegKeyInfo CRegKeyIterator::QueryInfo(const char* where) const {
    platform::RegKeyInfo info;
    if (uint32_t error = platform::QueryRegistryKeyInfo(key_.Handle(), &info))
        throw CRegistryKey::Exception(where, error);
    return info;
}

template <typename Fetch, typename Grow>
void CRegKeyIterator::Step(Fetch fetch, Grow grow, const char* where) {
    if (AtEnd()) return;
    uint32_t result = fetch(index_);
    for (int attempt = 0; result == platform::kErrorMoreData; ++attempt) {
        if (attempt == kMaxGrowAttempts) break;
        if (!grow(QueryInfo(where))) {
            result = 0;
            break;
        }
        result = fetch(index_);
    }
    if (result == platform::kErrorNoMoreItems) {
        key_.Release();
        index_ = 0;
        return;
    }
    if (result != 0) throw CRegistryKey::Exception(where, result);
    ++index_;
}

// Buffers start at one character at least, so that every fetch hands the
// registry a real buffer and a longer item comes back as "more data".
CRegistryKey::SubkeyIteratorImpl::SubkeyIteratorImpl(const CRegistryKey& key)
    : CRegKeyIterator(key) {
    name_.Reserve(1);
    Grow(QueryInfo("CRegistryKey::SubkeyIterator::SubkeyIterator()"));
}

void CRegistryKey::SubkeyIteratorImpl::Grow(const platform::RegKeyInfo& info) {
    if (info.subkeys == 0) return;
    name_.Reserve(info.maxSubkeyLength + 1u);
    class_.Reserve(info.maxClassLength + 1u);
}

void CRegistryKey::SubkeyIteratorImpl::Move() {
    auto fetch = [this](uint32_t index) {
        uint32_t nameLength = static_cast<uint32_t>(name_.Capacity());
        uint32_t classLength = static_cast<uint32_t>(class_.Capacity());
        return platform::EnumRegistryKey(Handle(), index, name_.Data(), &nameLength, class_.Data(),
                                         class_.Data() ? &classLength : nullptr);
    };
    auto grow = [this](const platform::RegKeyInfo& info) {
        Grow(info);
        return info.subkeys != 0;
    };
    Step(fetch, grow, kSubkeyStepWhere);
}

CRegistryKey::ValueIteratorImpl::ValueIteratorImpl(const CRegistryKey& key) : CRegKeyIterator(key) {
    name_.Reserve(1);
    data_.Reserve(1);
    Grow(QueryInfo("CRegistryKey::ValueIterator::ValueIterator()"));
}

void CRegistryKey::ValueIteratorImpl::Grow(const platform::RegKeyInfo& info) {
    if (info.values == 0) return;
    name_.Reserve(info.maxValueNameLength + 1u);
    data_.Reserve(info.maxValueDataSize + 1u);
}

void CRegistryKey::ValueIteratorImpl::Move() {
    text_.reset();
    auto fetch = [this](uint32_t index) {
        uint32_t nameLength = static_cast<uint32_t>(name_.Capacity());
        uint32_t size = static_cast<uint32_t>(data_.Capacity());
        uint32_t result = platform::EnumRegistryValue(Handle(), index, name_.Data(), &nameLength,
                                                      &type_, data_.Data(), &size);
        size_ = result == 0 ? size : 0;
        return result;
    };
    auto grow = [this](const platform::RegKeyInfo& info) {
        Grow(info);
        return info.values != 0;
    };
    Step(fetch, grow, kValueStepWhere);
}

const char* CRegistryKey::ValueIteratorImpl::AsString() const {
    if (!text_) text_ = RegistryValueText(type_, data_.Data(), size_);
    return text_->c_str();
}
