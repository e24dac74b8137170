// The interface IDs that the plug-in's objects answer to, and the one it asks the host for.
#pragma once

#include "interfaces/interface_id.h"

namespace Endpoint::Vorn {

inline constexpr GUID IID_IQvBaseInterface = MakeInterfaceId(13587637854503508659ull, 5858024861175464543ull);
inline constexpr GUID IID_IBaseObject = MakeInterfaceId(9998714120988027890ull, 9849928103203784862ull);
inline constexpr GUID IID_IClient = MakeInterfaceId(13650297718606906208ull, 5607039322995642099ull);
inline constexpr GUID IID_IService = MakeInterfaceId(13292519429467472090ull, 11553549314151107158ull);
inline constexpr GUID IID_ISettingsManager = MakeInterfaceId(9558816421908038390ull, 13850486193403744137ull);
inline constexpr GUID IID_IServPlugin = MakeInterfaceId(10967114810072638243ull, 16812643696960356726ull);

// Product::ILoggerConfiguration, asked of the host's component manager: {A4A698DC-8CEC-9E29-9B4D-B880F8CCE9B7}.
inline constexpr GUID IID_ILoggerConfiguration = MakeInterfaceId(11396795280040302812ull, 13252348746197912987ull);

}  // namespace Endpoint::Vorn
