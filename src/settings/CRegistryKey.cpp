#include "settings/CRegistryKey.h"

#include <cstring>
#include <new>

#include "settings/CCountedRegKey.h"
#include "settings/RegistryValueText.h"

namespace {

bool IsStringType(uint32_t type) {
    return type == platform::kRegSz || type == platform::kRegExpandSz;
}

// Closes a handle unless it is handed on.
class HandleGuard {
  public:
    explicit HandleGuard(platform::RegKey key) : key_(key) {}
    ~HandleGuard() {
        if (key_) platform::CloseRegistryKey(key_);
    }
    HandleGuard(const HandleGuard&) = delete;
    HandleGuard& operator=(const HandleGuard&) = delete;

  private:
    platform::RegKey key_;
};

}  // namespace

CCountedRegKey* CRegistryKey::NewCCountedRegKey(platform::RegKey key, bool closeOnFailure) {
    CCountedRegKey* holder = new (std::nothrow) CCountedRegKey(key);
    if (holder == nullptr) {
        if (closeOnFailure) platform::CloseRegistryKey(key);
        throw Exception("CRegistryKey::NewCCountedRegKey()", 8);
    }
    return holder;
}

CRegistryKey::CRegistryKey(platform::RegKey key) : key_(NewCCountedRegKey(key, true)) {}

CRegistryKey::CRegistryKey(platform::RegKey parent, const char* subkey, uint32_t access,
                           const char* machine) {
    platform::RegKey remote = 0;
    if (machine != nullptr) {
        if (uint32_t error = platform::ConnectRegistry(machine, parent, &remote))
            throw Exception("CRegistryKey::CRegistryKey() - RegConnectRegistry", error);
        parent = remote;
    }
    // The connection is needed only to open the key below it.
    HandleGuard connected(remote);
    platform::RegKey opened = 0;
    if (uint32_t error = platform::OpenRegistryKey(parent, subkey, access, &opened))
        throw Exception("CRegistryKey::CRegistryKey(HKEY hKey ...)", error);
    key_ = NewCCountedRegKey(opened, true);
}

CRegistryKey::CRegistryKey(const CRegistryKey& other) : key_(other.key_) {
    if (key_) key_->AddRef();
}

CRegistryKey& CRegistryKey::operator=(const CRegistryKey& other) {
    if (other.key_) other.key_->AddRef();
    Release();
    key_ = other.key_;
    return *this;
}

CRegistryKey::~CRegistryKey() { Release(); }

void CRegistryKey::Release() {
    CCountedRegKey* key = key_;
    key_ = nullptr;
    if (key) key->Release();
}

platform::RegKey CRegistryKey::Handle() const { return key_ ? key_->Get() : 0; }

CRegistryKey CRegistryKey::OpenKey(const char* subkey, uint32_t access) const {
    return CRegistryKey(Handle(), subkey, access, nullptr);
}

bool CRegistryKey::HasSubkey(const char* subkey, uint32_t access) const {
    platform::RegKey trial = 0;
    if (platform::OpenRegistryKey(Handle(), subkey, access, &trial) != 0) return false;
    platform::CloseRegistryKey(trial);
    return true;
}

CRegistryKey CRegistryKey::CreateOrOpenKey(const char* subkey, const char* className,
                                           uint32_t options, uint32_t access, void* /*security*/,
                                           uint32_t* disposition) const {
    platform::RegKey created = 0;
    if (uint32_t error = platform::CreateRegistryKey(Handle(), subkey, className, options, access,
                                                     &created, disposition))
        throw Exception("CRegistryKey::CreateOrOpenKey()", error);
    return CRegistryKey(created);
}

CRegistryKey CRegistryKey::CreateKey(const char* subkey, const char* className, uint32_t options,
                                     uint32_t access, void* security) const {
    uint32_t disposition = 0;
    CRegistryKey key = CreateOrOpenKey(subkey, className, options, access, security, &disposition);
    if (disposition != platform::kRegCreatedNewKey) {
        key.Release();
        throw Exception("CRegistryKey::CreateKey()", 183);
    }
    return key;
}

CRegistryKey::Value CRegistryKey::QueryValue(const char* name) const {
    const char* where = "CRegistryKey::QueryValue()";
    uint32_t type = 0;
    uint32_t size = 0;
    if (uint32_t error = platform::QueryRegistryValue(Handle(), name, &type, nullptr, &size))
        throw Exception(where, error);
    std::vector<uint8_t> data(size);
    if (uint32_t error = platform::QueryRegistryValue(Handle(), name, &type, data.data(), &size))
        throw Exception(where, error);
    return Value(name, data.data(), size, type);
}

void CRegistryKey::SetValue(const char* name, const char* text, uint32_t type) const {
    if (!IsStringType(type)) throw Exception("CRegistryKey::SetValue()", 1004);
    SetValue(Value(name, text, type));
}

void CRegistryKey::SetValue(const Value& value) const {
    if (uint32_t error = platform::SetRegistryValue(Handle(), value.Name(), value.Type(),
                                                    value.Data(), value.Size()))
        throw Exception("CRegistryKey::SetValue()", error);
}

CRegistryKey::SubkeyIterator CRegistryKey::BeginSubkeys() const { return SubkeyIterator(*this); }
CRegistryKey::SubkeyIterator CRegistryKey::EndSubkeys() const { return SubkeyIterator(); }
CRegistryKey::ValueIterator CRegistryKey::BeginValues() const { return ValueIterator(*this); }
CRegistryKey::ValueIterator CRegistryKey::EndValues() const { return ValueIterator(); }

CRegistryKey::Value::Value(const char* name, const void* data, uint32_t size, uint32_t type)
    : name_(name ? name : ""), type_(type) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (bytes) data_.assign(bytes, bytes + size);
}

CRegistryKey::Value::Value(const char* name, const char* text, uint32_t type)
    : name_(name ? name : ""), type_(type) {
    if (!IsStringType(type)) throw Exception();
    const char* content = text ? text : "";
    data_.assign(content, content + std::strlen(content) + 1);
}

const char* CRegistryKey::Value::AsString() const {
    if (!text_) text_ = RegistryValueText(type_, data_.data(), Size());
    return text_->c_str();
}
