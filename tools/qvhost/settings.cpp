// Reading and changing the agent's settings through "Vorn.Settings".
#include "tools/qvhost/settings.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <functional>
#include <vector>

#include "interfaces/interface_ids.h"
#include "interfaces/settings_manager.h"
#include "tools/qvhost/console.h"
#include "tools/qvhost/scripted.h"

namespace qvhost {

namespace {

using Endpoint::Vorn::Settings::IData;
using Endpoint::Vorn::Settings::IManager;
using Endpoint::Vorn::Settings::Record;

// A connected client links in the background after Init, and Read does not wait for it: a host that has only
// just started retries for a moment.
constexpr unsigned long kReachAgentMs = 10000;
constexpr unsigned long kRetryMs = 100;

unsigned long ReadWhenReachable(IManager& manager, Record& record, int& early_reads) {
    const ULONGLONG deadline = GetTickCount64() + kReachAgentMs;
    early_reads = 0;
    unsigned long result = manager.Read(record);
    while (result != 0 && GetTickCount64() < deadline) {
        ++early_reads;
        Sleep(kRetryMs);
        result = manager.Read(record);
    }
    return result;
}

std::wstring Join(const std::vector<qv::WString>& list) {
    std::wstring text;
    for (const qv::WString& item : list) {
        text += (text.empty() ? L"" : L", ") + std::wstring(item.c_str());
    }
    return text;
}

// Every field, one a line, as "settings get" shows them.
void PrintRecord(const Record& record) {
    const auto& c = record.conn;
    const auto& i = record.id;
    Say(L"conn.srvaddr         %ls\n", c.srvaddr.c_str());
    Say(L"conn.srvaddrlist     %ls\n", Join(c.srvaddrlist).c_str());
    Say(L"conn.storeevs        %ls\n", c.storeevs ? L"true" : L"false");
    Say(L"conn.timesec         %d\n", c.timesec);
    Say(L"conn.proxy           %ls:%d user %ls\n", c.proxy.server.c_str(), c.proxy.port, c.proxy.username.c_str());
    Say(L"id.appid             %d\n", i.appid);
    Say(L"id.custid            %ls\n", i.custid.c_str());
    Say(L"id.userid            %ls\n", i.userid.c_str());
    Say(L"id.groupid           %ls\n", i.groupid.c_str());
    Say(L"id.token             %ls\n", i.token.c_str());
    Say(L"id.customdata        %ls", i.customdata.c_str());
}

// The field as the record holds it, as text.
std::wstring FieldText(const Record& record, const std::wstring& field) {
    const auto& c = record.conn;
    const auto& i = record.id;
    if (field == L"custid") return i.custid.c_str();
    if (field == L"userid") return i.userid.c_str();
    if (field == L"groupid") return i.groupid.c_str();
    if (field == L"token") return i.token.c_str();
    if (field == L"appid") return std::to_wstring(i.appid);
    if (field == L"srvaddr") return c.srvaddr.c_str();
    if (field == L"srvaddrlist") return Join(c.srvaddrlist);
    if (field == L"storeevs") return c.storeevs ? L"true" : L"false";
    if (field == L"customdata") return i.customdata.c_str();
    return std::wstring();
}

std::vector<qv::WString> SplitList(const std::wstring& text) {
    std::vector<qv::WString> list;
    size_t start = 0;
    while (start <= text.size() && !text.empty()) {
        const size_t comma = std::min(text.find(L',', start), text.size());
        std::wstring item = text.substr(start, comma - start);
        while (!item.empty() && item.front() == L' ') {
            item.erase(0, 1);
        }
        list.emplace_back(item.c_str());
        start = comma + 1;
    }
    return list;
}

// Stores one field into the change; ERROR_INVALID_PARAMETER for a field that cannot be set.
unsigned long SetField(IData& data, const std::wstring& field, const std::wstring& value) {
    const qv::WString text(value.c_str());
    if (field == L"custid") return data.SetCustId(text);
    if (field == L"userid") return data.SetUserId(text);
    if (field == L"groupid") return data.SetGroupId(text);
    if (field == L"token") return data.SetToken(text);
    if (field == L"appid") return data.SetAppId(static_cast<std::uint32_t>(std::wcstoul(value.c_str(), nullptr, 10)));
    if (field == L"srvaddr") return data.SetServerAddress(text);
    if (field == L"srvaddrlist") return data.SetServerAddressList(SplitList(value));
    if (field == L"storeevs") return data.SetStoreEvents(value == L"true" || value == L"1");
    if (field == L"customdata") return data.SetCustomData(text);
    return ERROR_INVALID_PARAMETER;
}

// Init, body, Uninit around one manager; body's result, or the step that failed before it.
unsigned long WithManager(const Plugin& plugin, const std::function<unsigned long(IManager&)>& body) {
    Object<IManager> manager(plugin, L"Vorn.Settings", Endpoint::Vorn::IID_ISettingsManager);
    if (!manager) {
        Say(L"   Vorn.Settings is not available (result %lu)\n", manager.CreateResult());
        return manager.CreateResult();
    }
    const unsigned long initialised = manager->Init();
    Say(L"   Init -> %lu\n", initialised);
    if (initialised != 0) {
        return initialised;
    }
    const unsigned long result = body(*manager);
    manager->Uninit();
    return result;
}

// Sends the change, then reads the field back; prints each step.
unsigned long Change(IManager& manager, const std::wstring& field, const std::wstring& value) {
    IData* change = manager.CreateData();
    unsigned long result = SetField(*change, field, value);
    if (result == 0) {
        result = manager.Update(change);
        Say(L"   CreateData, set %ls to \"%ls\", Update -> %lu (it waits until the agent's server is up)\n",
            field.c_str(), value.c_str(), result);
    } else {
        Say(L"   %ls cannot be set to \"%ls\" (result %lu)\n", field.c_str(), value.c_str(), result);
    }
    manager.DestroyData(change);
    if (result != 0) {
        return result;
    }
    Record after;
    result = manager.Read(after);
    const std::wstring read_back = FieldText(after, field);
    Say(L"   Read again -> %lu: %ls is \"%ls\"\n", result, field.c_str(), read_back.c_str());
    return result == 0 && read_back != value && field != L"customdata" ? ERROR_INVALID_DATA : result;
}

}  // namespace

bool ChangeAndReadBack(const Plugin& plugin, const std::wstring& field, const std::wstring& value) {
    const unsigned long result = WithManager(plugin, [&](IManager& manager) {
        Record before;
        int early_reads = 0;
        const unsigned long read = ReadWhenReachable(manager, before, early_reads);
        if (early_reads > 0) {
            Say(L"   Read failed %d time(s) while the new link was still connecting (logged as errors), "
                L"so the host retried\n",
                early_reads);
        }
        Say(L"   Read -> %lu: custid \"%ls\", server %ls of [%ls], proxy %ls:%d, appid %d\n", read,
            before.id.custid.c_str(), before.conn.srvaddr.c_str(), Join(before.conn.srvaddrlist).c_str(),
            before.conn.proxy.server.c_str(), before.conn.proxy.port, before.id.appid);
        return read != 0 ? read : Change(manager, field, value);
    });
    Say(L"   Uninit\n");
    return result == 0;
}

int RunSettingsCommand(const Plugin& plugin, const std::wstring& verb, const std::wstring& field,
                       const std::wstring& value, const std::wstring& reply_file) {
    const unsigned long result = WithManager(plugin, [&](IManager& manager) {
        if (!reply_file.empty() && !ScriptSettingsReply(reply_file)) {
            return static_cast<unsigned long>(ERROR_INVALID_DATA);
        }
        Record record;
        int early_reads = 0;
        const unsigned long read = ReadWhenReachable(manager, record, early_reads);
        if (read != 0) {
            Say(L"the agent's settings cannot be read: is an agent running? (qvhost agent run SECONDS DIR)\n");
            return read;
        }
        if (verb == L"set") {
            Say(L"   %ls was \"%ls\"\n", field.c_str(), FieldText(record, field).c_str());
            return Change(manager, field, value);
        }
        PrintRecord(record);
        return read;
    });
    Say(L"\nVorn.Settings %ls: result %lu%ls%ls\n", verb.c_str(), result, result != 0 ? L" - " : L"",
        result != 0 ? ErrorText(result).c_str() : L"");
    return result == 0 ? 0 : 1;
}

}  // namespace qvhost
