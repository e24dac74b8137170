// What the process holds of the system: its open handles and its private (committed, unshared) memory, measured
// before a run and again after it, so that a soak or a reload loop sees what it kept. Of the private memory, the free
// space inside the heaps is told apart: a heap keeps it committed for later blocks, and under Wine a run of large
// texts of a few hundred kilobytes leaves much of it behind, allocated by nobody. The memory in use is what remains.
#pragma once

#include <cstddef>

namespace equipment {

struct ProcessResources {
    unsigned long handles = 0;
    size_t private_bytes = 0;
    size_t heap_free_bytes = 0;
    size_t InUse() const { return private_bytes > heap_free_bytes ? private_bytes - heap_free_bytes : 0; }
};

// Walks every heap of the process: no other thread may be allocating much meanwhile.
ProcessResources MeasureResources();

}  // namespace equipment
