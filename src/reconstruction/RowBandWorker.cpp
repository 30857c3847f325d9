#include "reconstruction/RowBandWorker.h"

#include "platform/Module.h"
#include "platform/Priority.h"

namespace reconstruction {

RowBandWorker::RowBandWorker(uint32_t minimumProcessors) : minimumProcessors_(minimumProcessors) {}

RowBandWorker::~RowBandWorker() {
    // A process that exits has ended the helper already, perhaps while it
    // held use_.
    if (!platform::ProcessIsExiting()) Stop();
}

bool RowBandWorker::Start() {
    platform::ScopedLock lock(use_);
    if (helper_) return true;
    if (platform::AvailableProcessors() < minimumProcessors_ || !work_.IsValid() ||
        !done_.IsValid())
        return false;
    std::unique_ptr<platform::Thread> helper =
        platform::Thread::CreateSuspended([this] { return HelperBody(); });
    if (!helper || !helper->Resume()) return false;
    helper_ = std::move(helper);
    return true;
}

void RowBandWorker::Stop() {
    platform::ScopedLock lock(use_);
    if (!helper_) return;
    stopping_.store(true, std::memory_order_release);
    work_.Set();
    helper_->Join(platform::kInfinite);
    helper_.reset();
    stopping_.store(false, std::memory_order_release);
    // A helper that ended before it saw its wake-up leaves the event set.
    work_.Reset();
}

bool RowBandWorker::Claim(End end, int32_t& piece) {
    uint64_t taken = taken_.load(std::memory_order_relaxed);
    for (;;) {
        const uint32_t front = static_cast<uint32_t>(taken);
        const uint32_t back = static_cast<uint32_t>(taken >> 32);
        if (int64_t{front} + back >= count_) return false;
        const uint64_t next = end == End::kFront ? taken + 1 : taken + (uint64_t{1} << 32);
        if (taken_.compare_exchange_weak(taken, next, std::memory_order_relaxed)) {
            piece = end == End::kFront ? static_cast<int32_t>(front)
                                       : count_ - 1 - static_cast<int32_t>(back);
            return true;
        }
    }
}

void RowBandWorker::RunClaimedPieces(End end) {
    int32_t piece = 0;
    while (Claim(end, piece)) run_(context_, piece);
}

// The caller may be a capture thread raised so that no frame is lost; it
// waits for the band the helper holds, so the helper runs at its priority.
// A raise the process is not granted leaves the helper as it was.
void RowBandWorker::FollowCallerPriority() {
    const platform::ThreadRef self = platform::CurrentThreadPseudoHandle();
    if (callerPriority_ != platform::kThreadPriorityErrorReturn &&
        callerPriority_ != platform::ThreadPriority(self))
        platform::SetThreadPriority(self, callerPriority_);
}

uint32_t RowBandWorker::HelperBody() {
    platform::NameCurrentThread("vela2 rows");
    for (;;) {
        if (work_.Wait(platform::kInfinite) != platform::WaitStatus::Signaled) return 1;
        if (stopping_.load(std::memory_order_acquire)) return 0;
        // A wake-up whose work the caller finished alone, and took back,
        // finds the state no longer posted.
        int expected = kPosted;
        if (!state_.compare_exchange_strong(expected, kRunning, std::memory_order_acq_rel))
            continue;
        FollowCallerPriority();
        RunClaimedPieces(End::kBack);
        state_.store(kIdle, std::memory_order_release);
        done_.Set();
    }
}

bool RowBandWorker::Running() {
    platform::ScopedLock lock(use_);
    return helper_ != nullptr;
}

void RowBandWorker::RunPieces(int32_t count, PieceFunction run, void* context) {
    if (count <= 0) return;
    if (count > 1) {
        // Another frame on the helper, or a Start or Stop under way: this
        // frame goes alone rather than wait.
        platform::ScopedTryLock lock(use_);
        if (lock.Owns() && helper_) return ShareWithHelper(count, run, context);
    }
    for (int32_t piece = 0; piece < count; ++piece) run(context, piece);
}

void RowBandWorker::ShareWithHelper(int32_t count, PieceFunction run, void* context) {
    run_ = run;
    context_ = context;
    count_ = count;
    callerPriority_ = platform::ThreadPriority(platform::CurrentThreadPseudoHandle());
    taken_.store(0, std::memory_order_relaxed);
    state_.store(kPosted, std::memory_order_release);
    work_.Set();
    RunClaimedPieces(End::kFront);
    // Take the work back if the helper has not begun it; otherwise wait
    // until it has finished the piece it holds.
    int expected = kPosted;
    if (!state_.compare_exchange_strong(expected, kIdle, std::memory_order_acq_rel))
        done_.Wait(platform::kInfinite);
}

RowBandWorker& ProcessRowBandWorker() {
    static RowBandWorker worker;
    return worker;
}

}  // namespace reconstruction
