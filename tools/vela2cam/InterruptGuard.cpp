#include "InterruptGuard.h"

#include <signal.h>
#include <time.h>

namespace vela2cam {

namespace {

volatile sig_atomic_t interrupted = 0;
struct sigaction previousInt;
struct sigaction previousTerm;

extern "C" void OnInterrupt(int) { interrupted = 1; }

}  // namespace

InterruptGuard::InterruptGuard() {
    interrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
}

InterruptGuard::~InterruptGuard() {
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
}

bool InterruptGuard::Requested() { return interrupted != 0; }

bool SleepUnlessInterrupted(unsigned ms) {
    const unsigned kStepMs = 20;
    while (ms > 0 && !InterruptGuard::Requested()) {
        unsigned step = ms < kStepMs ? ms : kStepMs;
        struct timespec pause = {0, static_cast<long>(step) * 1000000L};
        nanosleep(&pause, nullptr);
        ms -= step;
    }
    return !InterruptGuard::Requested();
}

}  // namespace vela2cam
