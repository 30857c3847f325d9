#pragma once
// Ctrl-C (and SIGTERM) while a command runs: the handler only raises a flag;
// the command's loop sees it, stops the camera and ends cleanly.

namespace vela2cam {

class InterruptGuard {
  public:
    InterruptGuard();   // installs the handler
    ~InterruptGuard();  // restores what was there before
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    static bool Requested();
};

// Sleeps up to ms milliseconds in short steps; false when interrupted.
bool SleepUnlessInterrupted(unsigned ms);

}  // namespace vela2cam
