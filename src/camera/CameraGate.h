#pragma once
// Who may use the camera's device and the state that initialization builds.
// Operations that use them pass the gate together (shared); Close and
// initialization, which free and rebuild them, pass it alone (exclusive),
// once the operations already inside have left. A waiting Close or
// initialization goes before operations that arrive after it, so a busy
// application cannot hold it off.
//
// Nobody may wait inside the gate for work that needs to pass it: that work
// would wait for an exclusive user that waits for it.

#include <condition_variable>
#include <mutex>

class CameraGate {
  public:
    class Shared {
      public:
        explicit Shared(CameraGate& gate) : gate_(gate) { gate_.EnterShared(); }
        ~Shared() { gate_.LeaveShared(); }
        Shared(const Shared&) = delete;
        Shared& operator=(const Shared&) = delete;

      private:
        CameraGate& gate_;
    };

    class Exclusive {
      public:
        explicit Exclusive(CameraGate& gate) : gate_(gate) { gate_.EnterExclusive(); }
        ~Exclusive() { gate_.LeaveExclusive(); }
        Exclusive(const Exclusive&) = delete;
        Exclusive& operator=(const Exclusive&) = delete;

      private:
        CameraGate& gate_;
    };

  private:
    void EnterShared();
    void LeaveShared();
    void EnterExclusive();
    void LeaveExclusive();

    std::mutex mutex_;
    std::condition_variable changed_;
    int sharedUsers_ = 0;
    int exclusiveWaiting_ = 0;
    bool exclusive_ = false;
};
