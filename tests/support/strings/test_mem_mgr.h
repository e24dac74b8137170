// Memory managers for string tests: one that records what it was asked for and can be told to refuse.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "support/strings/qv_string.h"

namespace qv {

// Readable gtest messages: the text with its length, non-ASCII units as escapes.
template <typename Ch, typename MemMgr, typename Traits, int kGuardChecks>
void PrintTo(const StringT<Ch, MemMgr, Traits, kGuardChecks>& s, std::ostream* os) {
    *os << (s.HasBuffer() ? "\"" : "(no buffer) \"");
    for (size_t i = 0; i < s.GetLength(); ++i) {
        const auto unit = static_cast<std::make_unsigned_t<Ch>>(s.GetString()[i]);
        if (unit >= 0x20 && unit < 0x7F) {
            *os << static_cast<char>(unit);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), sizeof(Ch) == 1 ? "\\x%02X" : "\\u%04X", unsigned(unit));
            *os << escaped;
        }
    }
    *os << "\" length " << s.GetLength() << " capacity " << s.GetCapacity();
}

}  // namespace qv

namespace qv_test {

class RecordingMemMgr : public qv::IMemMgr {
public:
    void* Allocate(size_t bytes) override {
        calls.push_back("Allocate " + std::to_string(bytes));
        return refuseAllocate ? nullptr : std::malloc(bytes);
    }
    void* Reallocate(void* block, size_t bytes) override {
        calls.push_back(std::string(block == nullptr ? "Reallocate null " : "Reallocate ") + std::to_string(bytes));
        lastRequest = bytes;
        return refuseReallocate ? nullptr : std::realloc(block, bytes);
    }
    void Free(void* block) override {
        calls.push_back("Free");
        freed.push_back(block);
        std::free(block);
    }
    void Release() override { calls.push_back("Release"); }

    void Reset() {
        calls.clear();
        freed.clear();
        refuseAllocate = refuseReallocate = false;
        lastRequest = 0;
    }
    void RefuseAll() { refuseAllocate = refuseReallocate = true; }

    std::vector<std::string> calls;
    std::vector<void*> freed;
    size_t lastRequest = 0;
    bool refuseAllocate = false;
    bool refuseReallocate = false;
};

// Strings whose records are made with the recording manager's one static instance.
using RecordedWString = qv::StringT<wchar_t, RecordingMemMgr, qv::ChTraitsCRT<wchar_t>, 1>;
using RecordedAString = qv::StringT<char, RecordingMemMgr, qv::ChTraitsCRT<char>, 1>;

inline RecordingMemMgr& Recorder() { return *static_cast<RecordingMemMgr*>(qv::DefaultMemMgr<RecordingMemMgr>()); }

}  // namespace qv_test
