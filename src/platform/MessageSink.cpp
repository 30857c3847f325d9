#include "platform/MessageSink.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<MessageSink*> g_sink{nullptr};
}

void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                 void* owner) {
    MessageSink* sink = g_sink.load();
    (sink ? *sink : DefaultMessageSink()).Show(Message{text, caption, icon, owner});
}

MessageSink* SetMessageSink(MessageSink* sink) { return g_sink.exchange(sink); }

const char* ApplicationTitle() { return "Vela2UsbCameraDll"; }

void CollectingMessageSink::Show(const Message& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(message);
}

std::vector<Message> CollectingMessageSink::Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

void CollectingMessageSink::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.clear();
}

}  // namespace platform
