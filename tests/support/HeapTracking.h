// Counts the program's heap blocks (malloc, calloc, realloc, free are
// wrapped at link time), so tests can check that records are freed exactly once.
#pragma once
#include <stddef.h>

struct HeapCounts {
    long live;        // blocks allocated and not freed
    long frees;       // frees of tracked blocks
    long badFrees;    // frees of pointers that are not live blocks (double frees)
};

HeapCounts GetHeapCounts();

// Makes the next |count| allocations of exactly |size| bytes fail (0 stops it).
void FailAllocationsOfSize(size_t size, int count);
