// The library for an hour or more as a busy application drives it, with a
// camera that misbehaves: one thread takes pictures of random sizes and checks
// every one that succeeds pixel for pixel; two call the other exports, Close,
// LD_Initialize and LD_Reset among them; one breaks the simulated camera's
// transfers, states and frames, and unplugs it now and then. A watchdog ends
// the run when a call does not return. The process's memory, threads and
// descriptors are measured at three quiet points (start, after a warm-up, end),
// where every other thread is parked and the camera is fresh and initialized,
// so that they can be compared.
//
//   soak [MINUTES]   (default 60)
//
// Exit status: 0; 1 on a wrong picture, a camera that stays unusable or growth
// of the process; 2 on a hang.
#include <dirent.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Vela2UsbCameraDll.h"
#include "api/StressRig.h"
#include "camera/ProcessObjects.h"
#include "camera/VendorProtocol.h"
#include "sim/SimulatedCamera.h"

namespace {

using stress::CallSlot;
using stress::NowMs;
using stress::Verdict;

struct Resources {
    long rssKib = 0;
    // What the allocator has handed out and not had back: the resident size
    // also holds what it keeps for reuse, which grows by whole frame buffers
    // as threads come and go and take arenas of their own.
    long heapKib = 0;
    int threads = 0;
    int fds = 0;
};

int CountEntries(const char* folder) {
    DIR* dir = opendir(folder);
    if (!dir) return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    closedir(dir);
    return count;
}

Resources Sample() {
    Resources now;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) now.rssKib = std::atol(line.c_str() + 6);
    const struct mallinfo2 heap = mallinfo2();
    now.heapKib = static_cast<long>((heap.uordblks + heap.hblkhd) / 1024);
    now.threads = CountEntries("/proc/self/task");
    now.fds = CountEntries("/proc/self/fd") - 1;  // the listing's own
    return now;
}

// Where the workers park while the main thread measures the process.
class Gate {
  public:
    // Parks while a pause is asked for; false once the run is over.
    bool Checkpoint() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (paused_) {
            ++parked_;
            changed_.notify_all();
            changed_.wait(lock, [&] { return !paused_; });
            --parked_;
        }
        return !stopping_;
    }
    // Returns once `workers` are parked; `nudge` runs every two seconds
    // meanwhile, to end a capture a worker waits for.
    void Pause(int workers, const std::function<void()>& nudge) {
        std::unique_lock<std::mutex> lock(mutex_);
        paused_ = true;
        while (
            !changed_.wait_for(lock, std::chrono::seconds(2), [&] { return parked_ == workers; })) {
            lock.unlock();
            nudge();
            lock.lock();
        }
    }
    void Resume(bool stop = false) {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = stop;
        paused_ = false;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool paused_ = false, stopping_ = false;
    int parked_ = 0;
};

struct FaultCount {
    uint64_t injected = 0, survived = 0;
};

// What the run saw. A fault counts as survived once a picture started after
// it was injected comes out right.
class Tally {
  public:
    uint64_t FaultsSoFar() {
        std::lock_guard<std::mutex> lock(mutex_);
        return faultSerial_;
    }
    void Fault(const char* kind) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++faults_[kind].injected;
        unsurvived_.push_back({++faultSerial_, kind});
        recent_.push_back({NowMs(), kind});
        if (recent_.size() > 5) recent_.pop_front();
    }
    void Count(Verdict verdict, int32_t status, uint64_t faultsBefore) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++captures_;
        if (verdict == Verdict::Failed) ++failed_[status];
        if (verdict == Verdict::Overtaken) ++overtaken_;
        if (verdict == Verdict::Wrong) ++wrong_;
        if (verdict != Verdict::Right) return;
        ++right_;
        while (!unsurvived_.empty() && unsurvived_.front().first <= faultsBefore) {
            ++faults_[unsurvived_.front().second].survived;
            unsurvived_.pop_front();
        }
    }
    uint64_t Wrong() {
        std::lock_guard<std::mutex> lock(mutex_);
        return wrong_;
    }
    std::string RecentFaults() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string text;
        for (const auto& [at, kind] : recent_)
            text += std::string(text.empty() ? "" : ", ") + kind + " " +
                    std::to_string((NowMs() - at) / 1000) + " s ago";
        return text.empty() ? "none" : text;
    }
    // One line, for progress.
    std::string Line() {
        std::lock_guard<std::mutex> lock(mutex_);
        uint64_t failed = 0, faults = 0, survived = 0;
        for (const auto& [status, count] : failed_) failed += count;
        for (const auto& [kind, count] : faults_)
            faults += count.injected, survived += count.survived;
        char line[256];
        std::snprintf(line, sizeof line,
                      "captures %llu, right %llu, failed %llu, overtaken %llu, wrong %llu, "
                      "faults %llu (survived %llu)",
                      ull(captures_), ull(right_), ull(failed), ull(overtaken_), ull(wrong_),
                      ull(faults), ull(survived));
        return line;
    }
    // The key: value lines of the final report.
    void Summary(FILE* out) {
        std::lock_guard<std::mutex> lock(mutex_);
        uint64_t failed = 0, faults = 0, survived = 0;
        std::string byStatus, byKind;
        for (const auto& [status, count] : failed_) {
            failed += count;
            byStatus += " " + std::to_string(status) + "x" + std::to_string(count);
        }
        for (const auto& [kind, count] : faults_) {
            faults += count.injected, survived += count.survived;
            byKind += " " + kind + " " + std::to_string(count.survived) + "/" +
                      std::to_string(count.injected);
        }
        std::fprintf(out, "captures: %llu\nright: %llu\novertaken: %llu\nfailed: %llu\n",
                     ull(captures_), ull(right_), ull(overtaken_), ull(failed));
        std::fprintf(out, "failed_by_status:%s\nwrong: %llu\n", byStatus.c_str(), ull(wrong_));
        std::fprintf(out, "faults: %llu\nsurvived: %llu\nfaults_survived_by_kind:%s\n", ull(faults),
                     ull(survived), byKind.c_str());
    }

  private:
    static unsigned long long ull(uint64_t n) { return n; }
    std::mutex mutex_;
    uint64_t captures_ = 0, right_ = 0, overtaken_ = 0, wrong_ = 0, faultSerial_ = 0;
    std::map<int32_t, uint64_t> failed_;
    std::map<std::string, FaultCount> faults_;
    std::deque<std::pair<uint64_t, const char*>> unsurvived_;
    std::deque<std::pair<int64_t, const char*>> recent_;
};

class Soak {
  public:
    explicit Soak(double minutes) : minutes_(minutes) {
        Process().ModulePath = std::string(VELA2_TEST_CONFIG_DIR) + "/Vela2UsbCameraDll.so";
        Plug();
    }
    ~Soak() {
        Close();
        Process().ModulePath.clear();
    }

    int Run() {
        std::setvbuf(stdout, nullptr, _IOLBF, 0);
        const int64_t runMs = int64_t(minutes_ * 60000);
        const int64_t warmMs = std::clamp<int64_t>(runMs / 10, 10000, 60000);
        if (stress::Initialize() != CAMERA_SUCCESS || !reference_.Take()) {
            std::printf("no reference picture: the camera does not work before the soak\n");
            return 1;
        }
        picture_ = stress::Picture(reference_.Width(), reference_.Height());
        std::printf("soak of %g minutes, pictures up to %d x %d, warm-up %lld s\n", minutes_,
                    reference_.Width(), reference_.Height(), (long long)(warmMs / 1000));

        std::thread watchdog([&] { Watch(); });
        std::vector<std::thread> workers;
        workers.emplace_back([&] { TakePictures(); });
        for (int n = 0; n < kCallers; ++n) workers.emplace_back([&, n] { CallAround(n); });
        workers.emplace_back([&] { InjectFaults(); });

        const int64_t start = NowMs();
        samples_[0] = QuietPoint();
        bool warm = false;
        for (int64_t nextProgress = start + 60000;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            const int64_t now = NowMs();
            if (now - start >= runMs) break;
            if (!warm && now - start >= warmMs) samples_[1] = QuietPoint(), warm = true;
            if (now >= nextProgress) {
                const Resources r = Sample();
                std::printf("[%3lld min] %s; heap %ld KiB, rss %ld KiB, threads %d, fds %d\n",
                            (long long)((now - start) / 60000), tally_.Line().c_str(), r.heapKib,
                            r.rssKib, r.threads, r.fds);
                nextProgress += 60000;
            }
        }
        if (!warm) samples_[1] = QuietPoint();
        samples_[2] = QuietPoint(/*stop=*/true);
        for (std::thread& worker : workers) worker.join();
        watchdogStop_ = true;
        watchdog.join();
        return Report(false);
    }

  private:
    static constexpr int kCallers = 2;
    static constexpr int kWorkers = kCallers + 2;  // pictures, callers, faults
    enum Slot { kPictures, kFaults, kMain, kCaller0 };

    void Plug() {
        sim::SimulatedCameraOptions options;
        options.clock = std::make_shared<sim::SimClock>(0.0);
        options.controlLatency = sim::SimulatedCamera::kDefaultControlLatency;
        camera_ = sim::SimulatedCamera::Publish(session_.driver(), options);
    }
    void Unplug() { session_.driver().Unplug(camera_.device); }

    // Parks the workers, then starts the camera afresh as an application
    // would after plugging it in again, takes one picture and measures.
    Resources QuietPoint(bool stop = false) {
        gate_.Pause(kWorkers, [&] { caller_.Lifecycle([] { LD_Reset(1); }); });
        CallSlot& slot = slots_[kMain];
        bool usable = false;
        for (int attempt = 0; attempt < 3 && !usable; ++attempt) {
            slot.Enter("Close");
            Close();
            slot.Enter("LD_Initialize");
            Unplug();
            Plug();
            stress::Initialize();
            usable = Shoot(reference_.Width(), reference_.Height(), slot) == Verdict::Right;
            slot.Leave();
        }
        if (!usable) {
            std::printf("the camera took no right picture at a quiet point, fresh and alone\n");
            unusable_ = true;
        }
        const Resources sample = Sample();
        gate_.Resume(stop);
        return sample;
    }

    Verdict Shoot(int32_t width, int32_t height, CallSlot& slot) {
        const uint64_t faultsBefore = tally_.FaultsSoFar();
        int32_t status = 0;
        const Verdict verdict =
            caller_.TakeAndCheck(picture_, width, height, reference_, status, &slot);
        tally_.Count(verdict, status, faultsBefore);
        // The first few tell what went wrong; the count tells the rest.
        if (verdict == Verdict::Wrong && tally_.Wrong() <= 10)
            std::printf("WRONG picture of %d x %d with status 0 (%s); recent faults: %s\n", width,
                        height, reference_.Difference(picture_).c_str(),
                        tally_.RecentFaults().c_str());
        lastStatus_ = status;
        return verdict;
    }

    void TakePictures() {
        std::mt19937 random(1);
        CallSlot& slot = slots_[kPictures];
        int failedInARow = 0;
        while (gate_.Checkpoint()) {
            int32_t width = reference_.Width(), height = reference_.Height();
            if (random() % 8 != 0) width = 1 + random() % width, height = 1 + random() % height;
            if (Shoot(width, height, slot) != Verdict::Failed) {
                failedInARow = 0;
                continue;
            }
            const int32_t status = lastStatus_;
            slot.Enter("recovery after a failed picture");
            caller_.Recover(status);
            // A capture that never ended (its frame held back) is aborted.
            if (status == 21 || status == 22) caller_.Lifecycle([] { LD_Reset(1); });
            // A camera that keeps failing (unplugged and back) is opened again.
            if (++failedInARow % 10 == 0) caller_.Lifecycle([] { Close(), stress::Initialize(); });
            slot.Leave();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    // Paced, so that the lifecycle calls come about once a second each.
    void CallAround(int n) {
        std::mt19937 random(100 + n);
        while (gate_.Checkpoint()) {
            caller_.CallSomething(random, &slots_[kCaller0 + n]);
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 40));
        }
    }

    void InjectFaults() {
        std::mt19937 random(7);
        auto pause = [&](int fromMs, int toMs) {
            std::this_thread::sleep_for(
                std::chrono::milliseconds(fromMs + random() % (toMs - fromMs)));
        };
        CallSlot& slot = slots_[kFaults];
        static constexpr uint8_t kStates[] = {vendor::kIdle, vendor::kWaitForTrigger,
                                              vendor::kExposure, vendor::kReadout};
        while (gate_.Checkpoint()) {
            pause(50, 500);
            sim::SimUsbDevice& device = *camera_.device;
            sim::CameraFirmware& firmware = *camera_.firmware;
            const char* kind = nullptr;
            switch (random() % 17) {
                case 0:
                case 1:
                    kind = "stall-transfer";
                    device.StallNextTransfer();
                    break;
                case 2:
                case 3:
                    kind = "fail-transfer";
                    device.FailNextTransfer(sim::kUsbStatusStall, sim::kDriverStatusUnsuccessful);
                    break;
                case 4:
                case 5:
                    kind = "short-transfer";
                    device.ShortenNextTransfer(random() % 64);
                    break;
                case 6:
                case 7:
                    kind = "fail-control";
                    firmware.FailControlTransfer(1 + random() % 4);
                    break;
                case 8:
                case 9:
                    kind = "short-control";
                    firmware.ShortenControlTransfer(1 + random() % 4, random() % 64);
                    break;
                case 10:
                case 11:
                    kind = "hold-state";
                    firmware.HoldState(kStates[random() % 4]);
                    pause(10, 2000);
                    firmware.ReleaseState();
                    break;
                case 12:
                case 13:
                    kind = "lose-frame";
                    firmware.FailNextFrame();
                    break;
                case 14:
                case 15:
                    kind = "stall-frames";
                    firmware.StallFrames(true);
                    pause(10, 2000);
                    firmware.StallFrames(false);
                    break;
                case 16:
                    kind = "unplug";
                    slot.Enter("SimUsbDriver::Unplug");
                    Unplug();
                    slot.Leave();
                    pause(100, 1000);
                    Plug();
                    break;
            }
            tally_.Fault(kind);
        }
    }

    // A call that outlives its bound ends the run: the process cannot be
    // trusted to finish on its own.
    void Watch() {
        static const char* const kThreads[] = {"picture", "fault", "main", "caller 1", "caller 2"};
        while (!watchdogStop_) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            for (int n = 0; n < kCaller0 + kCallers; ++n) {
                const char* call = slots_[n].name.load();
                const int64_t since = NowMs() - slots_[n].sinceMs.load();
                if (call == nullptr || since <= slots_[n].limitMs.load()) continue;
                std::printf(
                    "HANG: %s on the %s thread has not returned for %.1f s (last status "
                    "%d); recent faults: %s\n",
                    call, kThreads[n], since / 1000.0, int(lastStatus_),
                    tally_.RecentFaults().c_str());
                std::_Exit(Report(true));
            }
        }
    }

    int Report(bool hung) {
        const int64_t slackKib = 2048 + samples_[1].heapKib / 20;
        const bool grew = !hung && (samples_[2].heapKib > samples_[1].heapKib + slackKib ||
                                    samples_[2].threads > samples_[1].threads ||
                                    samples_[2].fds > samples_[1].fds);
        std::printf("minutes: %g\n", minutes_);
        tally_.Summary(stdout);
        std::printf("hangs: %d\n", hung ? 1 : 0);
        std::printf("heap_kib: %ld/%ld/%ld\n", samples_[0].heapKib, samples_[1].heapKib,
                    samples_[2].heapKib);
        std::printf("rss_kib: %ld/%ld/%ld\nthreads: %d/%d/%d\nfds: %d/%d/%d\n", samples_[0].rssKib,
                    samples_[1].rssKib, samples_[2].rssKib, samples_[0].threads,
                    samples_[1].threads, samples_[2].threads, samples_[0].fds, samples_[1].fds,
                    samples_[2].fds);
        std::printf("verdict: %s\n", hung ? "unmeasured" : grew ? "grew" : "flat");
        const bool failed = hung || grew || unusable_ || tally_.Wrong() > 0;
        std::printf("result: %s\n", failed ? "FAIL" : "pass");
        std::fflush(stdout);
        return hung ? 2 : failed ? 1 : 0;
    }

    const double minutes_;
    sim::SimUsbSession session_;
    sim::SimulatedCamera camera_;
    stress::Caller caller_;
    stress::Reference reference_;
    stress::Picture picture_{0, 0};
    Gate gate_;
    Tally tally_;
    CallSlot slots_[kCaller0 + kCallers];
    std::atomic<int32_t> lastStatus_{0};
    std::atomic<bool> watchdogStop_{false};
    bool unusable_ = false;
    Resources samples_[3];
};

}  // namespace

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 60;
    if (!(minutes > 0)) {
        std::fprintf(stderr, "usage: soak [MINUTES]\n");
        return 2;
    }
    return Soak(minutes).Run();
}
