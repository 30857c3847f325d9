#pragma once
// Pointer accessibility tests and the page allocator.

#include <cstddef>

namespace platform {

// True when every byte of [address, address + size) can be read (or written)
// without a fault right now: the pages are mapped with the needed protection.
// A size of 0 is always accessible; a null address with a size never is.
// Never touches the memory, so a check has no side effects on its contents.
bool IsReadable(const void* address, size_t size);
bool IsWritable(void* address, size_t size);

struct AccessRange {
    const void* address;
    size_t size;
    bool write;  // false: readable is enough
};
// True when every range passes IsReadable or IsWritable. Decides them all in
// one look at the address space, where each look is costly (POSIX asks the
// process's mapping list, through a descriptor it keeps open from the first
// check on). Allocates nothing; never touches the memory; thread-safe.
bool AllAccessible(const AccessRange* ranges, size_t count);

// Zero-filled read-write pages of at least size bytes straight from the
// system; null on failure, with the reason in LastSystemError().
void* PageAllocate(size_t size);
// Releases what PageAllocate returned, given the same size. Null is ignored.
void PageFree(void* address, size_t size);

}  // namespace platform
