#include "settings/CThreadPriority.h"

#include <cstring>

template <typename T>
bool CThreadPriority::TNameTable<T>::Contains(const std::string& name) const {
    for (const auto& entry : entries_)
        if (name == entry.second) return true;
    return false;
}

template <typename T>
T CThreadPriority::TNameTable<T>::Lookup(const std::string& name, T missing) const {
    for (const auto& entry : entries_)
        if (name == entry.second) return entry.first;
    return missing;
}

CThreadPriority::CThreadPrioityMap::CThreadPrioityMap()
    : TNameTable<int32_t>({{-15, "THREAD_PRIORITY_IDLE"},
                           {-2, "THREAD_PRIORITY_LOWEST"},
                           {-1, "THREAD_PRIORITY_BELOW_NORMAL"},
                           {0, "THREAD_PRIORITY_NORMAL"},
                           {1, "THREAD_PRIORITY_ABOVE_NORMAL"},
                           {2, "THREAD_PRIORITY_HIGHEST"},
                           {15, "THREAD_PRIORITY_TIME_CRITICAL"}}) {}

CThreadPriority::CThreadPriorityClassMap::CThreadPriorityClassMap()
    : TNameTable<uint32_t>({{0x40, "IDLE_PRIORITY_CLASS"},
                            {0x4000, "BELOW_NORMAL_PRIORITY_CLASS"},
                            {0x20, "NORMAL_PRIORITY_CLASS"},
                            {0x8000, "ABOVE_NORMAL_PRIORITY_CLASS"},
                            {0x80, "HIGH_PRIORITY_CLASS"},
                            {0x100, "REALTIME_PRIORITY_CLASS"}}) {}

// Built while the library loads, before any thread can ask.
namespace {
const CThreadPriority::CThreadPrioityMap g_threadPriorities;
const CThreadPriority::CThreadPriorityClassMap g_priorityClasses;
}  // namespace

const CThreadPriority::CThreadPrioityMap& CThreadPriority::ThreadPriorities() {
    return g_threadPriorities;
}

const CThreadPriority::CThreadPriorityClassMap& CThreadPriority::PriorityClasses() {
    return g_priorityClasses;
}

bool IsThreadPriorityName(const std::string& name) {
    return CThreadPriority::ThreadPriorities().Contains(name);
}

bool IsPriorityClassName(const std::string& name) {
    return CThreadPriority::PriorityClasses().Contains(name);
}

CThreadPriority::CThreadPriority(const std::string& threadPriorityName, platform::ThreadRef thread,
                                 const std::string& priorityClassName, const std::string& label)
    : ThreadPriority(
          ThreadPriorities().Lookup(threadPriorityName, platform::kThreadPriorityNormal)),
      Thread(thread),
      PriorityClass(PriorityClasses().Lookup(priorityClassName, platform::kNormalPriorityClass)),
      Label(label) {
    SavedPriorityClass = platform::ProcessPriorityClass();
    // The range leaves out BELOW_NORMAL and ABOVE_NORMAL, whose values lie
    // above REALTIME's: with either configured nothing at all is changed.
    if (PriorityClass < 32 || PriorityClass > 256) return;
    platform::SetProcessPriorityClass(PriorityClass);
    if (Thread == 0 || Thread == static_cast<platform::ThreadRef>(-1)) return;
    SavedThreadPriority = platform::ThreadPriority(Thread);
    ThreadPrioritySaved = true;
    if (ThreadPriority >= -15 && ThreadPriority <= 15)
        platform::SetThreadPriority(Thread, ThreadPriority);
}

CThreadPriority::~CThreadPriority() {
    platform::SetProcessPriorityClass(SavedPriorityClass);
    if (ThreadPrioritySaved) platform::SetThreadPriority(Thread, SavedThreadPriority);
}
