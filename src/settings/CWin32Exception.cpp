#include "settings/CWin32Exception.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/MessageSink.h"
#include "platform/SystemError.h"

namespace {
constexpr size_t kMessageBufferSize = 512;
char g_messageBuffer[kMessageBufferSize];
std::mutex g_messageMutex;
}  // namespace

const char* CWin32Exception::GetMessage() const {
    std::string text = platform::SystemErrorText(error_);
    std::lock_guard<std::mutex> guard(g_messageMutex);
    size_t length = std::min(text.size(), kMessageBufferSize - 1);
    std::memcpy(g_messageBuffer, text.data(), length);
    g_messageBuffer[length] = '\0';
    return g_messageBuffer;
}

void CWin32Exception::ShowMessage(void* /*owner*/) const {
    platform::ShowMessage(GetMessage(), where_, platform::MessageIcon::Error);
}
