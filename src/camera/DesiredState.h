#pragma once
// When the capture's state wait ends.

#include <cstdint>

// Traces the set bits of the camera's state byte in order, and is true once
// a bit among 0-5 has been traced while the whole state byte shares a bit
// with the desired mask. Bits 6 and 7 are traced after bit 5 and never end
// the wait by themselves: a state of 0x41 meets a mask of 0x40 (bit 0 is
// set), a state of 0x40 meets nothing.
bool DesiredStateReached(uint8_t state, uint8_t desired);
