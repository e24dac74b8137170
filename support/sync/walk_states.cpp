// Walk states: the blocks, the two slots and the slow paths of taking a state.
#include "support/sync/walk_states.h"

#include <new>

namespace walk_states {
namespace detail {

// The thread's block is found through the TLS slot, the cheapest per-thread lookup; a fiber-local slot holds the
// same pointer only for its callback, which frees the block when the thread ends, and for every thread still holding
// one when the slot is given back at unload. Both are written once at load and once at unload, and are
// constant-initialised, so a walk before the module's statics are made (or after they are gone) finds no slot and
// uses the heap.
DWORD g_tls = TLS_OUT_OF_INDEXES;

namespace {

DWORD g_fls = FLS_OUT_OF_INDEXES;

// Changes only when a thread makes or frees its block; kept off the line that holds the slots.
struct alignas(kCacheLine) BlockCount {
    volatile LONG value = 0;
};
BlockCount g_blocks;

Block* MakeBlock() noexcept {
    void* allocation = ::operator new(sizeof(Block) + kCacheLine - 1, std::nothrow);
    if (allocation == nullptr) {
        return nullptr;
    }
    const auto address = reinterpret_cast<std::uintptr_t>(allocation);
    const std::uintptr_t aligned = (address + kCacheLine - 1) & ~static_cast<std::uintptr_t>(kCacheLine - 1);
    auto* block = new (reinterpret_cast<void*>(aligned)) Block();
    block->allocation = allocation;
    return block;
}

void WINAPI FreeThreadBlock(void* block) noexcept {
    if (block == nullptr) {
        return;
    }
    // On the ending thread the TLS value goes too, so that nothing later on that thread finds the freed block.
    if (g_tls != TLS_OUT_OF_INDEXES && TlsGetValue(g_tls) == block) {
        TlsSetValue(g_tls, nullptr);
    }
    FreeBlock(static_cast<Block*>(block));
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

// The calling thread's block, made on its first walk; null without slots or memory.
Block* BlockOfThread() noexcept {
    const DWORD tls = g_tls;
    if (tls == TLS_OUT_OF_INDEXES) {
        return nullptr;
    }
    if (auto* block = static_cast<Block*>(TlsGetValue(tls))) {
        return block;
    }
    Block* block = MakeBlock();
    if (block == nullptr) {
        return nullptr;
    }
    if (!FlsSetValue(g_fls, block)) {
        FreeBlock(block);
        return nullptr;
    }
    if (!TlsSetValue(tls, block)) {
        FlsSetValue(g_fls, nullptr);
        FreeBlock(block);
        return nullptr;
    }
    InterlockedIncrement(&g_blocks.value);
    return block;
}

}  // namespace

void* TakeSlowly() noexcept {
    Block* block = BlockOfThread();
    if (block != nullptr && block->taken == 0) {
        block->taken = 1;
        return block->states[0];
    }
    Block* own = MakeBlock();
    if (own == nullptr) {
        return nullptr;
    }
    own->forOneWalk = true;
    return own->states[0];
}

void FreeBlock(Block* block) noexcept { ::operator delete(block->allocation); }

}  // namespace detail

long ThreadBlocks() noexcept { return InterlockedCompareExchange(&detail::g_blocks.value, 0, 0); }

}  // namespace walk_states
