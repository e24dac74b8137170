// Compiled only by check_msvc_abi.py in Microsoft's C++ ABI, to make the compiler lay out every interface and
// record shared across a module boundary; never built into a test executable.
//
// One virtual call per interface is enough for the compiler to compute (and dump) that interface's whole
// table; sizeof does the same for a record. An interface missing here is reported by the check as missing
// from the dump, so a new one cannot be forgotten silently.
#include "agent_link/vorn_comm_client.h"
#include "interfaces/base_object.h"
#include "interfaces/client.h"
#include "interfaces/event_descriptor.h"
#include "interfaces/interface_ids.h"
#include "interfaces/notification.h"
#include "interfaces/policy.h"
#include "interfaces/policy_handle.h"
#include "interfaces/qv_base_interface.h"
#include "interfaces/serv_plugin.h"
#include "interfaces/service.h"
#include "interfaces/settings_data.h"
#include "interfaces/settings_manager.h"
#include "interfaces/settings_record.h"
#include "module/object_constructor.h"
#include "service_host/host_interfaces.h"
#include "support/sync/sync_rw_lock.h"

namespace probe {

using namespace Endpoint::Vorn;

void Call(IQvBaseInterface* p) { p->QueryInterface(IID_IQvBaseInterface); }
void Call(IBaseObject* p) { p->Uninit(); }
void Call(IClient* p) { p->Stop(); }
void Call(IPolicy* p) { p->GetId(); }
void Call(IPolicyHandle* p) { p->OnLiveCommand(nullptr); }
void Call(INotification* p) { p->OnNotification(0, qv::WString()); }
void Call(IService* p) { p->IsInstalled(); }
void Call(Settings::IManager* p) { p->CreateData(); }
void Call(Settings::IData* p) { p->Reserved1(); }
void Call(IServPlugin* p) { p->Stop(); }

void Call(Product::IHost* p) { p->GetComponentManager(); }
void Call(Product::IComponentManager* p) { p->release(L""); }
void Call(Product::ILoggerConfiguration* p) { p->fill(nullptr); }
void Call(Product::ILoggerConfiguration::IEvents* p) { p->OnSettingsChanged(); }

void Call(vorn::policy_handler* p) { p->on_notification(""); }
void Call(vorn::notification_handler* p) { p->on_notification(0, ""); }
void Call(vorn::command_result* p) { p->set_result(0); }

void Call(IObjectConstructor* p) { p->HasInstances(); }
void Call(ISyncRWLock* p) { p->ReadLock(0); }

constexpr unsigned long kRecordSizes[] = {
    sizeof(EventDescriptor),      sizeof(Product::LoggerSettings), sizeof(Settings::Record),
    sizeof(Settings::Connection), sizeof(Settings::Proxy),         sizeof(Settings::Identity),
};

}  // namespace probe
