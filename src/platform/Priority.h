#pragma once
// Scheduling priority of the process (its priority class) and of a thread
// (its priority relative to the class), in Windows terms.
//
// Outside Windows the kernel has only nice values, one per thread, and the
// main thread's is the application's. The class is kept by the library and
// counts when a thread's priority is set: that thread's nice value becomes
// the class's nice less twice the thread priority (IDLE and TIME_CRITICAL at
// the ends of the nice range). Only the calling thread can be addressed
// there, through the pseudo-handle, and never the main thread. Raising a
// priority needs a privilege the process may not have, and without it a
// lowered priority could not be raised back, so such a lowering is refused
// as well; a refused call fails with access denied and changes nothing. All
// calls are thread-safe and do not block.

#include <cstdint>

namespace platform {

enum : uint32_t {
    kIdlePriorityClass = 0x40,
    kBelowNormalPriorityClass = 0x4000,
    kNormalPriorityClass = 0x20,
    kAboveNormalPriorityClass = 0x8000,
    kHighPriorityClass = 0x80,
    kRealtimePriorityClass = 0x100,
};

enum : int32_t {
    kThreadPriorityIdle = -15,
    kThreadPriorityLowest = -2,
    kThreadPriorityNormal = 0,
    kThreadPriorityHighest = 2,
    kThreadPriorityTimeCritical = 15,
    kThreadPriorityErrorReturn = 0x7FFFFFFF,
};

using ThreadRef = uintptr_t;

// The calling thread, as GetCurrentThread() names it; not to be closed.
ThreadRef CurrentThreadPseudoHandle();

// The process's class; 0 on failure.
uint32_t ProcessPriorityClass();
// False (LastSystemError set) when the class is unknown or not granted.
bool SetProcessPriorityClass(uint32_t priorityClass);

// kThreadPriorityErrorReturn on failure.
int32_t ThreadPriority(ThreadRef thread);
bool SetThreadPriority(ThreadRef thread, int32_t priority);

}  // namespace platform
