#include "HeapTracking.h"

#include <stddef.h>
#include <stdint.h>

extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* block, size_t size);
void __real_free(void* block);
}

namespace {

// An open-addressing set of live blocks in static memory: the tracker must
// not allocate itself.
const size_t kSlots = 1u << 21;
void* g_slots[kSlots];
void* const kTombstone = reinterpret_cast<void*>(1);
HeapCounts g_counts;
size_t g_failSize = 0;
int g_failCount = 0;

bool ShouldFail(size_t size)
{
    if (g_failCount <= 0 || size != g_failSize) return false;
    --g_failCount;
    return true;
}

size_t SlotOf(void* p)
{
    uintptr_t v = reinterpret_cast<uintptr_t>(p);
    v ^= v >> 17;
    v *= 0x9E3779B1u;
    return static_cast<size_t>(v) & (kSlots - 1);
}

void Track(void* p)
{
    if (!p) return;
    for (size_t i = SlotOf(p);; i = (i + 1) & (kSlots - 1)) {
        if (g_slots[i] == nullptr || g_slots[i] == kTombstone) {
            g_slots[i] = p;
            ++g_counts.live;
            return;
        }
    }
}

bool Untrack(void* p)
{
    for (size_t i = SlotOf(p);; i = (i + 1) & (kSlots - 1)) {
        if (g_slots[i] == nullptr) return false;
        if (g_slots[i] == p) {
            g_slots[i] = kTombstone;
            --g_counts.live;
            return true;
        }
    }
}

} // namespace

extern "C" {

void* __wrap_malloc(size_t size)
{
    if (ShouldFail(size)) return nullptr;
    void* p = __real_malloc(size);
    Track(p);
    return p;
}

void* __wrap_calloc(size_t count, size_t size)
{
    void* p = __real_calloc(count, size);
    Track(p);
    return p;
}

void* __wrap_realloc(void* block, size_t size)
{
    void* p = __real_realloc(block, size);
    if (p || size == 0) {
        if (block) Untrack(block);
        Track(p);
    }
    return p;
}

void __wrap_free(void* block)
{
    if (!block) return;
    if (Untrack(block)) ++g_counts.frees;
    else ++g_counts.badFrees;
    __real_free(block);
}

} // extern "C"

HeapCounts GetHeapCounts()
{
    return g_counts;
}

void FailAllocationsOfSize(size_t size, int count)
{
    g_failSize = size;
    g_failCount = count;
}
