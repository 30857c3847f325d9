#pragma once
#include "reconstruction/CopyPlan.h"

namespace reconstruction {

// The common layout: 2 or 4 quadrants interleaved column by column (source
// column stride = quadrant count, first columns below it), all quadrants on
// the same raw rows, outputs forwards or mirrored by single steps, and no
// buffer overlapping another. Such a plan is executed in one pass over the
// raw frame by a vector kernel; anything else returns false untouched.
// Every size is written through the cache, where the application reads the
// images right after (fast/32MiB rows of bench_reconstruction).
bool TryExecuteFastCopy(const CopyPlan& plan, const uint16_t* rawFrame,
                        const PictureBuffers& picture);

}  // namespace reconstruction
