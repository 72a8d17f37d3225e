#pragma once
// Counts C++ heap allocations of the test program while tracking is on, and
// notices a delete of a pointer that is not live (a double free).
#include <cstddef>

struct AllocStats {
    size_t allocations;
    size_t frees;
    size_t badFrees;  // deletes of pointers that were never handed out or are gone
};

void StartAllocTracking();
AllocStats StopAllocTracking();
