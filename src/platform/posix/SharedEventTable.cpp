#include "posix/SharedEventTable.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace shared_events {
namespace {

bool Alive(int32_t pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

// Adding a slot is rare and short; the lock records its holder so a process
// that died holding it cannot block the others.
class AllocatorLock {
  public:
    explicit AllocatorLock(Table& table) : table_(table) {
        int32_t self = getpid();
        for (;;) {
            int32_t holder = 0;
            if (table_.allocator.compare_exchange_strong(holder, self)) return;
            if (!Alive(holder) && table_.allocator.compare_exchange_strong(holder, self)) return;
            sched_yield();
        }
    }
    ~AllocatorLock() { table_.allocator.store(0); }

  private:
    Table& table_;
};

// Caller holds the allocator lock.
void AddOpener(Slot& slot) {
    int32_t self = getpid();
    for (size_t i = 0; i < kOpenersPerSlot; ++i) {
        if (slot.openers[i].load() == self) {
            slot.handles[i].fetch_add(1);
            return;
        }
    }
    for (size_t i = 0; i < kOpenersPerSlot; ++i) {
        int32_t current = slot.openers[i].load();
        if (current == 0 || !Alive(current)) {
            slot.openers[i].store(self);
            slot.handles[i].store(1);
            return;
        }
    }
}

bool AnyOpenerAlive(Slot& slot) {
    for (auto& opener : slot.openers)
        if (Alive(opener.load())) return true;
    return false;
}

}  // namespace

Table* Attach() {
    static Table* table = []() -> Table* {
        // One table per user, as Windows keeps named events per session;
        // VELA2_EVENT_NAMESPACE separates groups of processes further (test
        // runs that must not see each other's cameras).
        std::string name = "/vela2-events-v2." + std::to_string(getuid());
        if (const char* space = std::getenv("VELA2_EVENT_NAMESPACE")) {
            for (const char* c = space; *c && name.size() < 200; ++c)
                name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        }
        int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return nullptr;
        struct stat info {};
        if (fstat(fd, &info) != 0 || (info.st_size < static_cast<off_t>(sizeof(Table)) &&
                                      ftruncate(fd, sizeof(Table)) != 0)) {
            close(fd);
            return nullptr;
        }
        void* mapping = mmap(nullptr, sizeof(Table), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        return mapping == MAP_FAILED ? nullptr : static_cast<Table*>(mapping);
    }();
    return table;
}

Slot* Find(Table& table, const std::string& name, bool create, bool manual, bool initiallySet) {
    if (name.empty() || name.size() > kMaxNameLength) return nullptr;
    AllocatorLock lock(table);
    Slot* freeSlot = nullptr;
    for (Slot& slot : table.slots) {
        bool used = slot.used.load() == 2;
        bool alive = used && AnyOpenerAlive(slot);
        if (used && name == slot.name && (alive || create)) {
            if (!alive) {
                slot.manual.store(manual);
                slot.state.store(initiallySet ? 1 : 0);
            }
            AddOpener(slot);
            return &slot;
        }
        // A slot whose every opener has gone is an event that no longer exists.
        if (!alive && freeSlot == nullptr) freeSlot = &slot;
    }
    if (!create || freeSlot == nullptr) return nullptr;
    freeSlot->used.store(1);
    std::memset(freeSlot->name, 0, sizeof freeSlot->name);
    std::memcpy(freeSlot->name, name.data(), name.size());
    freeSlot->manual.store(manual);
    freeSlot->state.store(initiallySet ? 1 : 0);
    for (size_t i = 0; i < kOpenersPerSlot; ++i) {
        freeSlot->openers[i].store(0);
        freeSlot->handles[i].store(0);
    }
    AddOpener(*freeSlot);
    freeSlot->used.store(2);
    return freeSlot;
}

void Release(Table& table, Slot& slot) {
    AllocatorLock lock(table);
    int32_t self = getpid();
    for (size_t i = 0; i < kOpenersPerSlot; ++i) {
        if (slot.openers[i].load() != self) continue;
        if (slot.handles[i].fetch_sub(1) <= 1) slot.openers[i].store(0);
        return;
    }
}

void Set(Table& table, Slot& slot) {
    slot.state.store(1);
    table.sequence.fetch_add(1);
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&table.sequence), FUTEX_WAKE, INT_MAX, nullptr,
            nullptr, 0);
}

void Reset(Slot& slot) { slot.state.store(0); }

bool TakeIfSet(Slot& slot) {
    if (slot.manual.load()) return slot.state.load() == 1;
    uint32_t set = 1;
    return slot.state.compare_exchange_strong(set, 0);
}

void WaitForChange(Table& table, uint32_t seen, uint32_t timeoutMs) {
    timespec wait{static_cast<time_t>(timeoutMs / 1000),
                  static_cast<long>(timeoutMs % 1000) * 1000000L};
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&table.sequence), FUTEX_WAIT, seen,
            timeoutMs == kInfinite ? nullptr : &wait, nullptr, 0);
}

}  // namespace shared_events
}  // namespace platform
