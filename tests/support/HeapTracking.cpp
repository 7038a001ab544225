// Wraps malloc, calloc, realloc and free (linked with --wrap) to count the
// program's live heap blocks and to make chosen allocations fail.
#include <stddef.h>
#include <stdint.h>

#include "Support.h"

extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* block, size_t size);
void __real_free(void* block);
}

namespace {

// An open-addressing set of live blocks in static memory: the tracker must not allocate.
const size_t kSlots = 1u << 21;
void* g_slots[kSlots];
unsigned g_born[kSlots];  // the allocation number of each live block
unsigned g_allocations = 0;
void* const kTombstone = reinterpret_cast<void*>(1);
long g_badFrees = 0;
size_t g_failSize = 0;
int g_failCount = 0;

size_t SlotOf(void* p)
{
    uintptr_t v = reinterpret_cast<uintptr_t>(p);
    v ^= v >> 17;
    return static_cast<size_t>(v * 0x9E3779B1u) & (kSlots - 1);
}

void Track(void* p)
{
    if (!p) return;
    size_t i = SlotOf(p);
    while (g_slots[i] && g_slots[i] != kTombstone) i = (i + 1) & (kSlots - 1);
    g_slots[i] = p;
    g_born[i] = ++g_allocations;
}

bool Untrack(void* p)
{
    for (size_t i = SlotOf(p); g_slots[i]; i = (i + 1) & (kSlots - 1))
        if (g_slots[i] == p) {
            g_slots[i] = kTombstone;
            return true;
        }
    return false;
}

} // namespace

extern "C" {

void* __wrap_malloc(size_t size)
{
    if (g_failCount > 0 && size == g_failSize) {
        --g_failCount;
        return nullptr;
    }
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
    if (!Untrack(block)) ++g_badFrees;
    __real_free(block);
}

} // extern "C"

long BadFrees()
{
    return g_badFrees;
}

unsigned HeapMark()
{
    return g_allocations;
}

long LiveSince(unsigned mark)
{
    long live = 0;
    for (size_t i = 0; i < kSlots; ++i) live += g_slots[i] && g_slots[i] != kTombstone && g_born[i] > mark;
    return live;
}

void FailAllocationsOfSize(size_t size, int count)
{
    g_failSize = size;
    g_failCount = count;
}
