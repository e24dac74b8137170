// IBaseObject's own answer to QueryInterface.
#include "interfaces/base_object.h"

#include "interfaces/interface_ids.h"

namespace Endpoint::Vorn {

void* IBaseObject::QueryInterface(const GUID& iid) {
    if (SameInterfaceId(iid, IID_IQvBaseInterface) || SameInterfaceId(iid, IID_IBaseObject)) {
        return this;
    }
    return nullptr;
}

}  // namespace Endpoint::Vorn
