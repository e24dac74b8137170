// Walk states: one cache-line block of states per thread behind a fiber-local slot.
#include "support/sync/walk_states.h"

#include <windows.h>

#include <new>

namespace walk_states {
namespace {

constexpr std::size_t kCacheLine = 64;

struct alignas(kCacheLine) ThreadBlock {
    alignas(void*) unsigned char states[kStatesPerThread][kStateSize];
    unsigned taken = 0;  // one bit per state
};
static_assert(sizeof(ThreadBlock) == kCacheLine, "a thread's states share one cache line and no other");

// Written once at load and once at unload; constant-initialised, so a walk before the module's statics are made
// (or after they are gone) finds no slot and uses the heap.
DWORD g_slot = FLS_OUT_OF_INDEXES;

// Changes only when a thread makes or frees its block; kept off the line that holds the slot.
struct alignas(kCacheLine) BlockCount {
    volatile LONG value = 0;
};
BlockCount g_blocks;

void WINAPI FreeBlock(void* block) noexcept {
    if (block != nullptr) {
        delete static_cast<ThreadBlock*>(block);
        InterlockedDecrement(&g_blocks.value);
    }
}

// Takes the slot when the module loads; giving it back runs FreeBlock for every thread that still holds a block.
class Slot {
public:
    Slot() noexcept { g_slot = FlsAlloc(FreeBlock); }
    ~Slot() {
        const DWORD slot = g_slot;
        g_slot = FLS_OUT_OF_INDEXES;
        if (slot != FLS_OUT_OF_INDEXES) {
            FlsFree(slot);
        }
    }
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
};
Slot g_slot_owner;

ThreadBlock* BlockOfThread(DWORD slot) noexcept {
    auto* block = static_cast<ThreadBlock*>(FlsGetValue(slot));
    if (block != nullptr) {
        return block;
    }
    block = new (std::nothrow) ThreadBlock();
    if (block == nullptr) {
        return nullptr;
    }
    if (!FlsSetValue(slot, block)) {
        delete block;
        return nullptr;
    }
    InterlockedIncrement(&g_blocks.value);
    return block;
}

}  // namespace

void* Take() noexcept {
    const DWORD slot = g_slot;
    if (slot != FLS_OUT_OF_INDEXES) {
        if (ThreadBlock* block = BlockOfThread(slot)) {
            for (unsigned n = 0; n < kStatesPerThread; ++n) {
                const unsigned bit = 1u << n;
                if ((block->taken & bit) == 0) {
                    block->taken |= bit;
                    return block->states[n];
                }
            }
        }
    }
    return ::operator new(kStateSize, std::nothrow);
}

void Give(void* state) noexcept {
    if (state == nullptr) {
        return;
    }
    const DWORD slot = g_slot;
    if (slot != FLS_OUT_OF_INDEXES) {
        if (auto* block = static_cast<ThreadBlock*>(FlsGetValue(slot))) {
            for (unsigned n = 0; n < kStatesPerThread; ++n) {
                if (state == block->states[n]) {
                    block->taken &= ~(1u << n);
                    return;
                }
            }
        }
    }
    ::operator delete(state);
}

long ThreadBlocks() noexcept { return InterlockedCompareExchange(&g_blocks.value, 0, 0); }

}  // namespace walk_states
