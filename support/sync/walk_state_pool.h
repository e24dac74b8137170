// WalkStatePool: recycles the small blocks that walks over subscriber lists allocate and free.
//
// Every walk allocates its state in Begin and frees it in End, so a plain heap allocation would cost more
// than the walk's locking. The pool keeps a few freed blocks in slots that threads take and give back with
// one interlocked exchange each; a thread uses the slot its ID maps to, so concurrent walkers on different
// threads rarely meet on one slot. A taken slot belongs to the taker alone (exchange, not a list), so blocks
// cannot be handed out twice. When the slot is empty the block comes from the heap; when it is full the
// block goes back to the heap.
#pragma once

#include <cstddef>

namespace walk_state_pool {

constexpr std::size_t kBlockSize = 32;

// A block of kBlockSize bytes, or null when the heap refuses; never throws.
void* Allocate() noexcept;
// Gives back a block from Allocate (null is ignored).
void Free(void* block) noexcept;

}  // namespace walk_state_pool
