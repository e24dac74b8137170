// Walk states: one cache-line block of states per thread behind a fiber-local slot.
#include "support/sync/walk_states.h"

#include <windows.h>

#include <cstdint>
#include <new>

namespace walk_states {
namespace {

constexpr std::size_t kCacheLine = 64;

// States are handed out from blocks aligned to a cache line, so that Give finds a state's block from its address
// alone, without the slot. A block from the heap for one walk (deep nesting, no slot, no thread block) says so.
struct alignas(kCacheLine) ThreadBlock {
    alignas(void*) unsigned char states[kStatesPerThread][kStateSize];
    unsigned taken = 0;  // one bit per state
    bool forOneWalk = false;
    void* allocation = nullptr;  // what the heap gave, for freeing
};
static_assert(sizeof(ThreadBlock) == kCacheLine, "a thread's states share one cache line and no other");

ThreadBlock* MakeBlock() noexcept {
    void* allocation = ::operator new(sizeof(ThreadBlock) + kCacheLine - 1, std::nothrow);
    if (allocation == nullptr) {
        return nullptr;
    }
    const auto address = reinterpret_cast<std::uintptr_t>(allocation);
    const std::uintptr_t aligned = (address + kCacheLine - 1) & ~static_cast<std::uintptr_t>(kCacheLine - 1);
    auto* block = new (reinterpret_cast<void*>(aligned)) ThreadBlock();
    block->allocation = allocation;
    return block;
}

void FreeOneBlock(ThreadBlock* block) noexcept { ::operator delete(block->allocation); }

ThreadBlock* BlockOf(void* state) noexcept {
    return reinterpret_cast<ThreadBlock*>(reinterpret_cast<std::uintptr_t>(state) &
                                          ~static_cast<std::uintptr_t>(kCacheLine - 1));
}

// Written once at load and once at unload; constant-initialised, so a walk before the module's statics are made
// (or after they are gone) finds no slot and uses the heap.
DWORD g_slot = FLS_OUT_OF_INDEXES;

// Changes only when a thread makes or frees its block; kept off the line that holds the slot.
struct alignas(kCacheLine) BlockCount {
    volatile LONG value = 0;
};
BlockCount g_blocks;

void WINAPI FreeThreadBlock(void* block) noexcept {
    if (block != nullptr) {
        FreeOneBlock(static_cast<ThreadBlock*>(block));
        InterlockedDecrement(&g_blocks.value);
    }
}

// Takes the slot when the module loads; giving it back runs FreeThreadBlock for every thread that still holds a
// block.
class Slot {
public:
    Slot() noexcept { g_slot = FlsAlloc(FreeThreadBlock); }
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
    block = MakeBlock();
    if (block == nullptr) {
        return nullptr;
    }
    if (!FlsSetValue(slot, block)) {
        FreeOneBlock(block);
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
    ThreadBlock* own = MakeBlock();
    if (own == nullptr) {
        return nullptr;
    }
    own->forOneWalk = true;
    return own->states[0];
}

void Give(void* state) noexcept {
    if (state == nullptr) {
        return;
    }
    ThreadBlock* block = BlockOf(state);
    if (block->forOneWalk) {
        FreeOneBlock(block);
        return;
    }
    const auto offset = static_cast<unsigned char*>(state) - block->states[0];
    block->taken &= ~(1u << (static_cast<std::size_t>(offset) / kStateSize));
}

long ThreadBlocks() noexcept { return InterlockedCompareExchange(&g_blocks.value, 0, 0); }

}  // namespace walk_states
