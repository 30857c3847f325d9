#include "platform/Memory.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>

#include "platform/SystemError.h"
#include "posix/ErrnoMapping.h"
#include "posix/MemoryMaps.h"

namespace platform {
namespace {

enum class Access { Read, Write };

struct Range {
    uintptr_t cursor;  // first byte not yet known to be accessible
    uintptr_t end;
    Access access;
    bool done = false;
    bool ok = false;
};

uintptr_t ParseHex(const char*& p, const char* end) {
    uintptr_t value = 0;
    for (; p < end; ++p) {
        char c = *p;
        int digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
        if (digit < 0) break;
        value = value * 16 + static_cast<uintptr_t>(digit);
    }
    return value;
}

// One line of /proc/self/maps: "start-end perms ...". The kernel lists the
// mappings in address order, so one pass decides.
void Consume(Range& range, const char* line, const char* end) {
    if (range.done) return;
    const char* p = line;
    uintptr_t start = ParseHex(p, end);
    if (p >= end || *p != '-') return;
    ++p;
    uintptr_t stop = ParseHex(p, end);
    if (end - p < 3) return;
    bool readable = p[1] == 'r';
    bool writable = p[2] == 'w';
    if (stop <= range.cursor) return;
    if (start > range.cursor) {  // a hole before the rest of the range
        range.done = true;
        return;
    }
    bool allowed = range.access == Access::Read ? readable : writable;
    if (!allowed) {
        range.done = true;
        return;
    }
    range.cursor = stop;
    if (range.cursor >= range.end) {
        range.done = true;
        range.ok = true;
    }
}

// Sets up one range; false when it cannot be accessible whatever is mapped.
bool Prepare(Range& range, const void* address, size_t size, Access access) {
    range.access = access;
    uintptr_t begin = reinterpret_cast<uintptr_t>(address);
    range.cursor = begin;
    range.end = begin + size;
    range.done = size == 0;
    range.ok = size == 0;
    if (size == 0) return true;
    return address != nullptr && size <= UINTPTR_MAX - begin;
}

// One pass over the text of /proc/self/maps decides every range.
bool AllInMapsText(int fd, Range* ranges, size_t count, size_t open_ranges) {
    char buffer[16384];
    size_t held = 0;
    while (open_ranges != 0) {
        ssize_t got = read(fd, buffer + held, sizeof buffer - held);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        held += static_cast<size_t>(got);
        char* line = buffer;
        char* stop = buffer + held;
        while (char* newline = static_cast<char*>(memchr(line, '\n', stop - line))) {
            for (size_t i = 0; i < count; ++i) {
                if (ranges[i].done) continue;
                Consume(ranges[i], line, newline);
                if (ranges[i].done) --open_ranges;
            }
            line = newline + 1;
        }
        held = static_cast<size_t>(stop - line);
        if (held == sizeof buffer) held = 0;  // an absurdly long line: drop it
        memmove(buffer, line, held);
    }
    for (size_t i = 0; i < count; ++i)
        if (!ranges[i].ok) return false;
    return true;
}

// The binary query of one mapping that kernels since 6.11 answer on a
// /proc/<pid>/maps descriptor. Declared here because older system headers
// lack it; the layout is fixed by the kernel's interface.
struct MappingQuery {
    uint64_t size;
    uint64_t queryFlags;
    uint64_t queryAddress;
    uint64_t start;
    uint64_t end;
    uint64_t flags;
    uint64_t pageSize;
    uint64_t offset;
    uint64_t inode;
    uint32_t deviceMajor;
    uint32_t deviceMinor;
    uint32_t nameSize;
    uint32_t buildIdSize;
    uint64_t nameAddress;
    uint64_t buildIdAddress;
};
static_assert(sizeof(MappingQuery) == 104, "the kernel's query layout");
constexpr unsigned long kMappingQueryRequest = 0xC0686611;  // _IOWR('f', 17, 104 bytes)
constexpr uint64_t kMappingReadable = 0x01;
constexpr uint64_t kMappingWritable = 0x02;

// One mapping the kernel described: [start, end) with its protection.
struct Mapping {
    uint64_t start;
    uint64_t end;
    uint64_t flags;
};

// The first mappings described in one check. Buffers handed to one call
// often lie in one mapping (the kernel merges neighbouring anonymous
// mappings), so most ranges are decided without asking again; beyond the
// first few, mappings are simply asked for again.
struct Described {
    static constexpr size_t kCapacity = 8;
    Mapping seen[kCapacity];
    size_t count = 0;

    const Mapping* Find(uint64_t address) const {
        for (size_t i = 0; i < count; ++i)
            if (seen[i].start <= address && address < seen[i].end) return &seen[i];
        return nullptr;
    }
    void Add(const Mapping& mapping) {
        if (count < kCapacity) seen[count++] = mapping;
    }
};

enum class QueryOutcome { Found, Nothing, Unsupported };

QueryOutcome QueryMapping(int fd, uint64_t address, Mapping& mapping) {
    for (;;) {
        MappingQuery query{};
        query.size = sizeof query;
        query.queryAddress = address;
        if (ioctl(fd, kMappingQueryRequest, &query) == 0) {
            mapping = {query.start, query.end, query.flags};
            return QueryOutcome::Found;
        }
        if (errno == EINTR) continue;
        return errno == ENOENT ? QueryOutcome::Nothing : QueryOutcome::Unsupported;
    }
}

// Asks the kernel for the mapping under each range's cursor until the range
// is covered or a gap or a protection stops it: a few microseconds where
// generating the whole text takes tens. False, with errno set, when the
// query fails; the ranges decided so far stay decided.
bool AllInMapsQuery(int fd, Range* ranges, size_t count, bool& all_ok) {
    all_ok = true;
    Described described;
    for (size_t i = 0; i < count; ++i) {
        Range& range = ranges[i];
        while (!range.done) {
            Mapping mapping;
            if (const Mapping* known = described.Find(range.cursor)) {
                mapping = *known;
            } else {
                const QueryOutcome outcome = QueryMapping(fd, range.cursor, mapping);
                if (outcome == QueryOutcome::Unsupported) return false;
                if (outcome == QueryOutcome::Nothing) {
                    range.done = true;  // nothing mapped at the cursor
                    break;
                }
                described.Add(mapping);
            }
            const uint64_t wanted =
                range.access == Access::Read ? kMappingReadable : kMappingWritable;
            if ((mapping.flags & wanted) == 0 || mapping.start > range.cursor ||
                mapping.end <= range.cursor) {
                range.done = true;
                break;
            }
            range.cursor = static_cast<uintptr_t>(mapping.end);
            if (mapping.end >= range.end) range.done = range.ok = true;
        }
        all_ok = all_ok && range.ok;
    }
    return true;
}

// Whether this kernel answers the binary query; learned on first use.
std::atomic<bool> g_queryUnsupported{false};
std::atomic<bool> g_queryAllowed{true};

// The mapping list descriptor the queries go to, kept open for the life of
// the process: opening it costs more than the queries of a whole frame's
// buffers. It names the process that opened it, so a child made by fork
// opens its own. Held as one word (descriptor, owner) so that no lock can
// be left held across a fork. The queries share it safely: each is one
// stateless ioctl. The word is a plain atomic, usable until the library is
// unmapped: an unload closes the descriptor and retires the word, and checks
// made later in the unload (the camera shutting down after this file's
// objects are gone) open descriptors of their own instead of one nobody
// would close.
class QueryDescriptor {
  public:
    // A descriptor on this process's mapping list; -1 when none opens.
    static int Get() {
        const pid_t self = getpid();
        uint64_t held = packed_.load(std::memory_order_acquire);
        if (held == kRetired) return -1;
        if (held != 0 && Owner(held) == self) return Fd(held);
        const int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
        if (fd < 0) return -1;
        // A descriptor inherited from the parent is dropped, not closed: the
        // child may have closed it and reused its number already.
        if (packed_.compare_exchange_strong(held, Pack(fd, self), std::memory_order_acq_rel))
            return fd;
        close(fd);  // another thread opened one first, or the unload retired it
        return held != kRetired && Owner(held) == self ? Fd(held) : -1;
    }

    // Forgets fd, which the caller closed behind our back; its number may
    // name one of the caller's files by now, so it is never closed here.
    static void Forget(int fd) {
        uint64_t held = Pack(fd, getpid());
        packed_.compare_exchange_strong(held, 0, std::memory_order_acq_rel);
    }

    static void Retire() {
        const uint64_t held = packed_.exchange(kRetired);
        if (held != 0 && held != kRetired && Owner(held) == getpid()) close(Fd(held));
    }

  private:
    static constexpr uint64_t kRetired = ~uint64_t{0};
    static uint64_t Pack(int fd, pid_t owner) {
        return static_cast<uint64_t>(static_cast<uint32_t>(owner)) << 32 |
               static_cast<uint32_t>(fd);
    }
    static int Fd(uint64_t packed) { return static_cast<int>(static_cast<uint32_t>(packed)); }
    static pid_t Owner(uint64_t packed) { return static_cast<pid_t>(packed >> 32); }

    static inline std::atomic<uint64_t> packed_{0};
};

struct RetireQueryDescriptorAtUnload {
    ~RetireQueryDescriptorAtUnload() { QueryDescriptor::Retire(); }
} g_retireQueryDescriptor;

// Reads the text of the mapping list from a descriptor of its own: the
// text is read sequentially and cannot share a file position.
bool AllInMapsTextFile(Range* ranges, size_t count) {
    size_t open_ranges = 0;
    for (size_t i = 0; i < count; ++i) open_ranges += ranges[i].done ? 0 : 1;
    const int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool all_ok = AllInMapsText(fd, ranges, count, open_ranges);
    close(fd);
    return all_ok;
}

// Decides every range with one look at the address space.
bool AllInMaps(Range* ranges, size_t count) {
    bool any_open = false;
    for (size_t i = 0; i < count; ++i) any_open = any_open || !ranges[i].done;
    if (!any_open) return true;

    const bool query = g_queryAllowed.load(std::memory_order_relaxed) &&
                       !g_queryUnsupported.load(std::memory_order_relaxed);
    // A descriptor closed behind our back is replaced once; any other
    // failure means this kernel does not answer the query.
    for (int attempt = 0; query && attempt < 2; ++attempt) {
        const int fd = QueryDescriptor::Get();
        if (fd < 0) break;
        bool all_ok = false;
        if (AllInMapsQuery(fd, ranges, count, all_ok)) return all_ok;
        if (errno != EBADF) {
            g_queryUnsupported.store(true, std::memory_order_relaxed);
            break;
        }
        QueryDescriptor::Forget(fd);
    }
    // A query may have decided some ranges and advanced the cursors of
    // others; the text pass goes on from there.
    return AllInMapsTextFile(ranges, count);
}

bool Accessible(const void* address, size_t size, Access access) {
    Range range{};
    if (!Prepare(range, address, size, access)) return false;
    return AllInMaps(&range, 1);
}

}  // namespace

namespace posix {
void SetMappingQueryAllowed(bool allowed) {
    g_queryAllowed.store(allowed, std::memory_order_relaxed);
}
}  // namespace posix

bool IsReadable(const void* address, size_t size) {
    return Accessible(address, size, Access::Read);
}

bool IsWritable(void* address, size_t size) { return Accessible(address, size, Access::Write); }

bool AllAccessible(const AccessRange* ranges, size_t count) {
    constexpr size_t kBatch = 16;
    for (size_t first = 0; first < count; first += kBatch) {
        Range batch[kBatch] = {};
        const size_t n = count - first < kBatch ? count - first : kBatch;
        for (size_t i = 0; i < n; ++i) {
            const AccessRange& r = ranges[first + i];
            if (!Prepare(batch[i], r.address, r.size, r.write ? Access::Write : Access::Read))
                return false;
        }
        if (!AllInMaps(batch, n)) return false;
    }
    return true;
}

void* PageAllocate(size_t size) {
    if (size == 0) size = 1;
    void* pages = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) {
        SetLastSystemError(WindowsErrorFromErrno(errno));
        return nullptr;
    }
    return pages;
}

void PageFree(void* address, size_t size) {
    if (address == nullptr) return;
    munmap(address, size == 0 ? 1 : size);
}

}  // namespace platform
