#pragma once
// The two directions between the INDI event loop and the camera: a worker
// thread runs the library's blocking calls one after another, and a mailbox
// carries their results back into the event loop, which alone touches the
// INDI properties.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace vela2indi {

class Worker {
  public:
    Worker();
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void Post(std::function<void()> job);

  private:
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};

// Delivered through a pipe the event loop watches, so a result reaches the
// loop at once without polling.
class Mailbox {
  public:
    Mailbox();
    ~Mailbox();
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;

    // From any thread; the message runs later on the event loop.
    void Post(std::function<void()> message);

  private:
    static void OnReadable(int fd, void* self);
    void Deliver();

    std::mutex mutex_;
    std::deque<std::function<void()>> messages_;
    int pipe_[2] = {-1, -1};
    int callback_ = -1;
};

}  // namespace vela2indi
