// What the process holds of the system: its open handles and its private (committed, unshared) memory, measured
// before the soak's objects exist and again after they have all gone.
#pragma once

#include <cstddef>

namespace qvhost {

struct ProcessResources {
    unsigned long handles = 0;
    size_t private_bytes = 0;
};

ProcessResources MeasureResources();

}  // namespace qvhost
