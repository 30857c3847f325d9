// The program's replacement of the global allocation functions. Every form
// that a sanitizer runtime would otherwise provide is replaced together, so
// that memory always returns to the allocator it came from.

#include <cstdlib>
#include <new>

#include "CameraTestSupport.h"

namespace {
thread_local bool t_failing = false;

void* Allocate(std::size_t size) {
    if (t_failing) return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

void* AllocateOrThrow(std::size_t size) {
    void* memory = Allocate(size);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}
}  // namespace

namespace cameratest {
ScopedFailingAllocation::ScopedFailingAllocation() { t_failing = true; }
ScopedFailingAllocation::~ScopedFailingAllocation() { t_failing = false; }
}  // namespace cameratest

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
