// Comparing a loaded settings record with a settings document.
#include "tools/qvhost/soak/record_match.h"

#include <memory>
#include <string>

#include "equipment/text.h"
#include "tools/qvhost/plugin.h"
#include "tools/qvhost/soak/ledger.h"

namespace qvhost {

namespace {

using Endpoint::Vorn::Settings::Record;

bool Text(const qv::WString& field, const Json::Value& value) {
    const std::string text = equipment::ToUtf8(field.c_str());
    if (value.isNull()) {
        return text.empty();
    }
    if (value.isString()) {
        return text == value.asString();
    }
    return value.isIntegral() && text == std::to_string(value.asLargestInt());
}

bool Integer(int field, const Json::Value& value) {
    if (value.isNull()) {
        return field == 0;
    }
    return value.isInt() ? field == value.asInt() : value.isUInt() && field == static_cast<int>(value.asUInt());
}

bool Flag(bool field, const Json::Value& value) {
    if (value.isNull()) {
        return !field;
    }
    return value.isBool() ? field == value.asBool() : value.isIntegral() && field == (value.asLargestInt() != 0);
}

bool Custom(const qv::WString& field, const Json::Value& value) {
    const std::string text = equipment::ToUtf8(field.c_str());
    if (value.isNull()) {
        return text.empty();
    }
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value loaded;
    std::string errors;
    return reader->parse(text.data(), text.data() + text.size(), &loaded, &errors) && loaded == value;
}

}  // namespace

bool RecordMatches(const Record& record, const Json::Value& document) {
    const Json::Value conn = At(document, {"conn"});
    const Json::Value id = At(document, {"id"});
    const Json::Value list = At(conn, {"srvaddrlist"});
    if (!list.isArray() || list.size() != record.conn.srvaddrlist.size()) {
        return false;
    }
    for (Json::ArrayIndex n = 0; n < list.size(); ++n) {
        if (!Text(record.conn.srvaddrlist[n], list[n])) {
            return false;
        }
    }
    const Json::Value proxy = At(conn, {"proxy"});
    return Text(record.conn.srvaddr, At(conn, {"srvaddr"})) && Flag(record.conn.storeevs, At(conn, {"storeevs"})) &&
           Integer(record.conn.timesec, At(conn, {"timesec"})) &&
           Text(record.conn.proxy.server, At(proxy, {"server"})) &&
           Integer(record.conn.proxy.port, At(proxy, {"port"})) &&
           Text(record.conn.proxy.username, At(proxy, {"username"})) &&
           Text(record.conn.proxy.password, At(proxy, {"password"})) && Integer(record.id.appid, At(id, {"appid"})) &&
           Text(record.id.custid, At(id, {"custid"})) && Text(record.id.userid, At(id, {"userid"})) &&
           Text(record.id.groupid, At(id, {"groupid"})) && Text(record.id.token, At(id, {"token"})) &&
           Custom(record.id.customdata, At(id, {"customdata"}));
}

}  // namespace qvhost
