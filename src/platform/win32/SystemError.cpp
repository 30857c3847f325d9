#include "platform/SystemError.h"

#include <windows.h>

namespace platform {

uint32_t LastSystemError() { return GetLastError(); }
void SetLastSystemError(uint32_t code) { SetLastError(code); }

std::string SystemErrorText(uint32_t code) {
    char* buffer = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text(buffer ? buffer : "", length);
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.empty()) text = "Unknown error " + std::to_string(code) + ".";
    return text;
}

}  // namespace platform
