// The settings document loader on documents that the agent could send: shapes, coercions, required keys,
// partial loads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/json_composed_serializer.h"
#include "support/logging/log_handle.h"
#include "tests/support/logging/log_records.h"
#include "tests/settings/record_text.h"

using Endpoint::Vorn::NG::JsonComposedSerializer;
using Endpoint::Vorn::Settings::Record;
using settings_test::kOldRecordText;
using settings_test::OldRecord;
using settings_test::RecordText;

namespace {

const std::string kMinConn = R"("srvaddrlist":["a"])";
const std::string kMinId = R"("appid":1,"custid":"c","userid":"u")";

std::string Doc(const std::string& conn, const std::string& id) {
    return "{\"conn\":{" + conn + "},\"id\":{" + id + "}}";
}

Json::Value Parsed(const std::string& text) {
    Json::Value value;
    Json::Reader reader;
    EXPECT_TRUE(reader.parse(text, value)) << text;
    return value;
}

// Loads as the settings manager does: the connection section, then the identity section if that loaded.
bool LoadRecord(const std::string& text, Record& record) {
    Json::Value document = Parsed(text);
    JsonComposedSerializer root(&document, "");
    return root.Load("conn", record.conn) && root.Load("id", record.id);
}

struct LoadCase {
    const char* name;
    std::string document;
    bool loaded;
    std::string record;                 // RecordText after loading into OldRecord()
    std::vector<std::string> warnings;  // keys of "Failed to load subnode %s", in order
};

const std::string kUntouchedId = "appid=97 custid=old userid=old groupid=old token=old";
const std::string kMinIdText = "appid=1 custid=c userid=u groupid=old token=old";
const std::string kMinConnText = "srvaddr=old list=[a] storeevs=1 timesec=99 proxy=old:98:old:old";

const LoadCase kLoadCases[] = {
    {"every key",
     Doc(R"("srvaddrlist":["a.example","b.example"],"srvaddr":"s.example","storeevs":false,"timesec":30,)"
         R"("proxy":{"server":"p.example","port":8080,"username":"pu","password":"pp"},"unknown":1)",
         R"("appid":5,"custid":"c1","userid":"u1","groupid":"g1","token":"t1","customdata":{"k":1})"),
     true,
     "srvaddr=s.example list=[a.example,b.example] storeevs=0 timesec=30 proxy=p.example:8080:pu:pp | appid=5 "
     "custid=c1 userid=u1 groupid=g1 token=t1",
     {}},
    {"only the required keys: optional fields keep the caller's values",
     Doc(kMinConn, kMinId),
     true,
     kMinConnText + " | " + kMinIdText,
     {}},
    {"optional keys holding null count as absent",
     Doc(kMinConn + R"(,"srvaddr":null,"storeevs":null,"timesec":null,"proxy":null)",
         kMinId + R"(,"groupid":null,"token":null,"customdata":null)"),
     true,
     kMinConnText + " | " + kMinIdText,
     {}},
    {"integers as text, unsigned integers keep their 32 bits",
     Doc(R"("srvaddrlist":["a",7,4294967295,-7],"srvaddr":17,"storeevs":2,"timesec":4294967295,)"
         R"("proxy":{"server":1,"port":4294967295,"username":0,"password":-1})",
         R"("appid":4294967295,"custid":12,"userid":"u","groupid":-3,"token":0)"),
     true,
     "srvaddr=17 list=[a,7,4294967295,-7] storeevs=1 timesec=-1 proxy=1:-1:0:-1 | appid=-1 custid=12 userid=u "
     "groupid=-3 token=0",
     {}},
    {"storeevs 0 is false",
     Doc(kMinConn + R"(,"storeevs":0)", kMinId),
     true,
     "srvaddr=old list=[a] storeevs=0 timesec=99 proxy=old:98:old:old | " + kMinIdText,
     {}},
    {"storeevs as an unsigned integer",
     Doc(kMinConn + R"(,"storeevs":4294967295)", kMinId),
     true,
     kMinConnText + " | " + kMinIdText,
     {}},
    {"storeevs true", Doc(kMinConn + R"(,"storeevs":true)", kMinId), true, kMinConnText + " | " + kMinIdText, {}},
    {"storeevs as a string is refused: earlier fields loaded, storeevs reset, later ones and id untouched",
     Doc(R"("srvaddrlist":["a"],"srvaddr":"s","storeevs":"1","timesec":5)", kMinId),
     false,
     "srvaddr=s list=[a] storeevs=0 timesec=99 proxy=old:98:old:old | " + kUntouchedId,
     {"storeevs", "conn"}},
    {"storeevs as a fraction is refused",
     Doc(kMinConn + R"(,"storeevs":0.5)", kMinId),
     false,
     "srvaddr=old list=[a] storeevs=0 timesec=99 proxy=old:98:old:old | " + kUntouchedId,
     {"storeevs", "conn"}},
    {"timesec as a string of digits is refused",
     Doc(kMinConn + R"(,"timesec":"12")", kMinId),
     false,
     "srvaddr=old list=[a] storeevs=1 timesec=0 proxy=old:98:old:old | " + kUntouchedId,
     {"timesec", "conn"}},
    {"timesec as a boolean is refused",
     Doc(kMinConn + R"(,"timesec":true)", kMinId),
     false,
     "srvaddr=old list=[a] storeevs=1 timesec=0 proxy=old:98:old:old | " + kUntouchedId,
     {"timesec", "conn"}},
    {"timesec beyond 32 bits is refused",
     Doc(kMinConn + R"(,"timesec":4294967296)", kMinId),
     false,
     "srvaddr=old list=[a] storeevs=1 timesec=0 proxy=old:98:old:old | " + kUntouchedId,
     {"timesec", "conn"}},
    {"srvaddr as an object is refused",
     Doc(kMinConn + R"(,"srvaddr":{},"timesec":5)", kMinId),
     false,
     "srvaddr= list=[a] storeevs=1 timesec=99 proxy=old:98:old:old | " + kUntouchedId,
     {"srvaddr", "conn"}},
    {"an empty srvaddrlist loads as an empty list",
     Doc(R"("srvaddrlist":[])", kMinId),
     true,
     "srvaddr=old list=[] storeevs=1 timesec=99 proxy=old:98:old:old | " + kMinIdText,
     {}},
    {"a null element empties the list and stops before srvaddr",
     Doc(R"("srvaddrlist":["a",null],"srvaddr":"s")", kMinId),
     false,
     "srvaddr=old list=[] storeevs=1 timesec=99 proxy=old:98:old:old | " + kUntouchedId,
     {"srvaddrlist", "conn"}},
    {"a boolean element",
     Doc(R"("srvaddrlist":["a",true])", kMinId),
     false,
     "srvaddr=old list=[] storeevs=1 timesec=99 proxy=old:98:old:old | " + kUntouchedId,
     {"srvaddrlist", "conn"}},
    {"an object element",
     Doc(R"("srvaddrlist":[{}])", kMinId),
     false,
     "srvaddr=old list=[] storeevs=1 timesec=99 proxy=old:98:old:old | " + kUntouchedId,
     {"srvaddrlist", "conn"}},
    {"an array element",
     Doc(R"("srvaddrlist":[["a"]])", kMinId),
     false,
     "srvaddr=old list=[] storeevs=1 timesec=99 proxy=old:98:old:old | " + kUntouchedId,
     {"srvaddrlist", "conn"}},
    {"srvaddrlist as a string",
     Doc(R"("srvaddrlist":"a")", kMinId),
     false,
     "srvaddr=old list=[] storeevs=1 timesec=99 proxy=old:98:old:old | " + kUntouchedId,
     {"srvaddrlist", "conn"}},
    {"srvaddrlist null is absent, and required",
     Doc(R"("srvaddrlist":null,"srvaddr":"s")", kMinId),
     false,
     "srvaddr=old list=[] storeevs=1 timesec=99 proxy=old:98:old:old | " + kUntouchedId,
     {"srvaddrlist", "conn"}},
    {"srvaddrlist missing",
     Doc(R"("srvaddr":"s")", kMinId),
     false,
     "srvaddr=old list=[] storeevs=1 timesec=99 proxy=old:98:old:old | " + kUntouchedId,
     {"srvaddrlist", "conn"}},
    {"an empty proxy fails at its first key",
     Doc(kMinConn + R"(,"proxy":{})", kMinId),
     false,
     "srvaddr=old list=[a] storeevs=1 timesec=99 proxy=:98:old:old | " + kUntouchedId,
     {"server", "proxy", "conn"}},
    {"a proxy without port: server loaded, port reset, username untouched",
     Doc(kMinConn + R"(,"proxy":{"server":"p","username":"pu","password":"pp"})", kMinId),
     false,
     "srvaddr=old list=[a] storeevs=1 timesec=99 proxy=p:0:old:old | " + kUntouchedId,
     {"port", "proxy", "conn"}},
    {"a proxy port as text",
     Doc(kMinConn + R"(,"proxy":{"server":"p","port":"80","username":"u","password":"w"})", kMinId),
     false,
     "srvaddr=old list=[a] storeevs=1 timesec=99 proxy=p:0:old:old | " + kUntouchedId,
     {"port", "proxy", "conn"}},
    {"a proxy password null",
     Doc(kMinConn + R"(,"proxy":{"server":"p","port":1,"username":"u","password":null})", kMinId),
     false,
     "srvaddr=old list=[a] storeevs=1 timesec=99 proxy=p:1:u: | " + kUntouchedId,
     {"password", "proxy", "conn"}},
    {"a proxy that is a string",
     Doc(kMinConn + R"(,"proxy":"p:80")", kMinId),
     false,
     "srvaddr=old list=[a] storeevs=1 timesec=99 proxy=:98:old:old | " + kUntouchedId,
     {"server", "proxy", "conn"}},
    {"no id: the connection stays loaded",
     "{\"conn\":{" + kMinConn + "}}",
     false,
     kMinConnText + " | appid=0 custid=old userid=old groupid=old token=old",
     {"appid", "id"}},
    {"an id without userid",
     Doc(kMinConn, R"("appid":1,"custid":"c","groupid":"g")"),
     false,
     kMinConnText + " | appid=1 custid=c userid= groupid=old token=old",
     {"userid", "id"}},
    {"appid as a fraction",
     Doc(kMinConn, R"("appid":1.5,"custid":"c","userid":"u")"),
     false,
     kMinConnText + " | appid=0 custid=old userid=old groupid=old token=old",
     {"appid", "id"}},
    {"custid as a boolean",
     Doc(kMinConn, R"("appid":1,"custid":true,"userid":"u")"),
     false,
     kMinConnText + " | appid=1 custid= userid=old groupid=old token=old",
     {"custid", "id"}},
    {"an optional token of the wrong type fails the section",
     Doc(kMinConn, kMinId + R"(,"token":[1])"),
     false,
     kMinConnText + " | appid=1 custid=c userid=u groupid=old token=",
     {"token", "id"}},
    {"a root that is an array",
     "[1,2]",
     false,
     "srvaddr=old list=[] storeevs=1 timesec=99 proxy=old:98:old:old | " + kUntouchedId,
     {"srvaddrlist", "conn"}},
    {"a root that is a string",
     "\"conn\"",
     false,
     "srvaddr=old list=[] storeevs=1 timesec=99 proxy=old:98:old:old | " + kUntouchedId,
     {"srvaddrlist", "conn"}},
    {"a root that is null",
     "null",
     false,
     "srvaddr=old list=[] storeevs=1 timesec=99 proxy=old:98:old:old | " + kUntouchedId,
     {"srvaddrlist", "conn"}},
    {"an empty root object",
     "{}",
     false,
     "srvaddr=old list=[] storeevs=1 timesec=99 proxy=old:98:old:old | " + kUntouchedId,
     {"srvaddrlist", "conn"}},
    {"conn that is a number",
     "{\"conn\":5,\"id\":{" + kMinId + "}}",
     false,
     "srvaddr=old list=[] storeevs=1 timesec=99 proxy=old:98:old:old | " + kUntouchedId,
     {"srvaddrlist", "conn"}},
};

// Holds the log binder, as the plug-in's module does, so that the loader's warnings reach the stand-in log.dll.
class SettingsLoader : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(log_.Valid());
        handle_.Acquire();
        log_.Clear();
    }
    void TearDown() override { handle_.Release(); }

    static std::vector<LogLine> Warnings(const std::vector<std::string>& keys) {
        std::vector<LogLine> lines;
        for (const std::string& key : keys) {
            lines.push_back(
                {0x08, L"JsonComposedSerializer::Load", L"Failed to load subnode " + settings_test::Wide(key)});
        }
        return lines;
    }

    KeptStandInLog log_;
    logging::LogHandle handle_;
};

TEST_F(SettingsLoader, LoadsEachDocumentAsFarAsItIsValidAndNamesEachFailingNodeInnermostFirst) {
    for (const LoadCase& c : kLoadCases) {
        SCOPED_TRACE(c.name);
        log_.Clear();
        Record record = OldRecord();
        EXPECT_EQ(LoadRecord(c.document, record), c.loaded);
        EXPECT_EQ(RecordText(record), c.record);
        EXPECT_EQ(Messages(WrittenLines(log_)), Warnings(c.warnings));
        EXPECT_TRUE(Traces(WrittenLines(log_)).empty());
    }
}

TEST_F(SettingsLoader, CustomDataOfEveryJsonTypeIsKeptAsStyledTextOfThatValue) {
    for (const char* value : {R"({"k":[1,"two",{"three":3}]})", "[1,2]", "\"text\"", "5", "-5", "2.5", "true", "false",
                              "{}", "[]", "\"\""}) {
        SCOPED_TRACE(value);
        Record record = OldRecord();
        ASSERT_TRUE(LoadRecord(Doc(kMinConn, kMinId + ",\"customdata\":" + value), record));
        const std::string text = settings_test::Narrow(record.id.customdata);
        EXPECT_EQ(Parsed(text), Parsed(value)) << text;
        // Styled text ends its last line; a compact rendering would not.
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '\n');
    }
}

TEST_F(SettingsLoader, CustomDataAbsentNullOrAfterAFailureLeavesTheFieldAlone) {
    for (const std::string& document : {Doc(kMinConn, kMinId), Doc(kMinConn, kMinId + R"(,"customdata":null)"),
                                        Doc(kMinConn, kMinId + R"(,"token":{},"customdata":{"k":1})"),
                                        Doc(R"("srvaddrlist":5)", kMinId + R"(,"customdata":{"k":1})")}) {
        SCOPED_TRACE(document);
        Record record = OldRecord();
        LoadRecord(document, record);
        EXPECT_EQ(settings_test::Narrow(record.id.customdata), "old");
    }
}

TEST_F(SettingsLoader, TextIsConvertedFromUtf8) {
    Record record = OldRecord();
    ASSERT_TRUE(LoadRecord(Doc(R"("srvaddrlist":["h\u00f6st.example"])", kMinId + u8R"(,"token":"Zürich €")"), record));
    ASSERT_EQ(record.conn.srvaddrlist.size(), 1u);
    EXPECT_EQ(std::wstring(record.conn.srvaddrlist[0].GetString()), L"h\u00f6st.example");
    EXPECT_EQ(std::wstring(record.id.token.GetString()), L"Z\u00fcrich \u20ac");
}

TEST_F(SettingsLoader, ASerializerWithoutANodeLoadsNothingAndResetsNothing) {
    Json::Value document = Parsed(R"({"custid":"c","appid":1})");
    for (JsonComposedSerializer serializer :
         {JsonComposedSerializer(nullptr, ""), JsonComposedSerializer(&document, nullptr)}) {
        qv::WString text = L"old";
        int number = 9;
        bool flag = true;
        std::vector<qv::WString> list = {L"old"};
        Record record = OldRecord();
        EXPECT_FALSE(serializer.Load("custid", text));
        EXPECT_FALSE(serializer.Load("appid", number));
        EXPECT_FALSE(serializer.Load("storeevs", flag));
        EXPECT_FALSE(serializer.Load("srvaddrlist", list));
        EXPECT_FALSE(serializer.Load("conn", record.conn));
        EXPECT_FALSE(serializer.Load("id", record.id));
        EXPECT_FALSE(serializer.HasMember("custid"));
        EXPECT_EQ(settings_test::Narrow(text), "old");
        EXPECT_EQ(number, 9);
        EXPECT_TRUE(flag);
        EXPECT_EQ(list.size(), 1u);
        EXPECT_EQ(RecordText(record), kOldRecordText);
    }
    EXPECT_TRUE(Messages(WrittenLines(log_)).empty()) << "a serializer without a node fails silently";
}

TEST_F(SettingsLoader, AnEmptyPathReadsTheParentAndAPathMakesTheNodeInTheDocument) {
    Json::Value document = Parsed(R"({"custid":"c","appid":7,"gone":null})");
    JsonComposedSerializer root(&document, "");
    qv::WString custid;
    int appid = 0;
    EXPECT_TRUE(root.Load("custid", custid));
    EXPECT_TRUE(root.Load("appid", appid));
    EXPECT_EQ(settings_test::Narrow(custid), "c");
    EXPECT_EQ(appid, 7);
    EXPECT_TRUE(root.HasMember("appid"));
    EXPECT_FALSE(root.HasMember("gone"));
    EXPECT_FALSE(root.HasMember("missing"));

    // A section's serializer stands on its own node even when the document lacks it.
    JsonComposedSerializer section(&document, "section");
    EXPECT_TRUE(document.isMember("section"));
    EXPECT_TRUE(document["section"].isNull());
    EXPECT_FALSE(section.HasMember("custid"));
}

}  // namespace
