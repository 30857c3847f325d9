#pragma once
// Pixel buffers that end exactly at an inaccessible page (and start right
// after one), so that any access outside them faults at once. POSIX only.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

namespace reconstruction::testing {

class GuardedBuffer {
  public:
    explicit GuardedBuffer(size_t pixels, int protection = PROT_READ | PROT_WRITE) {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        bytes_ = pixels * 2;
        inner_ = (bytes_ + page - 1) / page * page;
        total_ = inner_ + 2 * page;
        void* base = mmap(nullptr, total_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) return;
        base_ = static_cast<uint8_t*>(base);
        if (inner_ != 0) mprotect(base_ + page, inner_, protection);
        data_ = reinterpret_cast<uint16_t*>(base_ + page + inner_ - bytes_);
    }
    ~GuardedBuffer() {
        if (base_) munmap(base_, total_);
    }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    uint16_t* Data() const { return data_; }
    size_t Bytes() const { return bytes_; }

  private:
    uint8_t* base_ = nullptr;
    uint16_t* data_ = nullptr;
    size_t bytes_ = 0, inner_ = 0, total_ = 0;
};

}  // namespace reconstruction::testing
