#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "platform/Priority.h"
#include "reconstruction/RowBandWorker.h"
#include "support/Eventually.h"

namespace reconstruction {
namespace {

// Work whose pieces note how often they ran and on which thread. Plain
// (non-atomic) cells: a piece the caller reads back without the helper's
// writes having happened before shows up under ThreadSanitizer.
struct CountedPieces {
    explicit CountedPieces(int32_t count) : runs(count, 0), threads(count) {}
    void operator()(int32_t piece) {
        ++runs.at(piece);
        threads.at(piece) = std::this_thread::get_id();
    }
    bool EachRanOnce() const {
        return std::all_of(runs.begin(), runs.end(), [](int r) { return r == 1; });
    }
    std::vector<int> runs;
    std::vector<std::thread::id> threads;
};

// A worker that makes a helper on any machine, so that these tests mean the
// same on one processor as on many.
struct StartedWorker {
    StartedWorker() { EXPECT_TRUE(worker.Start()); }
    RowBandWorker worker{1};
};

TEST(RowBandWorker, WithoutAHelperTheCallerRunsEveryPiece) {
    auto runsAlone = [](RowBandWorker& worker, int32_t count) {
        CountedPieces work(count);
        worker.RunPieces(count, work);
        return work.EachRanOnce() && std::count(work.threads.begin(), work.threads.end(),
                                                std::this_thread::get_id()) == count;
    };
    RowBandWorker neverStarted{1};
    EXPECT_TRUE(runsAlone(neverStarted, 7));
    // Nothing to do, or one piece: no hand-over at all.
    StartedWorker started;
    CountedPieces none(1);
    started.worker.RunPieces(0, none);
    EXPECT_EQ(none.runs[0], 0);
    EXPECT_TRUE(runsAlone(started.worker, 1));
    started.worker.Stop();
    EXPECT_FALSE(started.worker.Running());
    EXPECT_TRUE(runsAlone(started.worker, 7));
}

// The caller's first piece waits until the helper has run one, and the
// helper's wait until the caller has begun: the helper must take pieces
// from the other end while the caller is busy, at the caller's priority,
// and the call must not return before the helper's pieces are done.
TEST(RowBandWorker, TheHelperTakesPiecesFromTheOtherEndAtTheCallersPriority) {
    // The caller's priority is lowered on a thread of its own, which ends
    // with it: outside Windows it may not be raised back without the privilege.
    std::thread([] {
        StartedWorker started;
        if (!platform::SetThreadPriority(platform::CurrentThreadPseudoHandle(),
                                         platform::kThreadPriorityLowest))
            GTEST_SKIP() << "this process may not lower a thread's priority";
        constexpr int32_t kPieces = 16;
        CountedPieces counted(kPieces);
        std::atomic<bool> callerBegun{false};
        std::atomic<int> helped{0};
        std::atomic<int32_t> helperPriority{platform::kThreadPriorityNormal};
        const std::thread::id caller = std::this_thread::get_id();
        auto work = [&](int32_t piece) {
            counted(piece);
            if (std::this_thread::get_id() == caller) {
                callerBegun = true;
                if (piece == 0) testsupport::Eventually([&] { return helped > 0; });
            } else {
                testsupport::Eventually([&] { return callerBegun.load(); });
                helperPriority = platform::ThreadPriority(platform::CurrentThreadPseudoHandle());
                ++helped;
            }
        };
        started.worker.RunPieces(kPieces, work);
        ASSERT_TRUE(counted.EachRanOnce());
        ASSERT_GT(helped.load(), 0);
        EXPECT_EQ(counted.threads[0], caller);
        EXPECT_NE(counted.threads[kPieces - 1], caller) << "the helper starts at the back";
        EXPECT_EQ(helperPriority.load(), platform::kThreadPriorityLowest);
    }).join();
}

// Frames from several threads at once while the helper is stopped and started
// again and again: one caller shares the helper, the others go alone; every
// piece of every call runs exactly once, whether the helper joined, came too
// late and was taken back, was busy elsewhere or stopped; Stop waits for the
// frame in flight and Start brings a helper back.
TEST(RowBandWorker, ConcurrentCallersGetEveryPieceOnceWhileTheHelperStopsAndStarts) {
    StartedWorker started;
    std::atomic<int> failures{0}, done{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 3; ++t)
        callers.emplace_back([&, t] {
            for (int round = 0; round < 300; ++round) {
                const int32_t count = 1 + (round * 7 + t) % 23;
                CountedPieces work(count);
                started.worker.RunPieces(count, work);
                failures += !work.EachRanOnce();
            }
            ++done;
        });
    for (int cycle = 0; cycle < 50 || done < 3; ++cycle) {
        started.worker.Stop();
        EXPECT_TRUE(started.worker.Start());
    }
    for (std::thread& caller : callers) caller.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_TRUE(started.worker.Running());
}

}  // namespace
}  // namespace reconstruction
