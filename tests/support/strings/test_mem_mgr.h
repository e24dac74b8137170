// A memory manager for string tests that records what it was asked for and can be told to refuse.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "support/strings/qv_string.h"

namespace qv_test {

class RecordingMemMgr : public qv::IMemMgr {
public:
    void* Allocate(size_t bytes) override {
        calls.push_back("Allocate " + std::to_string(bytes));
        return refuseAllocate ? nullptr : std::malloc(bytes);
    }
    void* Reallocate(void* block, size_t bytes) override {
        calls.push_back((block == nullptr ? "Reallocate null " : "Reallocate ") + std::to_string(bytes));
        return refuseReallocate ? nullptr : std::realloc(block, bytes);
    }
    void Free(void* block) override {
        calls.push_back("Free");
        freed.push_back(block);
        std::free(block);
    }
    void Release() override { calls.push_back("Release"); }
    void RefuseAll() { refuseAllocate = refuseReallocate = true; }

    std::vector<std::string> calls;
    std::vector<void*> freed;
    bool refuseAllocate = false;
    bool refuseReallocate = false;
};

// Strings whose records are made with the recording manager's one static instance.
using RecordedWString = qv::StringT<wchar_t, RecordingMemMgr, qv::ChTraitsCRT<wchar_t>, 1>;
using RecordedAString = qv::StringT<char, RecordingMemMgr, qv::ChTraitsCRT<char>, 1>;

inline RecordingMemMgr& Recorder() { return *static_cast<RecordingMemMgr*>(qv::DefaultMemMgr<RecordingMemMgr>()); }

}  // namespace qv_test
