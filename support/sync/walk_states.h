// Walk states: where the walks over subscriber lists keep their state between Begin and End.
//
// Every walk takes a state in Begin and gives it back in End, on the agent's threads, several at once. A heap
// block per walk costs more than the walk's locking, and a shared pool makes every walk an interlocked operation
// on lines that all walking cores write. So each thread keeps its own block of states, one cache line, found
// through a TLS slot: a walk on a thread that does not walk already takes its state from its own line, without
// an interlocked operation. The block holds a few states so that nested walks (a subscriber that walks another list)
// stay in it; deeper nesting, and a thread whose block could not be made, fall back to the heap.
//
// The TLS slot and a fiber-local slot, whose callback frees a thread's block when the thread ends, are taken when
// the module loads and given back when it unloads, the blocks of threads still running with them. (A C++ thread_local
// would leave the blocks to the storage of MinGW's statically linked runtime, which is not given back when the module
// unloads.) A state is given back on the thread that took it, as the shared lock it stands for must be.
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
