// ReaderTable: sorted inline array of (thread ID, shared depth), spilling to the heap when it must grow.
#include "support/sync/reader_table.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>

#include "support/fail_fast.h"

ReaderTable::Entry* ReaderTable::LowerBound(unsigned long threadId) noexcept {
    Entry* first = Begin();
    return std::lower_bound(first, first + size_, threadId,
                            [](const Entry& entry, unsigned long id) { return entry.threadId < id; });
}

unsigned long* ReaderTable::Find(unsigned long threadId) noexcept {
    Entry* entry = LowerBound(threadId);
    if (entry == Begin() + size_ || entry->threadId != threadId) {
        return nullptr;
    }
    return &entry->depth;
}

void ReaderTable::Reserve(std::size_t count) {
    if (count <= capacity_) {
        return;
    }
    const std::size_t capacity = std::max(count, capacity_ * 2);
    std::unique_ptr<Entry[]> grown(new Entry[capacity]);
    std::copy(Begin(), Begin() + size_, grown.get());
    spilled_ = std::move(grown);
    capacity_ = capacity;
}

void ReaderTable::Insert(unsigned long threadId, unsigned long depth) noexcept {
    Entry* entry = LowerBound(threadId);
    Entry* end = Begin() + size_;
    if (size_ == capacity_ || (entry != end && entry->threadId == threadId)) {
        qv::FailFast();
    }
    std::move_backward(entry, end, end + 1);
    *entry = Entry{threadId, depth};
    ++size_;
}

void ReaderTable::Erase(unsigned long* depth) noexcept {
    Entry* first = Begin();
    Entry* end = first + size_;
    const auto at = reinterpret_cast<std::uintptr_t>(depth) - offsetof(Entry, depth);
    // Compared as integers: a pointer from elsewhere must fail the check, not make the comparison undefined.
    const auto begin = reinterpret_cast<std::uintptr_t>(first);
    if (depth == nullptr || at < begin || at >= reinterpret_cast<std::uintptr_t>(end) ||
        (at - begin) % sizeof(Entry) != 0) {
        qv::FailFast();
    }
    Entry* entry = first + (at - begin) / sizeof(Entry);
    std::move(entry + 1, end, entry);
    --size_;
}
