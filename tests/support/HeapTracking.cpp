// Wraps malloc, calloc, realloc and free (linked with --wrap). Each block carries a header with its allocation
// number: the blocks made since a mark and still live are counted, a free of anything else is noticed (and left
// alone). Chosen allocations can be made to fail.
#include <string.h>

#include "Support.h"

extern "C" {
void* __real_malloc(size_t size);
void* __real_realloc(void* block, size_t size);
void __real_free(void* block);
}

namespace {

struct Header { unsigned magic, born, padding[2]; };  // 16 bytes: the block keeps malloc's alignment
const unsigned kLive = 0x4C495645, kFreed = 0x46524545;
unsigned g_allocations = 0, g_mark = 0;
long g_liveSinceMark = 0, g_badFrees = 0;
size_t g_failSize = 0;
int g_failCount = 0;

Header* HeaderOf(void* block)
{
    Header* header = static_cast<Header*>(block) - 1;
    if (header->magic == kLive) return header;
    ++g_badFrees;
    return nullptr;
}

} // namespace

extern "C" {

void* __wrap_malloc(size_t size)
{
    if (g_failCount > 0 && size == g_failSize) {
        --g_failCount;
        return nullptr;
    }
    Header* header = static_cast<Header*>(__real_malloc(size + sizeof(Header)));
    if (!header) return nullptr;
    *header = {kLive, ++g_allocations, {0, 0}};
    ++g_liveSinceMark;
    return header + 1;
}

void* __wrap_calloc(size_t count, size_t size)
{
    void* block = __wrap_malloc(count * size);  // no caller asks for more than fits
    return block ? memset(block, 0, count * size) : nullptr;
}

void __wrap_free(void* block)
{
    Header* header = block ? HeaderOf(block) : nullptr;
    if (!header) return;
    if (header->born > g_mark) --g_liveSinceMark;
    header->magic = kFreed;
    __real_free(header);
}

void* __wrap_realloc(void* block, size_t size)
{
    if (!block) return __wrap_malloc(size);
    if (size == 0) {
        __wrap_free(block);
        return nullptr;
    }
    Header* header = HeaderOf(block);
    if (!header) return nullptr;
    header = static_cast<Header*>(__real_realloc(header, size + sizeof(Header)));
    return header ? header + 1 : nullptr;
}

} // extern "C"

unsigned HeapMark()
{
    g_liveSinceMark = 0;
    return g_mark = g_allocations;
}

long LiveSince(unsigned mark)
{
    return mark == g_mark ? g_liveSinceMark : -1;  // only the latest mark is counted
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
