#pragma once
// Stands in for modal message boxes. The library shows a few messages to the
// user (settings failures, files that cannot be saved); where they go is the
// sink's business, so tests can collect them and servers can log them.

#include <mutex>
#include <string>
#include <vector>

namespace platform {

enum class MessageIcon { None, Information, Warning, Error };

struct Message {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::None;
    // The window the box belongs to (a WindowHandle), or null for none.
    void* owner = nullptr;
};

class MessageSink {
  public:
    virtual ~MessageSink() = default;
    // May be called from any thread. Must return without waiting for a user
    // unless the platform's own message box does.
    virtual void Show(const Message& message) = 0;
};

// Routes a message to the installed sink (the platform default when none).
// owner: the window the message belongs to, or null.
void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                 void* owner = nullptr);

// Installs a sink and returns the previous one; null restores the default.
// The sink must outlive its installation.
MessageSink* SetMessageSink(MessageSink* sink);

// The caption of plain message boxes: the application's title.
const char* ApplicationTitle();

// Keeps every message; for tests and for hosts without a user interface.
class CollectingMessageSink : public MessageSink {
  public:
    void Show(const Message& message) override;
    std::vector<Message> Messages() const;
    void Clear();

  private:
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
};

// Installs a collecting sink for the lifetime of the scope.
class ScopedMessageCapture {
  public:
    ScopedMessageCapture() : previous_(SetMessageSink(&sink_)) {}
    ~ScopedMessageCapture() { SetMessageSink(previous_); }
    std::vector<Message> Messages() const { return sink_.Messages(); }
    void Clear() { sink_.Clear(); }

  private:
    CollectingMessageSink sink_;
    MessageSink* previous_;
};

// The default sink of the platform (stderr on POSIX, a message box on Windows).
MessageSink& DefaultMessageSink();

}  // namespace platform
