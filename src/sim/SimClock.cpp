#include "sim/SimClock.h"

#include <cmath>
#include <cstdlib>

namespace sim {

namespace {
// Simulated ms per real ms when durations are to pass at once: a whole
// 16-bit exposure is over within a microsecond.
constexpr double kInstantRate = 1e9;
}  // namespace

SimClock::SimClock(double scale) : rate_(RateOf(scale)) {}

double SimClock::ScaleFromEnvironment() {
    const char* text = std::getenv("VELA2_SIM_TIME_SCALE");
    if (text == nullptr || *text == '\0') return 1;
    char* end = nullptr;
    const double scale = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(scale) || scale < 0) return 1;
    return scale;
}

double SimClock::RateOf(double scale) {
    if (!std::isfinite(scale) || scale < 0) return 1;
    return scale == 0 ? kInstantRate : 1 / scale;
}

void SimClock::SetScale(double scale) {
    std::lock_guard<std::mutex> lock(mutex_);
    anchorMs_ = NowLocked();
    anchor_ = Steady::now();
    rate_ = RateOf(scale);
}

void SimClock::Freeze() {
    std::lock_guard<std::mutex> lock(mutex_);
    anchorMs_ = NowLocked();
    anchor_ = Steady::now();
    rate_ = 0;
}

void SimClock::Advance(double milliseconds) {
    if (!(milliseconds > 0)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    anchorMs_ += milliseconds;
}

bool SimClock::Instant() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rate_ == kInstantRate;
}

double SimClock::NowMs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return NowLocked();
}

double SimClock::NowLocked() const {
    const double realMs =
        std::chrono::duration<double, std::milli>(Steady::now() - anchor_).count();
    return anchorMs_ + realMs * rate_;
}

double SimClock::RealMsUntil(double whenMs) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const double remaining = whenMs - NowLocked();
    if (remaining <= 0) return 0;
    if (rate_ == 0) return -1;
    return remaining / rate_;
}

}  // namespace sim
