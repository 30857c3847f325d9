#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera/DesiredState.h"
#include "platform/DebugTrace.h"

TEST(DesiredState, TheWholeStateMeetsTheMaskOnceOneOfBits0To5IsSet) {
    struct Case {
        uint8_t state, desired;
        bool reached;
    };
    for (Case c : {Case{0x41, 0x40, true}, Case{0x21, 0x20, true}, Case{0x40, 0x40, false},
                   Case{0xC0, 0xFF, false}, Case{0x01, 0x20, false}, Case{0x00, 0xFF, false}}) {
        EXPECT_EQ(DesiredStateReached(c.state, c.desired), c.reached)
            << std::hex << int{c.state} << " " << int{c.desired};
    }

    platform::ScopedTraceCapture trace;
    EXPECT_TRUE(DesiredStateReached(0x21, 0x21));
    EXPECT_EQ(trace.Lines(),
              (std::vector<std::string>{"Camera state: IDLE.", "Desired Camera state Found"}));
}
