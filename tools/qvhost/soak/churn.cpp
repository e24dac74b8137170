// Making and giving back the plug-in's objects at a high rate.
#include "tools/qvhost/soak/churn.h"

#include <memory>

#include "interfaces/client.h"
#include "interfaces/interface_ids.h"
#include "interfaces/serv_plugin.h"
#include "interfaces/service.h"
#include "interfaces/settings_manager.h"

namespace qvhost {

namespace {

constexpr unsigned long kMaxPauseMs = 40;

}  // namespace

ChurnWorker::ChurnWorker(SoakContext& context, unsigned long long seed)
    : context_(context), slot_(context.monitor.NewSlot()), dice_(seed) {}

void ChurnWorker::Run() {
    while (!context_.stopping) {
        Once();
        Sleep(dice_.Pick(0, kMaxPauseMs));
    }
}

template <typename Interface>
void ChurnWorker::MakeAndGive(Target target, const wchar_t* name, const GUID& iid) {
    auto object = Timed(context_, slot_, target, Call::kCreate,
                        [&] { return std::make_unique<Object<Interface>>(context_.plugin, name, iid); });
    if (!*object) {
        context_.findings.Lost("QvCreateObject(\"%ls\") returned %lu", name, object->CreateResult());
        return;
    }
    if constexpr (std::is_same_v<Interface, Endpoint::Vorn::IClient>) {
        Timed(context_, slot_, target, Call::kInit, [&] { return (*object)->Init(); });
        Timed(context_, slot_, target, Call::kUninit, [&] { (*object)->Uninit(); });
    } else if constexpr (std::is_same_v<Interface, Endpoint::Vorn::Settings::IManager>) {
        // A manager that never linked still makes data objects; its Update and Read must fail at once.
        Endpoint::Vorn::Settings::IData* data =
            Timed(context_, slot_, Target::kData, Call::kCreateData, [&] { return (*object)->CreateData(); });
        Timed(context_, slot_, Target::kData, Call::kSetCustomData,
              [&] { return data->SetCustomData(qv::WString(L"{\"churn\": true}")); });
        const unsigned long updated =
            Timed(context_, slot_, target, Call::kUpdate, [&] { return (*object)->Update(data); });
        if (updated == 0) {
            context_.findings.Lost("Update without Init returned 0");
        }
        Timed(context_, slot_, Target::kData, Call::kDestroyData, [&] { (*object)->DestroyData(data); });
    }
    Timed(context_, slot_, target, Call::kDestroy, [&] { object->Reset(); });
}

void ChurnWorker::Once() {
    switch (dice_.Pick(0, 4)) {
        case 0:
            MakeAndGive<IServPlugin>(Target::kLoader, L"Vorn.AL", Endpoint::Vorn::IID_IServPlugin);
            break;
        case 1:
            MakeAndGive<Endpoint::Vorn::IService>(Target::kService, L"Vorn.Service", Endpoint::Vorn::IID_IService);
            break;
        case 2:
            MakeAndGive<Endpoint::Vorn::IClient>(Target::kClient, L"Vorn.Client", Endpoint::Vorn::IID_IClient);
            break;
        case 3:
            MakeAndGive<Endpoint::Vorn::Settings::IManager>(Target::kUnlinked, L"Vorn.Settings",
                                                            Endpoint::Vorn::IID_ISettingsManager);
            break;
        default: {
            void* nothing = reinterpret_cast<void*>(1);
            const unsigned long result = Timed(context_, slot_, Target::kUnknown, Call::kCreate, [&] {
                return context_.plugin.Create(L"Vorn.Nothing", Endpoint::Vorn::IID_IService, &nothing);
            });
            if (result != ERROR_NOT_FOUND || nothing != nullptr) {
                context_.findings.Lost("QvCreateObject of an unknown name returned %lu", result);
            }
            break;
        }
    }
}

}  // namespace qvhost
