// DataImpl: the settings change that the host builds through Settings::IData, held as one JSON document.
#pragma once

#include <json/json.h>

#include <exception>

#include "interfaces/settings_data.h"

namespace Endpoint::Vorn::NG {

// The host catches what SetConnectionTime throws as std::exception and reads its message. Microsoft's standard
// library gives std::exception a message of its own; elsewhere it has none, and the smallest subclass that
// carries one is thrown instead.
#if defined(_MSC_VER) && defined(_CPPLIB_VER)
#define VORN_STD_EXCEPTION_HAS_MESSAGE 1
#else
class ConnectionTimeNotImplemented : public std::exception {
public:
    const char* what() const noexcept override { return "SetConnectionTime not implemented"; }
};
#endif

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
