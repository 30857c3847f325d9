#include "Worker.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <exception>

#include "indidevapi.h"

namespace vela2indi {

Worker::Worker() : thread_([this] { Run(); }) {}

Worker::~Worker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void Worker::Post(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void Worker::Run() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        try {
            job();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "indi_vela2_ccd: camera job failed: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "indi_vela2_ccd: camera job failed\n");
        }
    }
}

Mailbox::Mailbox() {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) == 0)
        callback_ = IEAddCallback(pipe_[0], &Mailbox::OnReadable, this);
}

Mailbox::~Mailbox() {
    if (callback_ >= 0) IERmCallback(callback_);
    for (int fd : pipe_)
        if (fd >= 0) ::close(fd);
}

void Mailbox::Post(std::function<void()> message) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(std::move(message));
    }
    // A full pipe already holds a wake-up; the loop drains every message.
    char byte = 0;
    if (::write(pipe_[1], &byte, 1) < 0) return;
}

void Mailbox::OnReadable(int fd, void* self) {
    char bytes[64];
    while (::read(fd, bytes, sizeof bytes) > 0) {
    }
    static_cast<Mailbox*>(self)->Deliver();
}

void Mailbox::Deliver() {
    std::deque<std::function<void()>> messages;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        messages.swap(messages_);
    }
    for (auto& message : messages) {
        try {
            message();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "indi_vela2_ccd: %s\n", e.what());
        }
    }
}

}  // namespace vela2indi
