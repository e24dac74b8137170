// Endpoint::Vorn::IPolicy: one parsed policy as the host's subscribers see it.
#pragma once

#include "support/strings/qv_string.h"

namespace Endpoint::Vorn {

// Valid only during the callback that hands it out; a subscriber that needs the id or the content later
// keeps the copies these return. No virtual destructor: the plug-in destroys its own policies.
struct IPolicy {
    virtual qv::WString GetId() const = 0;
    // The policy's payload as styled JSON text.
    virtual qv::WString GetContent() const = 0;

protected:
    ~IPolicy() = default;
};

}  // namespace Endpoint::Vorn
