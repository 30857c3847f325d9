#include "platform/Priority.h"

#include <errno.h>
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

// The class last set here and each thread's priority relative to it: the
// kernel knows only nice values, and a thread's nice does not follow the
// class. Threads start at normal priority, as they do on Windows.
std::atomic<uint32_t> g_class{0};
thread_local int t_priority = kThreadPriorityNormal;

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
    if (priority <= kThreadPriorityIdle) return 19;
    if (priority >= kThreadPriorityTimeCritical) return -20;
    return std::clamp(NiceOfClass(priorityClass) - 2 * priority, -20, 19);
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

bool WriteNice(id_t who, int nice) {
    if (::setpriority(PRIO_PROCESS, who, nice) == 0) return true;
    SetLastSystemError((errno == EACCES || errno == EPERM) ? kErrorAccessDenied
                                                           : kErrorInvalidParameter);
    return false;
}

id_t CurrentThreadId() { return static_cast<id_t>(::syscall(SYS_gettid)); }

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
    if (!WriteNice(static_cast<id_t>(::getpid()), NiceOfClass(priorityClass))) return false;
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
    if (!WriteNice(CurrentThreadId(), ThreadNice(ProcessPriorityClass(), priority))) return false;
    t_priority = priority;
    return true;
}

}  // namespace platform
