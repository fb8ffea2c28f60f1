#ifndef ALLOC_COUNTER_H
#define ALLOC_COUNTER_H

// Counts heap calls made on the calling thread. The benchmark executables
// replace malloc, calloc, realloc and free (operator new and Qt's containers
// end in them), so every allocation of the plug-in and of Qt is seen.
namespace AllocCounter {

struct Counts
{
    long long allocations = 0; // malloc, calloc, realloc, aligned variants
    long long frees = 0;
};

Counts current();

} // namespace AllocCounter

#endif // ALLOC_COUNTER_H
