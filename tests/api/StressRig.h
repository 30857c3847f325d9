#pragma once
// What the concurrency stress test and the soak share: pictures taken and
// checked against a reference pixel for pixel, and a caller of random exports,
// Close, LD_Initialize and LD_Reset among them, as several application threads
// would make them.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace stress {

// The bundled configuration's mode the rig initializes.
constexpr int kMode = 1;
int32_t Initialize();

// Where a thread shows the call it is in, so that a watchdog can name a call
// that never returns.
struct CallSlot {
    std::atomic<const char*> name{nullptr};
    std::atomic<int64_t> sinceMs{0};
    std::atomic<int64_t> limitMs{0};
    void Enter(const char* call, int64_t limit = 60000);
    void Leave() { name = nullptr; }
};
int64_t NowMs();

struct Picture {
    // Buffers for pictures up to width x height.
    Picture(int32_t width, int32_t height);
    std::vector<std::vector<uint16_t>> images;
    int32_t width, height;

    // Starts a width x height picture into freshly stamped buffers and waits
    // for it: its status once it ended, or why it did not start or end.
    int32_t Take(int32_t pictureWidth, int32_t pictureHeight, CallSlot* slot = nullptr);
    int32_t Take() { return Take(width, height); }
};

// The mode's full picture, taken while nothing else calls in. A smaller
// picture is one corner of it: which one depends on each quadrant's mirroring,
// learnt from a second picture one row and one column smaller.
class Reference {
  public:
    // False when no picture came, or the smaller one is no corner of the full one.
    bool Take();
    // The first wrong pixel; empty when the picture matches.
    std::string Difference(const Picture& picture) const;
    int32_t Width() const { return full_.width; }
    int32_t Height() const { return full_.height; }

  private:
    // Empty when image q is that corner of the full picture's.
    std::string Mismatch(const Picture& picture, int q, bool bottom, bool right) const;
    Picture full_{0, 0};
    bool bottom_[4] = {}, right_[4] = {};
};

enum class Verdict { Right, Failed, Overtaken, Wrong };

class Caller {
  public:
    // One call of the chaos mix; lifecycle calls are rarer than the rest, or
    // no picture would get through.
    void CallSomething(std::mt19937& random, CallSlot* slot = nullptr);

    // Close, LD_Initialize and LD_Reset may leave status 0 for a picture that
    // they ended: they are counted as they start and as they end.
    template <class Call>
    void Lifecycle(Call call) {
        ++started_;
        call();
        ++ended_;
    }

    // Takes a picture and judges it. A wrong picture that a lifecycle call
    // overlapped is overtaken, not wrong.
    Verdict TakeAndCheck(Picture& picture, int32_t width, int32_t height,
                         const Reference& reference, int32_t& status, CallSlot* slot = nullptr);

    // What an application does after a failed picture: initialize a closed
    // camera, reset one that did not arm.
    void Recover(int32_t status);

  private:
    std::atomic<uint64_t> started_{0}, ended_{0};
};

}  // namespace stress
