#pragma once
// Simulated time for the camera model. Exposures and the cooler follow this
// clock instead of the wall clock, so a test can run a ten-second exposure at
// once, or step time by hand, and never sleeps for it.
#include <chrono>
#include <cstdint>
#include <mutex>

namespace sim {

class SimClock {
  public:
    // Real time per simulated time: 1 is real time, 0.01 runs a hundred times
    // faster, 0 makes every simulated duration pass at once.
    explicit SimClock(double scale = ScaleFromEnvironment());

    // The scale named by VELA2_SIM_TIME_SCALE (a decimal number >= 0), or 1
    // when it is unset or not such a number.
    static double ScaleFromEnvironment();

    // Time goes on from where it stands now, at the new pace. Negative and
    // non-finite scales are taken as 1.
    void SetScale(double scale);
    // Time stands still until Advance moves it.
    void Freeze();
    void Advance(double milliseconds);

    // True while every simulated duration passes at once (scale 0).
    bool Instant() const;

    // Simulated milliseconds since the clock was made. Thread-safe.
    double NowMs() const;
    // Real milliseconds until simulated time `whenMs`; 0 when it has come,
    // negative when only Advance can bring it (a frozen clock).
    double RealMsUntil(double whenMs) const;

  private:
    using Steady = std::chrono::steady_clock;
    // Simulated ms per real ms; "at once" is a pace no exposure can outlast.
    static double RateOf(double scale);
    double NowLocked() const;

    mutable std::mutex mutex_;
    Steady::time_point anchor_ = Steady::now();
    double anchorMs_ = 0;  // simulated time at anchor_
    double rate_ = 1;      // 0: frozen
};

}  // namespace sim
