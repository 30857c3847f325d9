#include "camera/DesiredState.h"

#include "platform/DebugTrace.h"

namespace {
// The bits whose trace may end the wait; the camera sets one of them in
// every state that follows a trigger.
constexpr int kBitsThatEndTheWait = 6;

const char* const kStateTraces[8] = {
    "Camera state: IDLE.",      "Camera state: wait for trigger.", "Camera state: exposure reqd.",
    "Camera state: exposure.",  "Camera state: exposure end.",     "Camera state: readout.",
    "Camera state: exposureN.", "Camera state: DigExtInp.",
};
}  // namespace

bool DesiredStateReached(uint8_t state, uint8_t desired) {
    for (int bit = 0; bit < kBitsThatEndTheWait; ++bit) {
        if (!(state & (1u << bit))) continue;
        platform::DebugTrace("%s", kStateTraces[bit]);
        if (state & desired) {
            platform::DebugTrace("Desired Camera state Found");
            return true;
        }
    }
    for (int bit = kBitsThatEndTheWait; bit < 8; ++bit)
        if (state & (1u << bit)) platform::DebugTrace("%s", kStateTraces[bit]);
    return false;
}
