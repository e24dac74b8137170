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

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace walk_states {

constexpr std::size_t kStateSize = 16;
constexpr std::size_t kStatesPerThread = 3;

namespace detail {

constexpr std::size_t kCacheLine = 64;

// States are handed out from blocks aligned to a cache line, so that Give finds a state's block from its address
// alone, without a slot lookup. A block from the heap for one walk (deep nesting, no slot, no thread block) says so.
struct alignas(kCacheLine) Block {
    alignas(void*) unsigned char states[kStatesPerThread][kStateSize];
    unsigned taken = 0;  // one bit per state
    bool forOneWalk = false;
    void* allocation = nullptr;  // what the heap gave, for freeing
};
static_assert(sizeof(Block) == kCacheLine, "a thread's states share one cache line and no other");

// The TLS slot; TLS_OUT_OF_INDEXES before the module's statics are made and after they are gone.
extern DWORD g_tls;

// Everything but the thread's free state: its first walk, deep nesting, no slot, no memory.
void* TakeSlowly() noexcept;
void FreeBlock(Block* block) noexcept;

}  // namespace detail

// A state of kStateSize bytes, aligned for pointers; null when no memory can be had. Never throws. Inline, as the
// walk's own code: the thread's free state costs one TLS read.
inline void* Take() noexcept {
    const DWORD tls = detail::g_tls;
    if (tls != TLS_OUT_OF_INDEXES) {
        if (auto* block = static_cast<detail::Block*>(TlsGetValue(tls))) {
            for (unsigned n = 0; n < kStatesPerThread; ++n) {
                const unsigned bit = 1u << n;
                if ((block->taken & bit) == 0) {
                    block->taken |= bit;
                    return block->states[n];
                }
            }
        }
    }
    return detail::TakeSlowly();
}

// Gives back a state from Take on the thread that took it (null is ignored).
inline void Give(void* state) noexcept {
    if (state == nullptr) {
        return;
    }
    auto* block = reinterpret_cast<detail::Block*>(reinterpret_cast<std::uintptr_t>(state) &
                                                   ~static_cast<std::uintptr_t>(detail::kCacheLine - 1));
    if (block->forOneWalk) {
        detail::FreeBlock(block);
        return;
    }
    const auto offset = static_cast<std::size_t>(static_cast<unsigned char*>(state) - block->states[0]);
    block->taken &= ~(1u << (offset / kStateSize));
}

// How many threads hold a block now (for tests and diagnostics; not on the walk's path).
long ThreadBlocks() noexcept;

}  // namespace walk_states
