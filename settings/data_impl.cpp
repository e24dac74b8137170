// The settings change document: one key path per setter.
#include "settings/data_impl.h"

#include <windows.h>

#include "agent_link/json_path.h"
#include "support/strings/utf8.h"

namespace Endpoint::Vorn::NG {

unsigned long DataImpl::Write(const char* path, const Json::Value& value) {
    Json::Value* node = JsonFindNode(&document_, path, true);
    if (node == nullptr) {
        return ERROR_FUNCTION_FAILED;
    }
    *node = value;
    return ERROR_SUCCESS;
}

unsigned long DataImpl::Write(const char* path, const qv::WString& text) {
    return Write(path, Json::Value(qv::ToUtf8(text).GetString()));
}

unsigned long DataImpl::Reserved1() { return ERROR_CALL_NOT_IMPLEMENTED; }

unsigned long DataImpl::Reserved2() { return ERROR_CALL_NOT_IMPLEMENTED; }

unsigned long DataImpl::SetAppId(std::uint32_t appid) {
    // The agent reads appid as a signed 32-bit number.
    return Write("id/appid", Json::Value(static_cast<Json::Int>(appid)));
}

unsigned long DataImpl::SetToken(const qv::WString& token) { return Write("id/token", token); }

unsigned long DataImpl::SetCustId(const qv::WString& custid) { return Write("id/custid", custid); }

unsigned long DataImpl::SetUserId(const qv::WString& userid) { return Write("id/userid", userid); }

unsigned long DataImpl::SetGroupId(const qv::WString& groupid) { return Write("id/groupid", groupid); }

unsigned long DataImpl::SetServerAddressList(const std::vector<qv::WString>& srvaddrlist) {
    Json::Value list(Json::arrayValue);
    for (const qv::WString& address : srvaddrlist) {
        list.append(Json::Value(qv::ToUtf8(address).GetString()));
    }
    return Write("conn/srvaddrlist", list);
}

unsigned long DataImpl::SetServerAddress(const qv::WString& srvaddr) { return Write("conn/srvaddr", srvaddr); }

unsigned long DataImpl::SetStoreEvents(bool storeevs) { return Write("conn/storeevs", Json::Value(storeevs)); }

unsigned long DataImpl::SetProxy(const Settings::Proxy& proxy) {
    // The four keys go in one by one; a write that fails leaves the others standing and is not reported.
    (void)Write("conn/proxy/server", proxy.server);
    (void)Write("conn/proxy/port", Json::Value(static_cast<Json::Int>(proxy.port)));
    (void)Write("conn/proxy/username", proxy.username);
    (void)Write("conn/proxy/password", proxy.password);
    return ERROR_SUCCESS;
}

unsigned long DataImpl::SetCustomData(const qv::WString& customdata) {
    Json::Value value;
    if (!JsonParseWide(value, customdata.GetString())) {
        return ERROR_FUNCTION_FAILED;
    }
    return Write("id/customdata", value);
}

void DataImpl::SetConnectionTime() {
#ifdef VORN_STD_EXCEPTION_HAS_MESSAGE
    throw std::exception("SetConnectionTime not implemented");
#else
    throw ConnectionTimeNotImplemented();
#endif
}

}  // namespace Endpoint::Vorn::NG
