// Settings::Record: the agent's identity and connection settings as plain fields, filled by IManager::Read.
//
// The host compiles against these same types, so the wide string and the list are the plug-in's own
// qv::WString and std::vector of it: a host built with the same standard library shares them as they stand.
#pragma once

#include <vector>

#include "support/strings/qv_string.h"

namespace Endpoint::Vorn::Settings {

// Also the argument of IData::SetProxy.
struct Proxy {
    qv::WString server;
    int port = 0;
    qv::WString username;
    qv::WString password;
};

struct Connection {
    qv::WString srvaddr;
    std::vector<qv::WString> srvaddrlist;  // in the agent's order
    bool storeevs = false;
    int timesec = 0;
    Proxy proxy;
};

struct Identity {
    int appid = 0;
    qv::WString customdata;  // styled JSON text of whatever value the agent holds
    qv::WString custid;
    qv::WString userid;
    qv::WString groupid;
    qv::WString token;
};

struct Record {
    Connection conn;
    Identity id;
};

}  // namespace Endpoint::Vorn::Settings
