#pragma once

#include <cstdint>

namespace vindelor::test {

// Counts the program's plain operator new and delete calls (allocation_counter.cpp replaces
// them), so that a test can tell whether a long run keeps taking memory. Thread-safe.
struct AllocationCount {
    std::int64_t allocations = 0;
    std::int64_t releases = 0;
    std::int64_t live() const { return allocations - releases; }
};

AllocationCount allocationCount();

}  // namespace vindelor::test
