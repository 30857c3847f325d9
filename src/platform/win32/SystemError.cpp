#include "platform/SystemError.h"

#include <windows.h>

namespace platform {

uint32_t LastSystemError() { return GetLastError(); }
void SetLastSystemError(uint32_t code) { SetLastError(code); }

bool LookUpSystemErrorText(uint32_t code, std::string& text) {
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) {
        const DWORD failure = GetLastError();
        if (buffer) LocalFree(buffer);
        SetLastError(failure);
        return false;
    }
    text.assign(buffer, length);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return true;
}

std::string SystemErrorText(uint32_t code) {
    std::string text;
    if (LookUpSystemErrorText(code, text) && !text.empty()) return text;
    return "Unknown error " + std::to_string(code) + ".";
}

}  // namespace platform
