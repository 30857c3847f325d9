#include "platform/Priority.h"

#include <errno.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <iterator>

#include "platform/Registry.h"
#include "platform/SystemError.h"

namespace platform {
namespace {

constexpr ThreadRef kCurrentThread = static_cast<ThreadRef>(-2);

struct ClassNice {
    uint32_t priorityClass;
    int nice;
};
constexpr ClassNice kClasses[] = {
    {kIdlePriorityClass, 15},        {kBelowNormalPriorityClass, 5}, {kNormalPriorityClass, 0},
    {kAboveNormalPriorityClass, -5}, {kHighPriorityClass, -10},      {kRealtimePriorityClass, -15},
};

// The kernel knows only each thread's nice value; a "process" nice is the
// main thread's, which belongs to the application and is what the threads it
// creates inherit. So the class is kept here and only taken into the nice
// values of threads whose priority is set, and each thread's priority is
// kept beside it. Threads start at normal priority, as they do on Windows.
std::atomic<uint32_t> g_class{0};
thread_local int t_priority = kThreadPriorityNormal;

constexpr int kLowestNice = -20;
constexpr int kHighestNice = 19;

int NiceOfClass(uint32_t priorityClass) {
    for (const ClassNice& entry : kClasses)
        if (entry.priorityClass == priorityClass) return entry.nice;
    return 0;
}

uint32_t ClassOfNice(int nice) {
    const ClassNice* best = &kClasses[0];
    for (const ClassNice& entry : kClasses)
        if (std::abs(entry.nice - nice) < std::abs(best->nice - nice)) best = &entry;
    return best->priorityClass;
}

int ThreadNice(uint32_t priorityClass, int priority) {
    if (priority <= kThreadPriorityIdle) return kHighestNice;
    if (priority >= kThreadPriorityTimeCritical) return kLowestNice;
    return std::clamp(NiceOfClass(priorityClass) - 2 * priority, kLowestNice, kHighestNice);
}

bool ValidThreadPriority(int priority) {
    return priority == kThreadPriorityIdle || priority == kThreadPriorityTimeCritical ||
           (priority >= kThreadPriorityLowest && priority <= kThreadPriorityHighest);
}

// getpriority returns -1 both as a value and as an error.
bool ReadNice(int which, id_t who, int& nice) {
    errno = 0;
    nice = ::getpriority(which, who);
    return !(nice == -1 && errno != 0);
}

void SetAccessDenied() { SetLastSystemError(kErrorAccessDenied); }

bool WriteNice(id_t who, int nice) {
    if (::setpriority(PRIO_PROCESS, who, nice) == 0) return true;
    if (errno == EACCES || errno == EPERM)
        SetAccessDenied();
    else
        SetLastSystemError(kErrorInvalidParameter);
    return false;
}

id_t CurrentThreadId() { return static_cast<id_t>(::syscall(SYS_gettid)); }

bool IsMainThread() { return CurrentThreadId() == static_cast<id_t>(::getpid()); }

// Capabilities belong to each thread: the calling thread's are asked.
bool CallingThreadMayRaiseAnyPriority() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    return (data[CAP_SYS_NICE / 32].effective & (1u << (CAP_SYS_NICE % 32))) != 0;
}

// The lowest nice value the calling thread could set itself to: without the
// privilege, the soft RLIMIT_NICE allows down to 20 minus the limit (an
// ordinary user's limit of 0 allows no way down at all).
int LowestReachableNice() {
    if (CallingThreadMayRaiseAnyPriority()) return kLowestNice;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NICE, &limit) != 0) return kHighestNice + 1;
    if (limit.rlim_cur == RLIM_INFINITY) return kLowestNice;
    const rlim_t range = kHighestNice + 1 - kLowestNice;
    return kHighestNice + 1 - static_cast<int>(std::min(limit.rlim_cur, range));
}

}  // namespace

ThreadRef CurrentThreadPseudoHandle() { return kCurrentThread; }

uint32_t ProcessPriorityClass() {
    if (uint32_t known = g_class.load()) return known;
    int nice = 0;
    if (!ReadNice(PRIO_PROCESS, static_cast<id_t>(::getpid()), nice)) return 0;
    return ClassOfNice(nice);
}

bool SetProcessPriorityClass(uint32_t priorityClass) {
    bool known = std::any_of(std::begin(kClasses), std::end(kClasses),
                             [&](const ClassNice& e) { return e.priorityClass == priorityClass; });
    if (!known) {
        SetLastSystemError(kErrorInvalidParameter);
        return false;
    }
    g_class.store(priorityClass);
    return true;
}

int32_t ThreadPriority(ThreadRef thread) {
    if (thread != kCurrentThread) {
        SetLastSystemError(kErrorInvalidHandle);
        return kThreadPriorityErrorReturn;
    }
    return t_priority;
}

bool SetThreadPriority(ThreadRef thread, int32_t priority) {
    if (thread != kCurrentThread) {
        SetLastSystemError(kErrorInvalidHandle);
        return false;
    }
    if (!ValidThreadPriority(priority)) {
        SetLastSystemError(kErrorInvalidParameter);
        return false;
    }
    // The main thread's nice is the application's (see g_class).
    if (IsMainThread()) {
        SetAccessDenied();
        return false;
    }
    const id_t self = CurrentThreadId();
    int now = 0;
    if (!ReadNice(PRIO_PROCESS, self, now)) {
        SetAccessDenied();
        return false;
    }
    const int wanted = ThreadNice(ProcessPriorityClass(), priority);
    // Without the privilege a nice value, once raised, cannot come down
    // again: a priority lowered for a capture would stay low for good.
    if (wanted > now && now < LowestReachableNice()) {
        SetAccessDenied();
        return false;
    }
    if (wanted != now && !WriteNice(self, wanted)) return false;
    t_priority = priority;
    return true;
}

}  // namespace platform
