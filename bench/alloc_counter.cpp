#include "alloc_counter.h"

#include <cstddef>

// glibc's own entry points, which the replacements forward to.
extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *pointer, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *pointer);
}

namespace {

// Initial-exec thread-local storage of the executable: touching it never
// allocates, so the counters are safe inside malloc itself.
thread_local long long tAllocations = 0;
thread_local long long tFrees = 0;

} // namespace

AllocCounter::Counts AllocCounter::current()
{
    Counts counts;
    counts.allocations = tAllocations;
    counts.frees = tFrees;
    return counts;
}

extern "C" {

void *malloc(size_t size)
{
    ++tAllocations;
    return __libc_malloc(size);
}

void *calloc(size_t count, size_t size)
{
    ++tAllocations;
    return __libc_calloc(count, size);
}

void *realloc(void *pointer, size_t size)
{
    ++tAllocations;
    return __libc_realloc(pointer, size);
}

void *memalign(size_t alignment, size_t size)
{
    ++tAllocations;
    return __libc_memalign(alignment, size);
}

void *aligned_alloc(size_t alignment, size_t size)
{
    ++tAllocations;
    return __libc_memalign(alignment, size);
}

int posix_memalign(void **pointer, size_t alignment, size_t size)
{
    ++tAllocations;
    void *p = __libc_memalign(alignment, size);
    if (!p)
        return 12; // ENOMEM
    *pointer = p;
    return 0;
}

void free(void *pointer)
{
    if (pointer)
        ++tFrees;
    __libc_free(pointer);
}

} // extern "C"
