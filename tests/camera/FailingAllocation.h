#pragma once
// Makes every allocation of the calling thread fail while an object of this
// class lives, so a test can see what an operation does when memory runs
// out. Other threads allocate as usual.

namespace cameratest {

class ScopedFailingAllocation {
  public:
    ScopedFailingAllocation();
    ~ScopedFailingAllocation();
    ScopedFailingAllocation(const ScopedFailingAllocation&) = delete;
    ScopedFailingAllocation& operator=(const ScopedFailingAllocation&) = delete;
};

}  // namespace cameratest
