// Wraps malloc, calloc, realloc and free (linked with --wrap) to know the
// program's live heap blocks, each with its allocation number, and to make
// chosen allocations fail.
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
void* const kTombstone = reinterpret_cast<void*>(1);
void* g_slots[kSlots];
unsigned g_born[kSlots];
unsigned g_allocations = 0;
long g_badFrees = 0;
size_t g_failSize = 0;
int g_failCount = 0;

size_t SlotOf(void* p)
{
    uintptr_t v = reinterpret_cast<uintptr_t>(p);
    return static_cast<size_t>((v ^ (v >> 17)) * 0x9E3779B1u) & (kSlots - 1);
}

void* Track(void* p)
{
    if (!p) return p;
    size_t i = SlotOf(p);
    while (g_slots[i] && g_slots[i] != kTombstone) i = (i + 1) & (kSlots - 1);
    g_slots[i] = p;
    g_born[i] = ++g_allocations;
    return p;
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
    return Track(__real_malloc(size));
}

void* __wrap_calloc(size_t count, size_t size)
{
    return Track(__real_calloc(count, size));
}

void* __wrap_realloc(void* block, size_t size)
{
    void* p = __real_realloc(block, size);
    if ((p || size == 0) && block) Untrack(block);
    return p ? Track(p) : p;
}

void __wrap_free(void* block)
{
    if (block && !Untrack(block)) ++g_badFrees;
    __real_free(block);
}

} // extern "C"

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

long BadFrees()
{
    return g_badFrees;
}

void FailAllocationsOfSize(size_t size, int count)
{
    g_failSize = size;
    g_failCount = count;
}
