// Integrity failures end the process: each damage runs in a child copy of this executable, which must end with
// the fail-fast exit code instead of going on with damaged memory.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <functional>
#include <string>

#include "equipment/processes.h"
#include "support/strings/qv_string.h"
#include "tests/support/strings/test_mem_mgr.h"

using namespace equipment;

namespace {

void Damage(const void* chars, size_t offset_from_block) {
    auto* at = const_cast<unsigned char*>(static_cast<const unsigned char*>(chars)) - 16 + offset_from_block;
    at[1] ^= 0x01;
}

struct Case {
    const char* name;
    std::function<void()> use;
};

// Each leaves the string damaged when it returns: the destructor would fail fast in its place, so a child
// whose use returned exits on its own with a different code first.
const Case kCases[] = {
    {"untouched", [] { qv::WString s(L"fine"); }},
    {"leading guard",
     [] {
         qv::WString s(L"victim");
         Damage(s.GetString(), 0);
         (void)s.GetLength();
     }},
    {"second guard",
     [] {
         qv::WString s(L"victim");
         Damage(s.GetString(), 12);
         (void)s.GetString();
     }},
    {"trailing guard of a narrow string",
     [] {
         qv::AString s("victim");
         Damage(s.GetString(), 16 + 65);
         s.Append("more");
     }},
    {"length above capacity",
     [] {
         qv::WString s(L"victim");
         qv::StringRecord* record;
         std::memcpy(&record, reinterpret_cast<const unsigned char*>(s.GetString()) - 12, sizeof record);
         record->length = record->capacity + 1;
         (void)s.GetCapacity();
     }},
    {"destroying a damaged string",
     [] {
         auto* s = new qv::WString(L"victim");
         Damage(s->GetString(), 0);
         delete s;
     }},
    {"append that cannot grow",
     [] {
         qv_test::RecordingMemMgr manager;
         qv::WString s(&manager, 64);
         manager.RefuseAll();
         s.Append(std::wstring(100, L'x').c_str());
     }},
    {"format that cannot grow",
     [] {
         qv_test::RecordingMemMgr manager;
         qv::AString s(&manager, 64);
         manager.RefuseAll();
         s.Format("%s", std::string(100, 'x').c_str());
     }},
    {"set length above capacity",
     [] {
         qv::AString s(64);
         s.SetLength(65);
     }},
};
constexpr UINT kReturned = 7;

}  // namespace

TEST(StringIntegrityChild, DISABLED_Run) {
    kCases[std::stoi(ChildArgument())].use();
    ExitProcess(kReturned);
}

TEST(StringIntegrity, DamageEndsTheProcessWithTheFailFastCode) {
    for (size_t i = 0; i < std::size(kCases); ++i) {
        const int exit_code = RunTestInChild("StringIntegrityChild.DISABLED_Run", std::to_wstring(i), 20000);
        EXPECT_EQ(static_cast<UINT>(exit_code), i == 0 ? kReturned : kFailFastExitSeen) << kCases[i].name;
    }
}
