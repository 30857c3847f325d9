#pragma once
// The library's diagnostic lines. Operations format a line at each failure or
// notable step; nothing keeps or returns them. They reach the platform's
// debug output when VELA2_TRACE is set in the environment, and a test may
// capture them to see which step an operation took.

#include <memory>
#include <string>
#include <vector>

namespace platform {

// printf-style. Cheap when nobody listens: the line is not even formatted.
// Thread-safe; never blocks for long.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void DebugTrace(const char* format, ...);

// Collects every line traced by any thread while it exists. Captures nest;
// the innermost collects.
class ScopedTraceCapture {
  public:
    ScopedTraceCapture();
    ~ScopedTraceCapture();
    ScopedTraceCapture(const ScopedTraceCapture&) = delete;
    ScopedTraceCapture& operator=(const ScopedTraceCapture&) = delete;

    std::vector<std::string> Lines() const;
    bool Contains(const std::string& text) const;
    void Clear();

    struct State;

  private:
    std::shared_ptr<State> state_;
    std::shared_ptr<State> previous_;
};

// Writes one finished line to the platform's debug output.
void WriteDebugOutput(const std::string& line);

}  // namespace platform
