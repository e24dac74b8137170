// Endpoint::Vorn::INotification: the host's notification subscriber.
#pragma once

#include "support/strings/qv_string.h"

namespace Endpoint::Vorn {

struct INotification {
    virtual void OnNotification(unsigned long code, const qv::WString& text) = 0;

protected:
    ~INotification() = default;
};

}  // namespace Endpoint::Vorn
