// Walk states: where the walks over subscriber lists keep their state between Begin and End.
//
// Every walk takes a state in Begin and gives it back in End, on the agent's threads, several at once. A heap
// block per walk costs more than the walk's locking, and a shared pool makes every walk an interlocked operation
// on lines that all walking cores write. So each thread keeps its own block of states, one cache line, found
// through one fiber-local slot: a walk on a thread that does not walk already touches only its own line and takes
// no interlocked operation. The block holds a few states so that nested walks (a subscriber that walks another
// list) stay in it; deeper nesting, and a thread whose block could not be made, fall back to the heap.
//
// The slot is taken when the module loads and given back when it unloads; a thread's block is freed when the
// thread ends, and the blocks of threads still running are freed when the slot is given back. A state is given
// back on the thread that took it, as the shared lock it stands for must be.
#pragma once

#include <cstddef>

namespace walk_states {

constexpr std::size_t kStateSize = 16;
constexpr std::size_t kStatesPerThread = 3;

// A state of kStateSize bytes, aligned for pointers; null when no memory can be had. Never throws.
void* Take() noexcept;
// Gives back a state from Take on the thread that took it (null is ignored).
void Give(void* state) noexcept;

// How many threads hold a block now (for tests and diagnostics; not on the walk's path).
long ThreadBlocks() noexcept;

}  // namespace walk_states
