// Walk states: one cache-line block of states per thread, found through a TLS slot and freed through a fiber-local one.
#include "support/sync/walk_states.h"

#include <windows.h>

#include <cstdint>
#include <new>

namespace walk_states {
namespace {

constexpr std::size_t kCacheLine = 64;

// States are handed out from blocks aligned to a cache line, so that Give finds a state's block from its address
// alone, without a slot lookup. A block from the heap for one walk (deep nesting, no slot, no thread block) says so.
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

// The thread's block is found through a TLS slot, the cheapest per-thread lookup; a fiber-local slot holds the same
// pointer only for its callback, which frees the block when the thread ends, and for every thread still holding one
// when the slot is given back at unload. Both are written once at load and once at unload, and are
// constant-initialised, so a walk before the module's statics are made (or after they are gone) finds no slot and
// uses the heap.
DWORD g_tls = TLS_OUT_OF_INDEXES;
DWORD g_fls = FLS_OUT_OF_INDEXES;

// Changes only when a thread makes or frees its block; kept off the line that holds the slots.
struct alignas(kCacheLine) BlockCount {
    volatile LONG value = 0;
};
BlockCount g_blocks;

void WINAPI FreeThreadBlock(void* block) noexcept {
    if (block == nullptr) {
        return;
    }
    // On the ending thread the TLS value goes too, so that nothing later on that thread finds the freed block.
    if (g_tls != TLS_OUT_OF_INDEXES && TlsGetValue(g_tls) == block) {
        TlsSetValue(g_tls, nullptr);
    }
    FreeOneBlock(static_cast<ThreadBlock*>(block));
    InterlockedDecrement(&g_blocks.value);
}

// Takes both slots when the module loads and gives them back when it unloads, the blocks first.
class Slots {
public:
    Slots() noexcept {
        const DWORD tls = TlsAlloc();
        const DWORD fls = FlsAlloc(FreeThreadBlock);
        if (tls == TLS_OUT_OF_INDEXES || fls == FLS_OUT_OF_INDEXES) {
            Free(tls, fls);
            return;
        }
        g_fls = fls;
        g_tls = tls;
    }
    ~Slots() {
        const DWORD tls = g_tls;
        const DWORD fls = g_fls;
        g_tls = TLS_OUT_OF_INDEXES;
        g_fls = FLS_OUT_OF_INDEXES;
        Free(tls, fls);
    }
    Slots(const Slots&) = delete;
    Slots& operator=(const Slots&) = delete;

private:
    static void Free(DWORD tls, DWORD fls) noexcept {
        if (fls != FLS_OUT_OF_INDEXES) {
            FlsFree(fls);
        }
        if (tls != TLS_OUT_OF_INDEXES) {
            TlsFree(tls);
        }
    }
};
Slots g_slots;

ThreadBlock* BlockOfThread(DWORD tls) noexcept {
    auto* block = static_cast<ThreadBlock*>(TlsGetValue(tls));
    if (block != nullptr) {
        return block;
    }
    block = MakeBlock();
    if (block == nullptr) {
        return nullptr;
    }
    if (!FlsSetValue(g_fls, block)) {
        FreeOneBlock(block);
        return nullptr;
    }
    if (!TlsSetValue(tls, block)) {
        FlsSetValue(g_fls, nullptr);
        FreeOneBlock(block);
        return nullptr;
    }
    InterlockedIncrement(&g_blocks.value);
    return block;
}

}  // namespace

void* Take() noexcept {
    const DWORD tls = g_tls;
    if (tls != TLS_OUT_OF_INDEXES) {
        if (ThreadBlock* block = BlockOfThread(tls)) {
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
