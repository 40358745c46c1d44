#pragma once

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace FreedMemory {

// Hands the memory freed after a large piece of work (an import of tens of
// thousands of accounts) back to the system. The C library keeps freed
// memory for the next allocation, in one pool per thread that worked, so
// without this the program would go on holding what the work took at its
// peak. Costs a few milliseconds; called once such work is done, never in a
// loop.
inline void giveBack() {
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

// One pool of memory for all the program's threads. The C library gives
// each thread that allocates a pool of its own, and memory freed in one pool
// serves only that pool again: an import parsed on one worker thread and
// stored from another would hold the peak of both at once. The program's
// threads allocate little at a time, so sharing one pool costs them nothing
// noticeable. Called first thing in main, before any thread starts.
inline void shareOnePool() {
#if defined(__GLIBC__)
    ::mallopt(M_ARENA_MAX, 1);
#endif
}

} // namespace FreedMemory
