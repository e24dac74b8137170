// The settings data object: the document that each sequence of setters builds.
#include <gtest/gtest.h>

#include <windows.h>

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "settings/data_impl.h"

using Endpoint::Vorn::NG::DataImpl;
using Endpoint::Vorn::Settings::IData;
using Endpoint::Vorn::Settings::Proxy;

namespace {

Json::Value Parsed(const std::string& text) {
    Json::Value value;
    Json::Reader reader;
    EXPECT_TRUE(reader.parse(text, value)) << text;
    return value;
}

Proxy MakeProxy(const wchar_t* server, int port, const wchar_t* username, const wchar_t* password) {
    Proxy proxy;
    proxy.server = server;
    proxy.port = port;
    proxy.username = username;
    proxy.password = password;
    return proxy;
}

struct SetterCase {
    const char* name;
    std::function<void(IData&)> setters;  // each call's result is checked inside
    const char* document;                 // compared as parsed JSON, types included (false is not 0)
};

const SetterCase kSetterCases[] = {
    {"nothing set", [](IData&) {}, "null"},
    {"identity keys share one id object",
     [](IData& d) {
         EXPECT_EQ(d.SetAppId(7), 0u);
         EXPECT_EQ(d.SetToken(L"t"), 0u);
         EXPECT_EQ(d.SetCustId(L"c"), 0u);
         EXPECT_EQ(d.SetUserId(L"u"), 0u);
         EXPECT_EQ(d.SetGroupId(L"g"), 0u);
     },
     R"({"id":{"appid":7,"token":"t","custid":"c","userid":"u","groupid":"g"}})"},
    {"a second call replaces the first",
     [](IData& d) {
         EXPECT_EQ(d.SetCustId(L"first"), 0u);
         EXPECT_EQ(d.SetCustId(L"second"), 0u);
         EXPECT_EQ(d.SetStoreEvents(true), 0u);
         EXPECT_EQ(d.SetStoreEvents(false), 0u);
     },
     R"({"id":{"custid":"second"},"conn":{"storeevs":false}})"},
    {"connection keys share one conn object",
     [](IData& d) {
         EXPECT_EQ(d.SetServerAddressList({L"a.example", L"b.example"}), 0u);
         EXPECT_EQ(d.SetServerAddress(L"s.example"), 0u);
         EXPECT_EQ(d.SetStoreEvents(true), 0u);
     },
     R"({"conn":{"srvaddrlist":["a.example","b.example"],"srvaddr":"s.example","storeevs":true}})"},
    {"the list is replaced whole, not merged",
     [](IData& d) {
         EXPECT_EQ(d.SetServerAddressList({L"a", L"b", L"c"}), 0u);
         EXPECT_EQ(d.SetServerAddressList({L"d"}), 0u);
     },
     R"({"conn":{"srvaddrlist":["d"]}})"},
    {"an empty list is an empty array",
     [](IData& d) {
         EXPECT_EQ(d.SetServerAddressList({L"a"}), 0u);
         EXPECT_EQ(d.SetServerAddressList({}), 0u);
     },
     R"({"conn":{"srvaddrlist":[]}})"},
    {"the proxy lands inside conn beside the other keys",
     [](IData& d) {
         EXPECT_EQ(d.SetServerAddress(L"s"), 0u);
         EXPECT_EQ(d.SetProxy(MakeProxy(L"p.example", 8080, L"user", L"")), 0u);
     },
     R"({"conn":{"srvaddr":"s","proxy":{"server":"p.example","port":8080,"username":"user","password":""}}})"},
    {"the proxy port is signed", [](IData& d) { EXPECT_EQ(d.SetProxy(MakeProxy(L"", -1, L"", L"")), 0u); },
     R"({"conn":{"proxy":{"server":"","port":-1,"username":"","password":""}}})"},
    {"appid 4294967295 is written as -1", [](IData& d) { EXPECT_EQ(d.SetAppId(4294967295u), 0u); },
     R"({"id":{"appid":-1}})"},
    {"empty strings are written as empty strings",
     [](IData& d) {
         EXPECT_EQ(d.SetToken(qv::WString()), 0u);
         EXPECT_EQ(d.SetServerAddress(L""), 0u);
     },
     R"({"id":{"token":""},"conn":{"srvaddr":""}})"},
    {"wide text is written as UTF-8", [](IData& d) { EXPECT_EQ(d.SetUserId(L"Z\u00fcrich \u20ac"), 0u); },
     u8R"({"id":{"userid":"Zürich €"}})"},
    {"custom data object is stored as an object",
     [](IData& d) { EXPECT_EQ(d.SetCustomData(L"{\"k\":[1,\"x\"]}"), 0u); }, R"({"id":{"customdata":{"k":[1,"x"]}}})"},
    {"custom data number", [](IData& d) { EXPECT_EQ(d.SetCustomData(L"5"), 0u); }, R"({"id":{"customdata":5}})"},
    {"custom data string", [](IData& d) { EXPECT_EQ(d.SetCustomData(L"\"x\""), 0u); }, R"({"id":{"customdata":"x"}})"},
    {"custom data boolean and array, the second replacing the first",
     [](IData& d) {
         EXPECT_EQ(d.SetCustomData(L"true"), 0u);
         EXPECT_EQ(d.SetCustomData(L"[false]"), 0u);
     },
     R"({"id":{"customdata":[false]}})"},
    {"custom data null is stored as null", [](IData& d) { EXPECT_EQ(d.SetCustomData(L"null"), 0u); },
     R"({"id":{"customdata":null}})"},
    {"custom data that is not JSON changes nothing",
     [](IData& d) {
         EXPECT_EQ(d.SetCustomData(L"{\"k\":1}"), 0u);
         for (const wchar_t* bad : {L"", L"{", L"{'k':1}", L"tru", L"[1,]x"}) {
             EXPECT_EQ(d.SetCustomData(bad), static_cast<unsigned long>(ERROR_FUNCTION_FAILED))
                 << testing::PrintToString(std::wstring(bad));
         }
         EXPECT_EQ(d.SetCustomData(qv::WString()), static_cast<unsigned long>(ERROR_FUNCTION_FAILED));
     },
     R"({"id":{"customdata":{"k":1}}})"},
    {"reserved slots change nothing",
     [](IData& d) {
         EXPECT_EQ(d.SetAppId(1), 0u);
         EXPECT_EQ(d.Reserved1(), static_cast<unsigned long>(ERROR_CALL_NOT_IMPLEMENTED));
         EXPECT_EQ(d.Reserved2(), static_cast<unsigned long>(ERROR_CALL_NOT_IMPLEMENTED));
     },
     R"({"id":{"appid":1}})"},
};

TEST(SettingsData, EachSetterSequenceBuildsItsDocument) {
    for (const SetterCase& c : kSetterCases) {
        SCOPED_TRACE(c.name);
        DataImpl data;
        c.setters(data);
        EXPECT_EQ(data.Document(), Parsed(c.document)) << data.Document().toStyledString();
    }
}

TEST(SettingsData, SetConnectionTimeThrowsAStandardExceptionAndWritesNothing) {
    DataImpl data;
    ASSERT_EQ(data.SetServerAddress(L"s"), 0u);
    IData& as_host_sees_it = data;
    try {
        as_host_sees_it.SetConnectionTime();
        ADD_FAILURE() << "SetConnectionTime returned";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "SetConnectionTime not implemented");
    }
    EXPECT_EQ(data.Document(), Parsed(R"({"conn":{"srvaddr":"s"}})"));
}

}  // namespace
