#pragma once
#include "reconstruction/CopyPlan.h"
#include "reconstruction/StoreChoice.h"

namespace reconstruction {

// The common layout: 2 or 4 quadrants interleaved column by column (source
// column stride = quadrant count, first columns below it), all quadrants on
// the same raw rows, outputs forwards or mirrored by single steps, and no
// buffer overlapping another. Such a plan is executed in one pass over the
// raw frame by a vector kernel; anything else returns false untouched.
// Outputs too large for the cache take the stores ProcessStoreChoice picks,
// and report how long they took.
bool TryExecuteFastCopy(const CopyPlan& plan, const uint16_t* rawFrame,
                        const PictureBuffers& picture);

// The same with the stores for large outputs given: the outputs are the
// same either way, only the speed differs.
bool TryExecuteFastCopy(const CopyPlan& plan, const uint16_t* rawFrame,
                        const PictureBuffers& picture, StoreKind largeOutputs);

}  // namespace reconstruction
