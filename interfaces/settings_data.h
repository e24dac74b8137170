// Settings::IData: a settings change that the host builds key by key and hands to IManager::Update.
#pragma once

#include <cstdint>
#include <vector>

#include "interfaces/settings_record.h"
#include "support/strings/qv_string.h"

namespace Endpoint::Vorn::Settings {

// Write-only: each setter stores one key of the change; keys never set are not sent. Setters return 0 when the
// value was stored and ERROR_FUNCTION_FAILED when it was not. Objects come from IManager::CreateData and go
// back through IManager::DestroyData; Update accepts no other implementation.
struct IData {
    virtual ~IData() = default;
    // Reserved slots: they do nothing and return ERROR_CALL_NOT_IMPLEMENTED.
    virtual unsigned long Reserved1() = 0;
    virtual unsigned long Reserved2() = 0;
    // Written as a signed 32-bit number, so 4294967295 travels as -1.
    virtual unsigned long SetAppId(std::uint32_t appid) = 0;
    virtual unsigned long SetToken(const qv::WString& token) = 0;
    virtual unsigned long SetCustId(const qv::WString& custid) = 0;
    virtual unsigned long SetUserId(const qv::WString& userid) = 0;
    virtual unsigned long SetGroupId(const qv::WString& groupid) = 0;
    // Replaces the whole list; an empty list is sent as an empty one.
    virtual unsigned long SetServerAddressList(const std::vector<qv::WString>& srvaddrlist) = 0;
    virtual unsigned long SetServerAddress(const qv::WString& srvaddr) = 0;
    virtual unsigned long SetStoreEvents(bool storeevs) = 0;
    // Always 0: the four keys are written whatever happens to each.
    virtual unsigned long SetProxy(const Proxy& proxy) = 0;
    // customdata is JSON text; the parsed value is sent, not the text. Text that is not JSON changes nothing.
    virtual unsigned long SetCustomData(const qv::WString& customdata) = 0;
    // The connection time cannot be set: this always throws a std::exception whose what() says so.
    virtual void SetConnectionTime() = 0;
};

}  // namespace Endpoint::Vorn::Settings
