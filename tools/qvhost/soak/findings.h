// What the soak finds wrong, as it finds it: one count for what was lost (a policy, an event or a settings change
// missing, duplicated, out of order or wrong, or resources not given back) and one for what was stuck (a call past
// its bound, a wait that did not end), each printed when found, the first ones in full.
#pragma once

#include <atomic>
#include <cstdarg>
#include <mutex>

namespace qvhost {

class Findings {
public:
    void Lost(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    // count things lost, told once.
    void LostMany(unsigned long count, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;
    void Stuck(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    unsigned long LostCount() const { return lost_; }
    unsigned long StuckCount() const { return stuck_; }

private:
    void Print(const char* kind, const char* format, va_list args);

    std::atomic<unsigned long> lost_{0};
    std::atomic<unsigned long> stuck_{0};
    std::mutex mutex_;
    unsigned long printed_ = 0;
};

}  // namespace qvhost
