// ReaderTable: the reader/writer lock's ordered map from thread ID to that thread's shared depth.
//
// Every uncontended ReadLock inserts an entry and every last ReadUnlock removes it, so the table must not
// touch the heap on that path. Entries live in a sorted array held inline; only when more threads read at
// once than the inline array holds does the table move to a heap array, which it then keeps (a lock that
// once had that many readers is likely to have them again).
//
// Growth is separate from insertion: the lock reserves room while it may still refuse the call (before it
// changes any state), so that Insert itself never allocates and never fails. Not thread-safe; the lock's
// guard protects it.
#pragma once

#include <cstddef>
#include <memory>

class ReaderTable {
public:
    static constexpr std::size_t kInlineCapacity = 8;

    ReaderTable() noexcept = default;
    ReaderTable(const ReaderTable&) = delete;
    ReaderTable& operator=(const ReaderTable&) = delete;

    // The depth recorded for the thread, or null when the thread holds no entry.
    unsigned long* Find(unsigned long threadId) noexcept;

    // Makes room for at least `count` entries in total. Throws std::bad_alloc, leaving the table as it was.
    void Reserve(std::size_t count);

    // Adds an entry for a thread that has none; room must have been reserved (fail-fast otherwise).
    void Insert(unsigned long threadId, unsigned long depth) noexcept;

    // Removes the entry whose depth Find returned, without searching again; it must be in the table (fail-fast
    // otherwise).
    void Erase(unsigned long* depth) noexcept;

    std::size_t Size() const noexcept { return size_; }
    std::size_t Capacity() const noexcept { return capacity_; }

private:
    struct Entry {
        unsigned long threadId;
        unsigned long depth;
    };

    Entry* Begin() noexcept { return spilled_ ? spilled_.get() : inline_; }
    // First entry whose thread ID is not below the given one.
    Entry* LowerBound(unsigned long threadId) noexcept;

    Entry inline_[kInlineCapacity] = {};
    std::unique_ptr<Entry[]> spilled_;
    std::size_t size_ = 0;
    std::size_t capacity_ = kInlineCapacity;
};
