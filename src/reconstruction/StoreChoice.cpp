#include "reconstruction/StoreChoice.h"

namespace reconstruction {

StoreKind StoreChoice::Next() {
    const int decided = decided_.load(std::memory_order_acquire);
    if (decided >= 0) return static_cast<StoreKind>(decided);
    std::lock_guard<std::mutex> lock(mutex_);
    // The kind with fewer trials so far; streamed first, since it was the
    // choice before there was a choice.
    return trials_[static_cast<int>(StoreKind::Streamed)] <=
                   trials_[static_cast<int>(StoreKind::Cached)]
               ? StoreKind::Streamed
               : StoreKind::Cached;
}

void StoreChoice::Record(StoreKind kind, int64_t ticks) {
    if (Decided()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (Decided()) return;
    const int k = static_cast<int>(kind);
    ++trials_[k];
    if (ticks < best_[k]) best_[k] = ticks;
    const int cached = static_cast<int>(StoreKind::Cached);
    const int streamed = static_cast<int>(StoreKind::Streamed);
    if (trials_[cached] < kTrialsPerKind || trials_[streamed] < kTrialsPerKind) return;
    // A tie keeps the outputs in the cache, where the caller reads them next.
    const StoreKind faster =
        best_[streamed] < best_[cached] ? StoreKind::Streamed : StoreKind::Cached;
    decided_.store(static_cast<int>(faster), std::memory_order_release);
}

StoreChoice& ProcessStoreChoice() {
    static StoreChoice choice;
    return choice;
}

}  // namespace reconstruction
