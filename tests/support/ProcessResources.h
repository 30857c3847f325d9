#pragma once
// What the test process holds of the system right now: threads, open handles
// or descriptors, and private memory. Tests compare them before and after
// the library has come and gone.

#include <cstdint>

#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
// clang-format on
#else
#include <malloc.h>

#include <filesystem>
#endif

#include "support/Eventually.h"

namespace testsupport {

#ifdef _WIN32
inline int ThreadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}

inline int OpenHandleCount() {
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
}

inline int64_t PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    return K32GetProcessMemoryInfo(GetCurrentProcess(),
                                   reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                   sizeof counters)
               ? static_cast<int64_t>(counters.PrivateUsage)
               : -1;
}
#else
inline int EntriesOf(const char* folder) {
    std::error_code error;
    const auto count = std::distance(std::filesystem::directory_iterator(folder, error), {});
    return error ? -1 : static_cast<int>(count);
}

inline int ThreadCount() { return EntriesOf("/proc/self/task"); }

// Less the one the count itself holds open.
inline int OpenHandleCount() { return EntriesOf("/proc/self/fd") - 1; }

// What the allocator has handed out and not had back. The resident size
// would also count what the allocator keeps for reuse, which depends on
// which threads happened to allocate at once and grows by whole frame
// buffers without anything being lost.
inline int64_t PrivateBytes() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<int64_t>(info.uordblks + info.hblkhd);
}
#endif

// Threads end a little after they were told to, outside anyone's control:
// waits up to five seconds for the count to come back.
inline int ThreadCountSettledAt(int expected) {
    int count = ThreadCount();
    Eventually([&] { return (count = ThreadCount()) == expected; }, std::chrono::seconds(5));
    return count;
}

}  // namespace testsupport
