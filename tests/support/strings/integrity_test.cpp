// Integrity failures end the process: each damage runs in a child copy of this executable, which must end
// with the fail-fast exit code instead of going on with damaged memory.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "support/fail_fast.h"
#include "support/strings/qv_string.h"
#include "tests/support/strings/test_mem_mgr.h"
#include "tests/test_process.h"

namespace {

constexpr DWORD kChildTimeoutMs = 20000;

unsigned char* BlockOf(const void* chars) {
    return const_cast<unsigned char*>(static_cast<const unsigned char*>(chars)) - 16;
}

void WriteU32(unsigned char* at, uint32_t value) { std::memcpy(at, &value, sizeof(value)); }

qv::StringRecord* RecordOf(const void* chars) {
    qv::StringRecord* record;
    std::memcpy(&record, BlockOf(chars) + 4, sizeof(record));
    return record;
}

// The child test reached its end: the damage went unnoticed. Undo it so that destruction cannot
// fail fast in its place, and let the child exit with gtest's failure code.
void Survived(unsigned char* at, uint32_t original) {
    WriteU32(at, original);
    ADD_FAILURE() << "damaged string was used without a fail-fast";
}

}  // namespace

TEST(StringIntegrity, DamageEndsTheProcessWithTheFailFastCode) {
    struct Case {
        const char* child;
        DWORD expectedExit;
    };
    const Case cases[] = {
        {"DISABLED_Untouched", 0},
        {"DISABLED_LeadingGuard", qv::kFailFastExitCode},
        {"DISABLED_SecondGuard", qv::kFailFastExitCode},
        {"DISABLED_TrailingGuardOfNarrowString", qv::kFailFastExitCode},
        {"DISABLED_LengthAboveCapacity", qv::kFailFastExitCode},
        {"DISABLED_DestroyingADamagedString", qv::kFailFastExitCode},
        {"DISABLED_AppendThatCannotGrow", qv::kFailFastExitCode},
        {"DISABLED_FormatThatCannotGrow", qv::kFailFastExitCode},
        {"DISABLED_SetLengthAboveCapacity", qv::kFailFastExitCode},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(static_cast<DWORD>(
                      RunTestInChild((std::string("StringIntegrityChild.") + c.child).c_str(), {}, kChildTimeoutMs)),
                  c.expectedExit)
            << c.child;
    }
}

// The child side. Each runs only when the parent above names it.

TEST(StringIntegrityChild, DISABLED_Untouched) {
    qv::WString s(L"fine");
    EXPECT_EQ(s.GetLength(), 4u);
}

TEST(StringIntegrityChild, DISABLED_LeadingGuard) {
    qv::WString s(L"victim");
    unsigned char* at = BlockOf(s.GetString());
    WriteU32(at, 0xABCE);
    (void)s.GetLength();
    Survived(at, qv::kStringGuard);
}

TEST(StringIntegrityChild, DISABLED_SecondGuard) {
    qv::WString s(L"victim");
    unsigned char* at = BlockOf(s.GetString()) + 12;
    at[1] = 0;
    (void)s.GetString();
    Survived(at, qv::kStringGuard);
}

TEST(StringIntegrityChild, DISABLED_TrailingGuardOfNarrowString) {
    qv::AString s("victim");
    unsigned char* at = BlockOf(s.GetString()) + 16 + 65;
    WriteU32(at, 0);
    s.Append("more");
    Survived(at, qv::kStringGuard);
}

TEST(StringIntegrityChild, DISABLED_LengthAboveCapacity) {
    qv::WString s(L"victim");
    qv::StringRecord* record = RecordOf(s.GetString());
    record->length = record->capacity + 1;
    (void)s.GetCapacity();
    record->length = 6;
    ADD_FAILURE() << "length above capacity went unnoticed";
}

TEST(StringIntegrityChild, DISABLED_DestroyingADamagedString) {
    auto* s = new qv::WString(L"victim");
    unsigned char* at = BlockOf(s->GetString());
    WriteU32(at, 0);
    delete s;
    ADD_FAILURE() << "a damaged block was given back";
}

TEST(StringIntegrityChild, DISABLED_AppendThatCannotGrow) {
    qv_test::RecordingMemMgr manager;
    qv::WString s(&manager, 64);
    manager.RefuseAll();
    const std::wstring big(100, L'x');
    s.Append(big.c_str(), big.size());
    ADD_FAILURE() << "Append returned without room";
}

TEST(StringIntegrityChild, DISABLED_FormatThatCannotGrow) {
    qv_test::RecordingMemMgr manager;
    qv::AString s(&manager, 64);
    manager.RefuseAll();
    const std::string big(100, 'x');
    s.Format("%s", big.c_str());
    ADD_FAILURE() << "Format returned without room";
}

TEST(StringIntegrityChild, DISABLED_SetLengthAboveCapacity) {
    qv::AString s(64);
    s.SetLength(65);
    ADD_FAILURE() << "length was set above the capacity";
}
