// qv::StringT: the plug-in's own string, a single pointer into a guarded buffer block.
//
// The block a string owns is laid out byte for byte as the host's tools expect to find it behind the
// string's pointer:
//
//   offset 0            guard word 0xABCD (32-bit)
//   offset 4            pointer to the string's record (64-bit, unaligned)
//   offset 12           guard word 0xABCD (32-bit)
//   offset 16           characters [capacity + 1]   <- the string object points here
//   16 + (cap+1)*size   guard word 0xABCD (32-bit, unaligned in the narrow form)
//
// The record (length, capacity, growth step, ownership flags, memory manager) lives on the C runtime heap
// and is reached only through the block, so a string object stays one pointer wide. Every access that
// goes through the block first verifies the three guard words and length <= capacity; a mismatch means the
// memory was overwritten or freed, and the process is ended through qv::FailFast() instead of trusting it.
//
// Growth is geometric below 1024 characters (the first buffer holds at least 64) and in steps of at least
// 1024 above, always through the memory manager's Reallocate so that a block can grow in place.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <type_traits>

#include "support/fail_fast.h"

namespace qv {

// Where a string's blocks come from. Release is called once every time a string gives up its buffer,
// after Free, so that a manager can account for the strings it serves.
struct IMemMgr {
    virtual void* Allocate(size_t bytes) = 0;
    // Returns null on failure and leaves the old block untouched; a null block means a fresh allocation.
    virtual void* Reallocate(void* block, size_t bytes) = 0;
    virtual void Free(void* block) = 0;
    virtual void Release() = 0;

protected:
    ~IMemMgr() = default;
};

// The C runtime heap. It has no state, so its one static instance serves every thread.
struct StringMemMgr : IMemMgr {
    void* Allocate(size_t bytes) override { return std::malloc(bytes); }
    void* Reallocate(void* block, size_t bytes) override { return std::realloc(block, bytes); }
    void Free(void* block) override { std::free(block); }
    void Release() override {}
};

// The one instance of a manager type that records are made with.
template <typename MemMgr>
IMemMgr* DefaultMemMgr() noexcept {
    static MemMgr instance;
    return &instance;
}

// Character functions of the C runtime for each form.
template <typename Ch>
struct ChTraitsCRT;

template <>
struct ChTraitsCRT<char> {
    static size_t Length(const char* text) noexcept { return std::strlen(text); }
    // Characters the formatted text needs, without the NUL; negative when the runtime refuses the format.
    static int FormatCount(const char* format, va_list args) noexcept {
        return std::vsnprintf(nullptr, 0, format, args);
    }
    // Writes at most limit characters including the NUL.
    static int FormatBounded(char* buffer, size_t limit, const char* format, va_list args) noexcept {
        return std::vsnprintf(buffer, limit, format, args);
    }
};

template <>
struct ChTraitsCRT<wchar_t> {
    static size_t Length(const wchar_t* text) noexcept { return std::wcslen(text); }
};

// One per string that has a buffer; reached through the block's record pointer.
struct StringRecord {
    IMemMgr* manager;
    uint64_t length;
    uint64_t capacity;
    uint64_t growth;
    uint8_t blockOwned;
    uint8_t recordOnHeap;
};

constexpr uint32_t kStringGuard = 0xABCDu;
// Bytes in front of the characters: guard, record pointer, guard.
constexpr size_t kStringBlockHeader = 16;
constexpr size_t kStringRecordOffset = 4;
constexpr size_t kStringFirstGrowth = 64;
constexpr size_t kStringLargeStep = 1024;

// kGuardChecks: nonzero (1 in every use) verifies the guard words on every access through the block.
template <typename Ch, typename MemMgr, typename Traits, int kGuardChecks>
class StringT {
public:
    // A length of npos means "up to the source's terminating NUL".
    static constexpr size_t npos = static_cast<size_t>(-1);

    StringT() noexcept = default;

    // Starts with a buffer of exactly the given capacity; on allocation failure the string has none.
    explicit StringT(size_t capacity) noexcept { (void)Reserve(capacity); }

    // Makes the record with another manager than the type's default.
    StringT(IMemMgr* manager, size_t capacity) noexcept { (void)ReserveWith(manager, capacity); }

    StringT(const Ch* text) noexcept { *this = text; }  // NOLINT: implicit like the text it holds

    StringT(const StringT& other) noexcept {
        if (other.chars_ != nullptr) {
            AssignOrFail(other.GetString(), other.GetLength());
        }
    }

    StringT(StringT&& other) noexcept { TakeOrCopy(other); }

    ~StringT() { ReleaseBuffer(); }

    // Copies are needed by their callers, so a copy that cannot get memory ends the process.
    StringT& operator=(const StringT& other) noexcept {
        if (this != &other) {
            AssignOrFail(other.GetString(), other.GetLength());
        }
        return *this;
    }

    StringT& operator=(StringT&& other) noexcept {
        if (this != &other) {
            TakeOrCopy(other);
        }
        return *this;
    }

    // Null empties the string (giving it a first buffer if it has none); its own text is left alone.
    StringT& operator=(const Ch* text) noexcept {
        if (text == nullptr) {
            MakeEmpty();
        } else if (chars_ == nullptr ||
                   reinterpret_cast<std::uintptr_t>(text) != reinterpret_cast<std::uintptr_t>(chars_)) {
            // Compared as addresses: equality with a literal would let the compiler believe chars_ is that
            // literal and warn about the guard reads in front of it.
            AssignOrFail(text, npos);
        } else {
            Verify();
        }
        return *this;
    }

    // Never null: a string without buffer reads as the static empty text.
    const Ch* GetString() const noexcept { return chars_ != nullptr ? (Verify(), chars_) : kEmptyText; }
    const Ch* c_str() const noexcept { return GetString(); }
    size_t GetLength() const noexcept { return chars_ != nullptr ? static_cast<size_t>(Verified()->length) : 0; }
    size_t GetCapacity() const noexcept { return chars_ != nullptr ? static_cast<size_t>(Verified()->capacity) : 0; }
    bool IsEmpty() const noexcept { return GetLength() == 0; }
    bool HasBuffer() const noexcept { return chars_ != nullptr; }

    // The characters for writing in place (capacity + 1 of them); null without buffer. Follow with SetLength.
    Ch* GetBuffer() noexcept { return chars_ != nullptr ? (Verify(), chars_) : nullptr; }

    // Makes the capacity exactly newCapacity, keeping the text (cut to the new capacity). False when memory
    // cannot be had; the string is then unchanged.
    bool Reserve(size_t newCapacity) noexcept { return ReserveWith(nullptr, newCapacity); }

    // Ensures room for needed characters by the growth rule.
    bool Grow(size_t needed) noexcept {
        const StringRecord* record = chars_ != nullptr ? Verified() : nullptr;
        const size_t current = record != nullptr ? static_cast<size_t>(record->capacity) : 0;
        const size_t step = record != nullptr ? static_cast<size_t>(record->growth) : kStringFirstGrowth;
        if (current >= needed && current != 0) {
            return true;
        }
        const size_t shortfall = needed > current ? needed - current : 0;
        const size_t atLeast = shortfall > step ? shortfall : step;
        const size_t floor = current < kStringLargeStep ? current : kStringLargeStep;
        const size_t extra = atLeast > floor ? atLeast : floor;
        if (extra > npos - current) {
            return false;
        }
        return Reserve(current + extra);
    }

    bool Assign(const Ch* source, size_t length) noexcept {
        if (length == npos) {
            length = source != nullptr ? Traits::Length(source) : 0;
        }
        if (source == nullptr) {
            length = 0;
        }
        // A source inside the own block moves when the block grows.
        const ptrdiff_t inside = OffsetInside(source);
        if (!Grow(length)) {
            return false;
        }
        if (inside >= 0) {
            source = chars_ + inside;
        }
        if (length != 0) {
            std::memmove(chars_, source, length * sizeof(Ch));
        }
        SetLengthChecked(length);
        return true;
    }

    // Adds length characters of source at the end; null or 0 adds nothing. No memory is fatal.
    void Append(const Ch* source, size_t length = npos) {
        if (source == nullptr) {
            return;
        }
        if (length == npos) {
            length = Traits::Length(source);
        }
        if (length == 0) {
            return;
        }
        const size_t old = GetLength();
        if (length > npos - old - 1) {
            FailFast();
        }
        const ptrdiff_t inside = OffsetInside(source);
        if (!Grow(old + length)) {
            FailFast();
        }
        if (inside >= 0) {
            source = chars_ + inside;
        }
        std::memmove(chars_ + old, source, length * sizeof(Ch));
        SetLengthChecked(old + length);
    }

    void Append(const StringT& other) { Append(other.GetString(), other.GetLength()); }

    // After writing into GetBuffer(): sets the length; npos measures up to the first NUL.
    void SetLength(size_t length) noexcept {
        if (chars_ == nullptr) {
            if (length != 0 && length != npos) {
                FailFast();
            }
            return;
        }
        Verify();
        if (length == npos) {
            length = Traits::Length(chars_);
        }
        SetLengthChecked(length);
    }

    // printf-style formatting through the C runtime; %s takes a narrow string. The arguments must not point
    // into this string, whose buffer may move while the text is formatted.
    void Format(const char* format, ...) {
        static_assert(std::is_same<Ch, char>::value, "Format is defined for the narrow form");
        if (format == nullptr) {
            MakeEmpty();
            return;
        }
        va_list args;
        va_start(args, format);
        va_list counting;
        va_copy(counting, args);
        const int measured = Traits::FormatCount(format, counting);
        va_end(counting);
        // A refused format counts as npos: the limit below is then 0 and the old text is measured again.
        const size_t count = measured < 0 ? npos : static_cast<size_t>(measured);
        if (!Grow(count + 2)) {
            va_end(args);
            FailFast();
        }
        if (chars_ == nullptr && !Reserve(kStringFirstGrowth)) {
            va_end(args);
            FailFast();
        }
        Traits::FormatBounded(chars_, count + 1, format, args);
        va_end(args);
        SetLength(count);
    }

    bool operator==(const StringT& other) const noexcept { return Equals(other.GetString(), other.GetLength()); }
    bool operator!=(const StringT& other) const noexcept { return !(*this == other); }
    bool operator==(const Ch* text) const noexcept {
        return Equals(text != nullptr ? text : kEmptyText, text != nullptr ? Traits::Length(text) : 0);
    }
    bool operator!=(const Ch* text) const noexcept { return !(*this == text); }

private:
    static constexpr Ch kEmptyText[1] = {};

    unsigned char* Block() const noexcept { return reinterpret_cast<unsigned char*>(chars_) - kStringBlockHeader; }

    StringRecord* Record() const noexcept {
        StringRecord* record;
        std::memcpy(&record, Block() + kStringRecordOffset, sizeof(record));
        return record;
    }

    static uint32_t ReadGuard(const unsigned char* at) noexcept {
        uint32_t value;
        std::memcpy(&value, at, sizeof(value));
        return value;
    }

    void Verify() const noexcept { (void)Verified(); }

    // The record of a string that has a buffer, after its block passed the integrity checks.
    StringRecord* Verified() const noexcept {
        StringRecord* record = Record();
        if (kGuardChecks != 0) {
            const unsigned char* block = Block();
            if (ReadGuard(block) != kStringGuard || ReadGuard(block + kStringBlockHeader - 4) != kStringGuard ||
                record == nullptr || record->length > record->capacity ||
                ReadGuard(reinterpret_cast<const unsigned char*>(chars_ + record->capacity + 1)) != kStringGuard) {
                FailFast();
            }
        }
        return record;
    }

    static size_t BlockSize(size_t capacity) noexcept {
        return kStringBlockHeader + (capacity + 1) * sizeof(Ch) + sizeof(uint32_t);
    }

    ptrdiff_t OffsetInside(const Ch* source) const noexcept {
        if (chars_ == nullptr || source == nullptr) {
            return -1;
        }
        const StringRecord* record = Verified();
        // Compared as integers: the source is usually another object, where pointer ordering is undefined.
        const uintptr_t begin = reinterpret_cast<uintptr_t>(chars_);
        const uintptr_t at = reinterpret_cast<uintptr_t>(source);
        if (at < begin || at > begin + record->capacity * sizeof(Ch)) {
            return -1;
        }
        return static_cast<ptrdiff_t>((at - begin) / sizeof(Ch));
    }

    void SetLengthChecked(size_t length) noexcept {
        StringRecord* record = Record();
        if (length > record->capacity) {
            FailFast();
        }
        record->length = length;
        chars_[length] = Ch();
    }

    bool Equals(const Ch* text, size_t length) const noexcept {
        return GetLength() == length && std::memcmp(GetString(), text, length * sizeof(Ch)) == 0;
    }

    void AssignOrFail(const Ch* source, size_t length) noexcept {
        if (!Assign(source, length)) {
            FailFast();
        }
    }

    void MakeEmpty() noexcept {
        if (chars_ == nullptr || Verified()->capacity == 0) {
            if (!Grow(0)) {
                FailFast();
            }
        }
        SetLengthChecked(0);
    }

    // The manager a moved-in buffer must come from to be taken over as it is.
    IMemMgr* Manager() const noexcept { return chars_ != nullptr ? Verified()->manager : DefaultMemMgr<MemMgr>(); }

    void TakeOrCopy(StringT& other) noexcept {
        if (other.chars_ != nullptr && other.Verified()->manager == Manager()) {
            ReleaseBuffer();
            chars_ = other.chars_;
            other.chars_ = nullptr;
        } else if (other.chars_ != nullptr || chars_ != nullptr) {
            AssignOrFail(other.GetString(), other.GetLength());
        }
    }

    bool ReserveWith(IMemMgr* manager, size_t newCapacity) noexcept {
        if (newCapacity > (npos - kStringBlockHeader - sizeof(uint32_t)) / sizeof(Ch) - 1) {
            return false;
        }
        const size_t newSize = BlockSize(newCapacity);
        StringRecord* record = nullptr;
        unsigned char* resize = nullptr;
        const Ch* sourceOnly = nullptr;
        size_t oldSize = 0;
        bool madeRecord = false;
        if (chars_ != nullptr) {
            record = Verified();
            oldSize = BlockSize(static_cast<size_t>(record->capacity));
            if (record->blockOwned != 0) {
                resize = Block();
            } else {
                sourceOnly = chars_;
            }
        } else {
            record = static_cast<StringRecord*>(std::malloc(sizeof(StringRecord)));
            if (record == nullptr) {
                return false;
            }
            *record =
                StringRecord{manager != nullptr ? manager : DefaultMemMgr<MemMgr>(), 0, 0, kStringFirstGrowth, 0, 1};
            madeRecord = true;
        }

        auto* block = static_cast<unsigned char*>(record->manager->Reallocate(resize, newSize));
        if (block == nullptr) {
            block = static_cast<unsigned char*>(record->manager->Allocate(newSize));
            if (block == nullptr) {
                if (madeRecord) {
                    std::free(record);
                }
                return false;
            }
            if (resize != nullptr) {
                std::memcpy(block, resize, oldSize < newSize ? oldSize : newSize);
                record->manager->Free(resize);
            }
        }
        if (resize == nullptr) {
            std::memset(block, 0, newSize);
        }
        if (sourceOnly != nullptr) {
            const size_t oldChars = static_cast<size_t>(record->capacity) + 1;
            std::memcpy(block + kStringBlockHeader, sourceOnly,
                        (oldChars < newCapacity + 1 ? oldChars : newCapacity + 1) * sizeof(Ch));
        }

        std::memcpy(block, &kStringGuard, sizeof(kStringGuard));
        std::memcpy(block + kStringRecordOffset, &record, sizeof(record));
        std::memcpy(block + kStringBlockHeader - 4, &kStringGuard, sizeof(kStringGuard));
        chars_ = reinterpret_cast<Ch*>(block + kStringBlockHeader);
        chars_[newCapacity] = Ch();
        std::memcpy(chars_ + newCapacity + 1, &kStringGuard, sizeof(kStringGuard));

        record->capacity = newCapacity;
        record->blockOwned = 1;
        if (record->length > newCapacity) {
            record->length = newCapacity;
        }
        return true;
    }

    void ReleaseBuffer() noexcept {
        if (chars_ == nullptr) {
            return;
        }
        StringRecord* record = Verified();
        if (record->blockOwned != 0) {
            record->manager->Free(Block());
        }
        record->manager->Release();
        if (record->recordOnHeap != 0) {
            std::free(record);
        }
        chars_ = nullptr;
    }

    Ch* chars_ = nullptr;
};

// A copy of the first string with the second appended.
template <typename Ch, typename MemMgr, typename Traits, int kGuardChecks>
StringT<Ch, MemMgr, Traits, kGuardChecks> operator+(const StringT<Ch, MemMgr, Traits, kGuardChecks>& left,
                                                    const StringT<Ch, MemMgr, Traits, kGuardChecks>& right) {
    StringT<Ch, MemMgr, Traits, kGuardChecks> result(left);
    result.Append(right.GetString(), right.GetLength());
    return result;
}

// The two forms: UTF-16 at the host's interfaces, UTF-8 towards JSON and the agent libraries.
using WString = StringT<wchar_t, StringMemMgr, ChTraitsCRT<wchar_t>, 1>;
using AString = StringT<char, StringMemMgr, ChTraitsCRT<char>, 1>;

static_assert(sizeof(WString) == sizeof(void*), "a string is one pointer");

}  // namespace qv
