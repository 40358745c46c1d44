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

} // namespace FreedMemory
