// Timing for the benchmark programs: the average cost of one call of a body, from the steady clock.
#pragma once

#include <chrono>

namespace bench {

// Runs body(i) for i in [0, calls) and returns the nanoseconds per call.
template <typename Body>
double NanosecondsPerCall(Body&& body, long calls) {
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < calls; ++i) {
        body(i);
    }
    const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / static_cast<double>(calls);
}

}  // namespace bench
