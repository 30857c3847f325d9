#include <cstdio>

#include "platform/MessageSink.h"

namespace platform {
namespace {
// No desktop to show a box on: the message goes to the error stream, and the
// caller is never held up.
class StderrMessageSink : public MessageSink {
  public:
    void Show(const Message& message) override {
        std::fprintf(stderr, "[%s] %s\n", message.caption.c_str(), message.text.c_str());
    }
};
}  // namespace

MessageSink& DefaultMessageSink() {
    static StderrMessageSink sink;
    return sink;
}

}  // namespace platform
