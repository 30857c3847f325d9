#include "platform/Memory.h"

#include <windows.h>

#include <cstdint>

namespace platform {
namespace {

constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                            PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
constexpr DWORD kWritable =
    PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

// The meaning of IsBadReadPtr/IsBadWritePtr, found by asking the memory
// manager instead of probing: no fault handling and no write to the memory.
bool Accessible(const void* address, size_t size, DWORD wanted) {
    if (size == 0) return true;
    if (address == nullptr) return false;
    uintptr_t cursor = reinterpret_cast<uintptr_t>(address);
    if (size > UINTPTR_MAX - cursor) return false;
    uintptr_t end = cursor + size;
    while (cursor < end) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(reinterpret_cast<void*>(cursor), &info, sizeof info) == 0) return false;
        if (info.State != MEM_COMMIT || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) ||
            (info.Protect & wanted) == 0)
            return false;
        cursor = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    }
    return true;
}

}  // namespace

bool IsReadable(const void* address, size_t size) { return Accessible(address, size, kReadable); }

bool IsWritable(void* address, size_t size) { return Accessible(address, size, kWritable); }

bool AllAccessible(const AccessRange* ranges, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (!Accessible(ranges[i].address, ranges[i].size, ranges[i].write ? kWritable : kReadable))
            return false;
    return true;
}

void* PageAllocate(size_t size) {
    return VirtualAlloc(nullptr, size == 0 ? 1 : size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void PageFree(void* address, size_t) {
    if (address) VirtualFree(address, 0, MEM_RELEASE);
}

}  // namespace platform
