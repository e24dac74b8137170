// WalkStatePool: per-thread-slot recycling of walk-state blocks.
#include "support/sync/walk_state_pool.h"

#include <windows.h>

#include <atomic>
#include <new>

namespace walk_state_pool {
namespace {

constexpr std::size_t kSlots = 16;

class Pool {
public:
    // Blocks still cached when the module unloads go back to the heap.
    ~Pool() {
        for (auto& slot : slots_) {
            ::operator delete(slot.exchange(nullptr));
        }
    }

    std::atomic<void*>& SlotOfCaller() noexcept {
        // Thread IDs are multiples of 4.
        return slots_[(GetCurrentThreadId() >> 2) % kSlots];
    }

private:
    std::atomic<void*> slots_[kSlots] = {};
};

Pool pool;

}  // namespace

void* Allocate() noexcept {
    if (void* block = pool.SlotOfCaller().exchange(nullptr, std::memory_order_acquire)) {
        return block;
    }
    return ::operator new(kBlockSize, std::nothrow);
}

void Free(void* block) noexcept {
    void* empty = nullptr;
    if (block != nullptr && !pool.SlotOfCaller().compare_exchange_strong(empty, block, std::memory_order_release)) {
        ::operator delete(block);
    }
}

}  // namespace walk_state_pool
