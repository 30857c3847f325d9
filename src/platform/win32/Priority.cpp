#include "platform/Priority.h"

#include <windows.h>

namespace platform {

ThreadRef CurrentThreadPseudoHandle() { return reinterpret_cast<ThreadRef>(GetCurrentThread()); }

uint32_t ProcessPriorityClass() { return ::GetPriorityClass(GetCurrentProcess()); }

bool SetProcessPriorityClass(uint32_t priorityClass) {
    return ::SetPriorityClass(GetCurrentProcess(), priorityClass) != FALSE;
}

int32_t ThreadPriority(ThreadRef thread) {
    return ::GetThreadPriority(reinterpret_cast<HANDLE>(thread));
}

bool SetThreadPriority(ThreadRef thread, int32_t priority) {
    return ::SetThreadPriority(reinterpret_cast<HANDLE>(thread), priority) != FALSE;
}

}  // namespace platform
