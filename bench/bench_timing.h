// Timing and reporting for the benchmark programs.
//
// The machine is shared and its speed swings by a third between runs, so no figure comes from one measurement:
// the sides of a comparison are measured in interleaved rounds (baseline, code, baseline, code, ...), a burst of
// outside load then hits both sides of a round alike, and each ratio is the median of the per-round ratios with
// their spread (lowest and highest) beside it. Within a round each side counts its fastest batch.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace bench {

// Runs body(i) for i in [0, calls), in up to kBatches batches of about equal size, and returns the nanoseconds per
// call of the fastest batch: a batch that the shared machine took the core from shows as slow and is left out, on
// every side of a round alike.
constexpr long kBatches = 5;

template <typename Body>
double NanosecondsPerCall(Body&& body, long calls) {
    const long batches = calls < kBatches ? calls : kBatches;
    double fastest = 0;
    long i = 0;
    for (long batch = 0; batch < batches; ++batch) {
        const long end = batch + 1 == batches ? calls : i + calls / batches;
        const long count = end - i;
        const auto start = std::chrono::steady_clock::now();
        for (; i < end; ++i) {
            body(i);
        }
        const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
        const double perCall = elapsed.count() / static_cast<double>(count);
        fastest = batch == 0 || perCall < fastest ? perCall : fastest;
    }
    return fastest;
}

// Median and spread of a set of figures.
struct Stats {
    double median = 0;
    double low = 0;
    double high = 0;
};

inline Stats StatsOf(std::vector<double> values) {
    if (values.empty()) {
        return Stats{};
    }
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return Stats{median, values.front(), values.back()};
}

// The value below which the given share of the figures lie (nearest rank).
inline double Percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<size_t>(share * static_cast<double>(values.size()) + 0.999999);
    return values[std::min(values.size(), std::max<size_t>(rank, 1)) - 1];
}

// Each side measures one batch and returns its figure (nanoseconds per call, or any time). Every round runs
// every side once, in the order given; figures[side][round].
using Side = std::function<double()>;

class Rounds {
public:
    Rounds(int rounds, const std::vector<Side>& sides) : figures_(sides.size()) {
        for (int round = 0; round < rounds; ++round) {
            for (size_t side = 0; side < sides.size(); ++side) {
                figures_[side].push_back(sides[side]());
            }
        }
    }

    Stats Of(size_t side) const { return StatsOf(figures_[side]); }

    // The per-round ratio of one side's figure to another's.
    Stats Ratio(size_t numerator, size_t denominator) const {
        std::vector<double> ratios;
        for (size_t round = 0; round < figures_[numerator].size(); ++round) {
            ratios.push_back(figures_[numerator][round] / figures_[denominator][round]);
        }
        return StatsOf(ratios);
    }

    size_t Count() const { return figures_.empty() ? 0 : figures_[0].size(); }

private:
    std::vector<std::vector<double>> figures_;
};

// A target for a ratio: at most or at least a value.
struct Target {
    enum Kind { kAtMost, kAtLeast, kNone } kind;
    double value;
    bool Met(double ratio) const { return kind == kNone || (kind == kAtMost ? ratio <= value : ratio >= value); }
};
constexpr Target AtMost(double value) { return Target{Target::kAtMost, value}; }
constexpr Target AtLeast(double value) { return Target{Target::kAtLeast, value}; }
constexpr Target NoTarget() { return Target{Target::kNone, 0}; }

// "  label   12.3 ns   [11.9 .. 13.0]"
inline void PrintFigure(const char* label, const Stats& stats, const char* unit) {
    std::printf("  %-52s %10.1f %-5s [%.1f .. %.1f]\n", label, stats.median, unit, stats.low, stats.high);
}

// "  label   1.23   [1.10 .. 1.40]   target <= 1.50: met"
inline void PrintRatio(const char* label, const Stats& stats, Target target) {
    std::printf("  %-52s %10.3f       [%.3f .. %.3f]", label, stats.median, stats.low, stats.high);
    if (target.kind != Target::kNone) {
        std::printf("   target %s %.2f: %s", target.kind == Target::kAtMost ? "<=" : ">=", target.value,
                    target.Met(stats.median) ? "met" : "NOT met");
    }
    std::printf("\n");
}

// Says, where it is so, that a target lies beyond what the prescribed design allows: the floor alone (the work
// the design prescribes, done the cheapest way) already misses it. The code is then judged against the floor.
inline void PrintFloorVerdict(const Stats& floorRatio, Target target) {
    if (!target.Met(floorRatio.median)) {
        std::printf(
            "  -> the target is below what the design allows: its floor alone gives %.3f; judge the code by\n"
            "     code / floor.\n",
            floorRatio.median);
    }
}

}  // namespace bench
