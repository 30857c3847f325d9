#include <windows.h>

#include "platform/MessageSink.h"

namespace platform {
namespace {
class MessageBoxSink : public MessageSink {
  public:
    void Show(const Message& message) override {
        UINT icon = message.icon == MessageIcon::Error         ? MB_ICONERROR
                    : message.icon == MessageIcon::Warning     ? MB_ICONWARNING
                    : message.icon == MessageIcon::Information ? MB_ICONINFORMATION
                                                               : 0;
        MessageBoxA(static_cast<HWND>(message.owner), message.text.c_str(), message.caption.c_str(),
                    MB_OK | icon);
    }
};
}  // namespace

MessageSink& DefaultMessageSink() {
    static MessageBoxSink sink;
    return sink;
}

}  // namespace platform
