// DataImpl: the settings change that the host builds through Settings::IData, held as one JSON document.
#pragma once

#include <json/json.h>

#include <exception>

#include "interfaces/settings_data.h"

namespace Endpoint::Vorn::NG {

// What SetConnectionTime throws. The host catches it as std::exception, whose MinGW form takes no message.
class ConnectionTimeNotImplemented : public std::exception {
public:
    const char* what() const noexcept override { return "SetConnectionTime not implemented"; }
};

// Every setter writes its key path with a create-mode lookup, so the document has the shape of the one the
// agent reports and holds exactly the keys that were set. Not synchronised: one thread at a time.
class DataImpl final : public Settings::IData {
public:
    unsigned long Reserved1() override;
    unsigned long Reserved2() override;
    unsigned long SetAppId(std::uint32_t appid) override;
    unsigned long SetToken(const qv::WString& token) override;
    unsigned long SetCustId(const qv::WString& custid) override;
    unsigned long SetUserId(const qv::WString& userid) override;
    unsigned long SetGroupId(const qv::WString& groupid) override;
    unsigned long SetServerAddressList(const std::vector<qv::WString>& srvaddrlist) override;
    unsigned long SetServerAddress(const qv::WString& srvaddr) override;
    unsigned long SetStoreEvents(bool storeevs) override;
    unsigned long SetProxy(const Settings::Proxy& proxy) override;
    unsigned long SetCustomData(const qv::WString& customdata) override;
    [[noreturn]] void SetConnectionTime() override;

    // What Update sends: JSON null until a setter ran.
    const Json::Value& Document() const { return document_; }

private:
    unsigned long Write(const char* path, const Json::Value& value);
    unsigned long Write(const char* path, const qv::WString& text);

    Json::Value document_;
};

}  // namespace Endpoint::Vorn::NG
