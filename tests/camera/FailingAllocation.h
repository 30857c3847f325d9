#pragma once
// Makes every allocation of the calling thread fail while an object of this
// class lives, so a test can see what an operation does when memory runs
// out. Other threads allocate as usual.

namespace cameratest {

struct ScopedFailingAllocation {
    ScopedFailingAllocation();
    ~ScopedFailingAllocation();
};

}  // namespace cameratest
