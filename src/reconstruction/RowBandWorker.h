#pragma once
// A second thread that takes a share of the rows of a large frame while the
// thread that asked for the frame copies the rest: one processor core cannot
// keep the memory busy on its own (bench_reconstruction's fast/ rows against
// its one_thread/ rows).
//
// The work comes as numbered pieces (bands of rows). The two threads claim
// pieces from the two ends of one list, so a helper that wakes late, or is
// preempted, only leaves more pieces to the caller; the caller never waits for a
// helper that has not begun, only for the piece a begun helper is copying.
// While it helps, the helper takes the caller's thread priority.

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/Thread.h"

namespace reconstruction {

class RowBandWorker {
  public:
    // Runs piece number `piece` of the work described by context. Must not
    // throw; pieces of one call must touch disjoint memory.
    using PieceFunction = void (*)(void* context, int32_t piece);

    // minimumProcessors: how many processors the process must be allowed to
    // run on before Start makes a helper; a helper on the caller's only
    // processor would just take turns with it.
    explicit RowBandWorker(uint32_t minimumProcessors = 2);
    ~RowBandWorker();
    RowBandWorker(const RowBandWorker&) = delete;
    RowBandWorker& operator=(const RowBandWorker&) = delete;

    // Starts the helper thread unless it runs already or the process may run
    // on fewer processors than the minimum. Allocates and may block briefly:
    // callers start it with the camera, not per frame. True when a helper
    // runs afterwards.
    bool Start();

    // Stops the helper and waits for it to end, after the frame it helps
    // with, if any. Afterwards every piece runs on the calling thread.
    void Stop();

    // Whether a helper thread runs.
    bool Running();

    // Runs pieces 0 to count-1, each exactly once, on the calling thread and
    // on the helper when one runs and no other frame holds it. Returns when
    // every piece has finished. Allocates nothing; blocks only on a piece
    // the helper is running. Safe from any thread.
    void RunPieces(int32_t count, PieceFunction run, void* context);

    // The same for any callable f(int32_t piece); f must outlive the call.
    template <class F>
    void RunPieces(int32_t count, F& f) {
        RunPieces(count, &CallPiece<F>, &f);
    }

  private:
    template <class F>
    static void CallPiece(void* f, int32_t piece) {
        (*static_cast<F*>(f))(piece);
    }

    // Posts the work to the helper, joins in and returns when all is done.
    // Called with use_ held and the helper running.
    void ShareWithHelper(int32_t count, PieceFunction run, void* context);
    // The caller takes pieces from the front and the helper from the back,
    // so that each reads and writes one run of memory while both work; the
    // first to run out of pieces stops where the other has got to.
    enum class End { kFront, kBack };
    bool Claim(End end, int32_t& piece);
    // Claims and runs pieces from one end until none is left.
    void RunClaimedPieces(End end);
    void FollowCallerPriority();
    uint32_t HelperBody();

    enum State { kIdle, kPosted, kRunning };

    const uint32_t minimumProcessors_;
    platform::CriticalSection use_;  // one frame at a time on the helper; Start and Stop
    std::unique_ptr<platform::Thread> helper_;
    platform::Event work_{platform::EventReset::Auto};
    platform::Event done_{platform::EventReset::Auto};
    std::atomic<bool> stopping_{false};
    std::atomic<int> state_{kIdle};

    // The work posted: written before state_ becomes kPosted, read by the
    // helper only after it has moved state_ from kPosted to kRunning.
    PieceFunction run_ = nullptr;
    void* context_ = nullptr;
    int32_t count_ = 0;
    int32_t callerPriority_ = 0;
    // Pieces claimed: from the front in the low half, from the back in the high.
    std::atomic<uint64_t> taken_{0};
};

// The worker every frame of this process shares: its helper is a second
// processor, a property of the machine, not of a camera. The camera stops it
// when it closes, so that no thread of the library outlives the camera.
RowBandWorker& ProcessRowBandWorker();

}  // namespace reconstruction
