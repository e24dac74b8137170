// The module's static objects. They live in this one file so that the language's order of definition is
// their order of construction (and the reverse, of destruction):
//   1. the "Vorn.Client" declaration (its registry hold makes the registry),
//   2. the module's log handle (loads log.dll before the host can ask for any object),
//   3. the "Vorn.AL" declaration, 4. the "Vorn.Service" declaration, 5. the "Vorn.Settings" declaration.
// At unload the declarations unregister in reverse order, the last one frees the registry, and the log
// handle's release unloads log.dll unless an object still alive holds the binder.
#include "agent_link/client_impl.h"
#include "module/exported_object_declaration.h"
#include "service_host/al.h"
#include "service_host/service_impl.h"
#include "settings/settings_impl.h"
#include "support/logging/log_handle.h"

namespace {

ExportedObjectDeclaration<Endpoint::Vorn::NG::ClientImpl> g_client_declaration(L"Vorn.Client");

struct ModuleLogHandle {
    ModuleLogHandle() { handle.Acquire(); }
    logging::LogHandle handle;
};

ModuleLogHandle g_module_log;

ExportedSingletonDeclaration<Endpoint::Vorn::NG::AL> g_al_declaration(L"Vorn.AL");
ExportedObjectDeclaration<Endpoint::Vorn::NG::ServiceImpl> g_service_declaration(L"Vorn.Service");
ExportedObjectDeclaration<Endpoint::Vorn::NG::SettingsImpl> g_settings_declaration(L"Vorn.Settings");

}  // namespace
