#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "reconstruction/StoreChoice.h"

namespace reconstruction {
namespace {

constexpr StoreKind kCached = StoreKind::Cached;
constexpr StoreKind kStreamed = StoreKind::Streamed;

// Runs the trials, giving each kind the times in its list in turn; returns
// the choice.
StoreKind Decide(StoreChoice& choice, std::vector<int64_t> streamed, std::vector<int64_t> cached) {
    size_t s = 0, c = 0;
    while (!choice.Decided()) {
        const StoreKind kind = choice.Next();
        choice.Record(kind, kind == kStreamed ? streamed.at(s++) : cached.at(c++));
    }
    return choice.Next();
}

// The faster kind by its best trial, whichever kind it is; one frame slowed
// by something else (first writes to fresh pages) does not decide; a tie
// keeps the cache; once made, the choice stays.
TEST(StoreChoice, TakesTheKindWithTheFasterBestTrial) {
    StoreChoice streamedFaster;
    EXPECT_EQ(Decide(streamedFaster, {900, 80, 85}, {100, 95, 99}), kStreamed);
    for (int i = 0; i < 10; ++i) streamedFaster.Record(kStreamed, 1000);
    EXPECT_EQ(streamedFaster.Next(), kStreamed);
    StoreChoice cachedFaster;
    EXPECT_EQ(Decide(cachedFaster, {100, 95, 99}, {900, 80, 85}), kCached);
    StoreChoice tie;
    EXPECT_EQ(Decide(tie, {50, 60, 70}, {70, 60, 50}), kCached);
}

// Frames reconstructed on several threads at once share the one choice.
TEST(StoreChoice, ThreadsShareOneChoice) {
    StoreChoice choice;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&choice] {
            for (int i = 0; i < 200; ++i) {
                const StoreKind kind = choice.Next();
                choice.Record(kind, kind == kCached ? 5 : 7);
            }
        });
    for (std::thread& thread : threads) thread.join();
    ASSERT_TRUE(choice.Decided());
    EXPECT_EQ(choice.Next(), kCached);
}

}  // namespace
}  // namespace reconstruction
