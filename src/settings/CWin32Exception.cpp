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

// Lookups of what a failed lookup reported: in practice one, for the
// system's "no text for this number" message, which always has a text. The
// bound only keeps a broken message table from holding a thread for ever.
constexpr int kMaxLookups = 8;

std::string MessageText(uint32_t error) {
    uint32_t code = error;
    std::string text;
    for (int lookup = 0; lookup < kMaxLookups; ++lookup) {
        if (platform::LookUpSystemErrorText(code, text)) return text;
        const uint32_t failure = platform::LastSystemError();
        if (failure == code) break;
        code = failure;
    }
    return platform::SystemErrorText(error);
}
}  // namespace

const char* CWin32Exception::GetMessage() const {
    std::string text = MessageText(error_);
    std::lock_guard<std::mutex> guard(g_messageMutex);
    size_t length = std::min(text.size(), kMessageBufferSize - 1);
    std::memcpy(g_messageBuffer, text.data(), length);
    g_messageBuffer[length] = '\0';
    return g_messageBuffer;
}

void CWin32Exception::ShowMessage(void* owner) const {
    platform::ShowMessage(GetMessage(), where_, platform::MessageIcon::Error, owner);
}
