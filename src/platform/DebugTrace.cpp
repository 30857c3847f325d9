#include "platform/DebugTrace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace platform {

struct ScopedTraceCapture::State {
    mutable std::mutex mutex;
    std::vector<std::string> lines;
};

namespace {
// Held by shared pointer: a thread that took the capture just before it
// ends may still append to it.
std::shared_ptr<ScopedTraceCapture::State> g_capture;
std::atomic<bool> g_capturing{false};

bool OutputEnabled() {
    static const bool enabled = std::getenv("VELA2_TRACE") != nullptr;
    return enabled;
}
}  // namespace

void DebugTrace(const char* format, ...) {
    if (!g_capturing.load(std::memory_order_relaxed) && !OutputEnabled()) return;
    std::shared_ptr<ScopedTraceCapture::State> capture = std::atomic_load(&g_capture);
    if (capture == nullptr && !OutputEnabled()) return;
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (capture != nullptr) {
        std::lock_guard<std::mutex> lock(capture->mutex);
        capture->lines.emplace_back(line);
    }
    if (OutputEnabled()) WriteDebugOutput(line);
}

ScopedTraceCapture::ScopedTraceCapture()
    : state_(std::make_shared<State>()), previous_(std::atomic_exchange(&g_capture, state_)) {
    g_capturing.store(true);
}

ScopedTraceCapture::~ScopedTraceCapture() {
    g_capturing.store(previous_ != nullptr);
    std::atomic_store(&g_capture, previous_);
}

std::vector<std::string> ScopedTraceCapture::Lines() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->lines;
}

bool ScopedTraceCapture::Contains(const std::string& text) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    for (const std::string& line : state_->lines)
        if (line.find(text) != std::string::npos) return true;
    return false;
}

void ScopedTraceCapture::Clear() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->lines.clear();
}

}  // namespace platform
