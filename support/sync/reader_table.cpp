// ReaderTable: sorted inline array of (thread ID, shared depth), spilling to the heap when it must grow.
#include "support/sync/reader_table.h"

#include <algorithm>
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

void ReaderTable::Erase(unsigned long threadId) noexcept {
    Entry* entry = LowerBound(threadId);
    Entry* end = Begin() + size_;
    if (entry == end || entry->threadId != threadId) {
        qv::FailFast();
    }
    std::move(entry + 1, end, entry);
    --size_;
}
