// Settings replies that an agent gone wrong could send, through Read: mutated documents, random JSON built
// from the real keys, and plain noise. Each must load or fail with 1627 and its error message, and the
// process must come through all of them.
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "tests/settings/manager_fixture.h"
#include "tests/settings/record_text.h"

using namespace Endpoint::Vorn;
using SettingsHostileReplies = settings_test::SettingsManagerTest;

namespace {

constexpr unsigned int kSeed = 20261206;
constexpr int kReplies = 10000;

const char* const kBases[] = {
    R"({"conn":{"srvaddrlist":["a.example","b.example"],"srvaddr":"s.example","storeevs":true,"timesec":30,)"
    R"("proxy":{"server":"p","port":8080,"username":"u","password":"w"}},)"
    R"("id":{"appid":5,"custid":"c1","userid":"u1","groupid":"g","token":"t","customdata":{"k":[1,"x",null]}}})",
    R"({"conn":{"srvaddrlist":[]},"id":{"appid":4294967295,"custid":12,"userid":"u"}})",
    R"({"id":{"userid":"u","custid":"c","appid":-1},"conn":{"storeevs":0,"srvaddrlist":[7,"x"],"proxy":null}})",
};

const char* const kKeys[] = {"conn",   "id",     "srvaddrlist", "srvaddr",  "storeevs",   "timesec",
                             "proxy",  "server", "port",        "username", "password",   "appid",
                             "custid", "userid", "groupid",     "token",    "customdata", "x"};

const char* const kFragments[] = {
    "null",  "true", "false", "0",        "-1",          "4294967295",  "4294967296", "-2147483649",
    "1e400", "-0.0", "3.5",   "\"\"",     "\"\\ud800\"", "\"\\u0000\"", "[",          "]",
    "{",     "}",    ",",     ":",        "\"",          "\\",          "[[[[[[[[",   "{\"a\":",
    "/*",    "//",   "\xC3",  "\xFF\xFE", "%s%n%S",      "[]",          "{}",
};

class ReplyMaker {
public:
    explicit ReplyMaker(unsigned int seed) : random_(seed) {}

    std::string Next() {
        switch (Pick(10)) {
            case 0:
            case 1:
            case 2:
            case 3:
                return Mutated(kBases[Pick(std::size(kBases))]);
            case 4:
            case 5:
            case 6:
                return Document();
            case 7:
                return Mutated(Document());
            case 8:
                return Noise();
            default:
                return Nested();
        }
    }

private:
    size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random_); }

    std::string Mutated(std::string text) {
        const size_t edits = 1 + Pick(4);
        for (size_t e = 0; e < edits && !text.empty(); ++e) {
            const size_t at = Pick(text.size());
            switch (Pick(5)) {
                case 0:  // one byte replaced, never by NUL: the agent's text ends at its first NUL
                    text[at] = static_cast<char>(1 + Pick(255));
                    break;
                case 1:
                    text.erase(at, 1 + Pick(8));
                    break;
                case 2:
                    text.insert(at, kFragments[Pick(std::size(kFragments))]);
                    break;
                case 3:
                    text.insert(at, text.substr(at, 1 + Pick(16)));
                    break;
                default:
                    text.resize(at);
                    break;
            }
        }
        return text;
    }

    // A random value whose objects use the document's own keys, so that most of them reach the loader.
    std::string Value(int depth) {
        switch (depth > 4 ? Pick(6) : Pick(9)) {
            case 0:
                return "null";
            case 1:
                return Pick(2) ? "true" : "false";
            case 2:
                return std::to_string(static_cast<long long>(random_()) - 2147483648LL);
            case 3:
                return std::to_string(random_());
            case 4:
                return "\"" + std::string(kKeys[Pick(std::size(kKeys))]) + "\"";
            case 5:
                return "2.5";
            case 6:
            case 7: {
                std::string object = "{";
                const size_t members = Pick(6);
                for (size_t m = 0; m < members; ++m) {
                    object +=
                        (m ? "," : "") + std::string("\"") + kKeys[Pick(std::size(kKeys))] + "\":" + Value(depth + 1);
                }
                return object + "}";
            }
            default: {
                std::string array = "[";
                const size_t elements = Pick(4);
                for (size_t m = 0; m < elements; ++m) {
                    array += (m ? "," : "") + Value(depth + 1);
                }
                return array + "]";
            }
        }
    }

    // Mostly a settings-shaped object with random contents.
    std::string Document() {
        if (Pick(4) == 0) {
            return Value(0);
        }
        return "{\"conn\":{\"srvaddrlist\":" + (Pick(3) ? std::string("[\"a\"]") : Value(3)) +
               ",\"srvaddr\":" + Value(4) + ",\"storeevs\":" + Value(4) + ",\"proxy\":" + Value(2) +
               "},\"id\":" + Value(1) + "}";
    }

    std::string Noise() {
        std::string text(Pick(200), ' ');
        for (char& c : text) {
            c = static_cast<char>(1 + Pick(255));
        }
        return text;
    }

    // Deep nesting, well past what the JSON library accepts, and just inside it.
    std::string Nested() {
        const size_t depth = Pick(2) ? 990 + Pick(20) : 5000 + Pick(50000);
        const bool arrays = Pick(2) != 0;
        std::string text =
            "{\"conn\":{\"srvaddrlist\":[]},\"id\":{\"appid\":1,\"custid\":\"c\",\"userid\":\"u\",\"customdata\":";
        for (size_t i = 0; i < depth; ++i) {
            text += arrays ? "[" : "{\"a\":";
        }
        text += "1";
        for (size_t i = 0; i < depth; ++i) {
            text += arrays ? "]" : "}";
        }
        return text + "}}";
    }

    std::mt19937 random_;
};

TEST_F(SettingsHostileReplies, EveryReplyLoadsOrFailsWithItsMessage) {
    const std::wstring read = L"Endpoint::Vorn::NG::SettingsImpl::Read";
    const LogLine not_json{0x04, read, L"failed to parse settings json"};
    const LogLine not_settings{0x04, read, L"failed to deserialize settings"};
    ASSERT_EQ(manager_->Init(), 0u);
    ReplyMaker maker(kSeed);
    int loaded = 0;
    int unparsed = 0;
    int undeserialized = 0;
    for (int n = 0; n < kReplies; ++n) {
        const std::string reply = maker.Next();
        const vornint_command_script script{0, 1, reply.c_str(), static_cast<long long>(n)};
        ASSERT_EQ(vornint_script_command(VORNINT_ALL_CLIENTS, 1, &script), VORNINT_OK);
        log_.Clear();
        Settings::Record record = settings_test::OldRecord();
        const unsigned long result = manager_->Read(record);
        const auto messages = Messages(WrittenLines(log_));
        ASSERT_FALSE(messages.empty());
        if (result == 0) {
            ++loaded;
            EXPECT_EQ(messages.size(), 1u) << "seed " << kSeed << ", reply " << n << ": " << reply;
        } else {
            ASSERT_EQ(result, static_cast<unsigned long>(ERROR_FUNCTION_FAILED))
                << "seed " << kSeed << ", reply " << n << ": " << reply;
            if (messages.back() == not_json) {
                ++unparsed;
            } else {
                ASSERT_EQ(messages.back(), not_settings) << "seed " << kSeed << ", reply " << n << ": " << reply;
                ++undeserialized;
            }
        }
    }
    std::printf("seed %u: %d replies loaded, %d not JSON, %d not settings\n", kSeed, loaded, unparsed, undeserialized);
    // Every way through Read was taken many times; a generator that only made noise would prove little.
    EXPECT_GT(loaded, kReplies / 100);
    EXPECT_GT(unparsed, kReplies / 100);
    EXPECT_GT(undeserialized, kReplies / 100);
}

}  // namespace
