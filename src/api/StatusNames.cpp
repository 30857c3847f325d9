#include "api/StatusNames.h"

#include <algorithm>
#include <cstring>

#include "Vela2UsbCameraStatus.h"
#include "platform/Memory.h"

namespace {
struct StatusName {
    int32_t code;
    const char* name;
};

// Only the named codes: 13 is no code at all, and the library's unnamed
// ones (87) answer the empty text as unknown codes do.
#define VELA2_NAMED_STATUS(name, value) {value, #name},
#define VELA2_UNNAMED_STATUS(name, value)
constexpr StatusName kNames[] = {VELA2_STATUS_CODES(VELA2_NAMED_STATUS, VELA2_UNNAMED_STATUS)};
#undef VELA2_NAMED_STATUS
#undef VELA2_UNNAMED_STATUS

constexpr size_t kMaxCopy = 260;
}  // namespace

void FillStatusNames(std::map<int32_t, std::string>& names) {
    for (const StatusName& entry : kNames) names[entry.code] = entry.name;
}

void CopyStatusName(const std::map<int32_t, std::string>& names, int32_t code, char* text) {
    if (text == nullptr) return;
    static const std::string kUnnamed;
    auto found = names.find(code);
    const std::string& name = found == names.end() ? kUnnamed : found->second;
    const size_t length = std::min(name.size() + 1, kMaxCopy);
    if (!platform::IsWritable(text, length)) return;  // refused, not a crash
    std::memcpy(text, name.c_str(), length);
    if (length == kMaxCopy) text[kMaxCopy - 1] = '\0';
}
