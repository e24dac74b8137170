// The one clock of the simulated agent's records: microseconds of the performance counter, the same in every
// thread and process of the machine, so that a host reading the agent's journal can set its own calls beside
// the agent's account.
#pragma once

#include <windows.h>

namespace vorn_agent {

inline long long NowMicroseconds() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<long long>(now.QuadPart / frequency.QuadPart * 1000000 +
                                  now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart);
}

}  // namespace vorn_agent
