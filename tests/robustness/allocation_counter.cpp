#include "tests/robustness/allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

// Replaces the global operator new and delete of the test program that links this file. The
// nothrow and array forms of the standard library forward to these; the aligned forms are left
// alone and balance among themselves.

namespace {

std::atomic<std::int64_t> allocations{0};
std::atomic<std::int64_t> releases{0};

void* allocate(std::size_t size) {
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    allocations.fetch_add(1, std::memory_order_relaxed);
    return memory;
}

void release(void* memory) noexcept {
    if (memory != nullptr) {
        releases.fetch_add(1, std::memory_order_relaxed);
        std::free(memory);
    }
}

}  // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void operator delete(void* memory) noexcept {
    release(memory);
}
void operator delete[](void* memory) noexcept {
    release(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    release(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    release(memory);
}

namespace vindelor::test {

AllocationCount allocationCount() {
    return {allocations.load(std::memory_order_relaxed), releases.load(std::memory_order_relaxed)};
}

}  // namespace vindelor::test
