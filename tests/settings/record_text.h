// The settings record as one line of text, so that a test compares a whole record and a failure shows it.
#pragma once

#include <string>
#include <vector>

#include "interfaces/settings_record.h"
#include "support/strings/utf8.h"

namespace settings_test {

inline std::string Narrow(const qv::WString& text) { return qv::ToUtf8(text).GetString(); }
inline std::wstring Wide(const std::string& utf8) { return qv::FromUtf8(utf8.c_str()).GetString(); }

// customdata is left out: its styled text is compared by value where it matters.
inline std::string RecordText(const Endpoint::Vorn::Settings::Record& record) {
    const auto& c = record.conn;
    const auto& i = record.id;
    std::string list;
    for (const qv::WString& address : c.srvaddrlist) {
        list += (list.empty() ? "" : ",") + Narrow(address);
    }
    return "srvaddr=" + Narrow(c.srvaddr) + " list=[" + list + "] storeevs=" + (c.storeevs ? "1" : "0") +
           " timesec=" + std::to_string(c.timesec) + " proxy=" + Narrow(c.proxy.server) + ":" +
           std::to_string(c.proxy.port) + ":" + Narrow(c.proxy.username) + ":" + Narrow(c.proxy.password) +
           " | appid=" + std::to_string(i.appid) + " custid=" + Narrow(i.custid) + " userid=" + Narrow(i.userid) +
           " groupid=" + Narrow(i.groupid) + " token=" + Narrow(i.token);
}

// A record whose every field holds a value no document below produces, to tell untouched fields apart.
inline Endpoint::Vorn::Settings::Record OldRecord() {
    Endpoint::Vorn::Settings::Record record;
    record.conn.srvaddr = L"old";
    record.conn.srvaddrlist = {L"old1", L"old2"};
    record.conn.storeevs = true;
    record.conn.timesec = 99;
    record.conn.proxy.server = L"old";
    record.conn.proxy.port = 98;
    record.conn.proxy.username = L"old";
    record.conn.proxy.password = L"old";
    record.id.appid = 97;
    record.id.customdata = L"old";
    record.id.custid = L"old";
    record.id.userid = L"old";
    record.id.groupid = L"old";
    record.id.token = L"old";
    return record;
}

inline const char kOldRecordText[] =
    "srvaddr=old list=[old1,old2] storeevs=1 timesec=99 proxy=old:98:old:old | appid=97 custid=old userid=old "
    "groupid=old token=old";

}  // namespace settings_test
