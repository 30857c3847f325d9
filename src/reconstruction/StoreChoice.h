#pragma once
// Which stores copy the frames too large for the cache faster on this
// machine: streamed ones, which bypass the cache on their way to memory, or
// ordinary cached ones. Processors disagree by a wide margin (on 32 MiB
// frames streamed stores ran half again as fast on one machine and a fifth
// to a half slower on another), so no fixed rule serves them all: the first
// such frames try both kinds in turn, and the rest take the faster.

#include <atomic>
#include <cstdint>
#include <mutex>

namespace reconstruction {

enum class StoreKind { Cached, Streamed };

class StoreChoice {
  public:
    // Trials of each kind before the choice is made: the best of them
    // counts, so that a frame slowed by something else (the first writes
    // into freshly mapped pages, another program) does not decide.
    static constexpr int kTrialsPerKind = 3;

    // The kind the next large frame is to use: each in turn while trying,
    // then the faster. Never blocks on a copy; safe from any thread.
    StoreKind Next();

    // How long a large frame took with kind, in ticks of any one clock.
    // Ignored once the choice is made.
    void Record(StoreKind kind, int64_t ticks);

    // Whether the trials are over.
    bool Decided() const { return decided_.load(std::memory_order_acquire) >= 0; }

  private:
    std::atomic<int> decided_{-1};  // -1 while trying, else the chosen StoreKind
    std::mutex mutex_;              // guards what follows
    int trials_[2] = {};
    int64_t best_[2] = {INT64_MAX, INT64_MAX};
};

// The choice every frame of this process shares: it is a property of the
// machine, not of a camera.
StoreChoice& ProcessStoreChoice();

}  // namespace reconstruction
