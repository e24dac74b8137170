// What the process holds of the system: its open handles and its private (committed, unshared) memory, measured
// before the soak's objects exist and again after they have all gone. Of the private memory, the free space inside
// the heaps is told apart: a heap keeps it committed for later blocks, and under Wine a run of large texts of a few
// hundred kilobytes leaves much of it behind, allocated by nobody. The memory in use is what remains.
#pragma once

#include <cstddef>

namespace qvhost {

struct ProcessResources {
    unsigned long handles = 0;
    size_t private_bytes = 0;
    size_t heap_free_bytes = 0;
    size_t InUse() const { return private_bytes > heap_free_bytes ? private_bytes - heap_free_bytes : 0; }
};

// Walks every heap of the process: no other thread may be allocating much meanwhile.
ProcessResources MeasureResources();

}  // namespace qvhost
