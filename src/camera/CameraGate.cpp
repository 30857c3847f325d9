#include "camera/CameraGate.h"

void CameraGate::EnterShared() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return !exclusive_ && exclusiveWaiting_ == 0; });
    ++sharedUsers_;
}

void CameraGate::LeaveShared() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--sharedUsers_ == 0) changed_.notify_all();
}

void CameraGate::EnterExclusive() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++exclusiveWaiting_;
    changed_.wait(lock, [&] { return !exclusive_ && sharedUsers_ == 0; });
    --exclusiveWaiting_;
    exclusive_ = true;
}

void CameraGate::LeaveExclusive() {
    std::lock_guard<std::mutex> lock(mutex_);
    exclusive_ = false;
    changed_.notify_all();
}
