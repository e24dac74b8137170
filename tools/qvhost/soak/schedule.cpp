// Making the soak's fault scenario.
#include "tools/qvhost/soak/schedule.h"

#include <json/json.h>

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

namespace qvhost {

namespace {

// A run this long has room for replies later than the 15000 ms a Read or an Update waits, and for their end.
constexpr unsigned long kLongRunSeconds = 40;
constexpr unsigned long long kLateReplyRoomMs = 20000;
constexpr unsigned long long kFirstFaultMs = 500;
// Faults end this long before the run does, so that the last calls meet a well agent.
constexpr unsigned long long kQuietEndMs = 1000;
constexpr unsigned long long kMeanGapMs = 1500;

enum class Fault {
    kServerDown,
    kDrop,
    kRefuse,
    kDelay,
    kLateDelay,
    kSettingsMalformed,
    kSettingsNested,
    kSettingsNotSettings,
    kPolicyValid,
    kPolicyHuge,
    kPolicyMalformed,
    kPolicyHostile,
    kBurst,
    kRestart,
};

// The longest a fault of the kind lasts, as Maker::Step makes it (a late reply: with the calls it holds up).
unsigned long long LongestMs(Fault fault, bool long_run) {
    const unsigned long long scale = long_run ? 4 : 1;
    switch (fault) {
        case Fault::kServerDown:
            return 900 * scale;
        case Fault::kRefuse:
            return 800 * scale;
        case Fault::kDelay:
            return 1500 * scale;
        case Fault::kLateDelay:
            return kLateReplyRoomMs;
        case Fault::kRestart:
            return 500 * scale;
        default:
            return 0;
    }
}

class Maker {
public:
    Maker(unsigned long long seed, unsigned long seconds)
        : random_(static_cast<std::mt19937_64::result_type>(seed)), long_run_(seconds >= kLongRunSeconds) {}

    unsigned long Pick(unsigned long low, unsigned long high) {
        return std::uniform_int_distribution<unsigned long>(low, high)(random_);
    }

    // The step for one fault at at_ms; valid tells whether a policy text is a valid policy.
    Json::Value Step(Fault fault, int number, unsigned long long at_ms, bool& valid) {
        Json::Value step(Json::objectValue);
        step["at_ms"] = Json::UInt64(at_ms);
        valid = false;
        const unsigned long scale = long_run_ ? 4 : 1;
        switch (fault) {
            case Fault::kServerDown:
                step["do"] = "server_down";
                step["for_ms"] = Json::UInt(Pick(200, 900 * scale));
                break;
            case Fault::kDrop:
                step["do"] = "drop_connections";
                break;
            case Fault::kRefuse:
                step["do"] = "refuse_connections";
                step["for_ms"] = Json::UInt(Pick(200, 800 * scale));
                break;
            case Fault::kDelay:
                step["do"] = "delay_replies";
                step["ms"] = Json::UInt(Pick(100, 1500 * scale));
                step["count"] = Json::UInt(Pick(1, 2));
                break;
            case Fault::kLateDelay:
                step["do"] = "delay_replies";
                step["ms"] = Json::UInt(Pick(15500, 17000));
                break;
            case Fault::kSettingsMalformed:
                step["do"] = "settings_reply";
                step["text"] = Pick(0, 1) == 0 ? "{\"conn\": {\"srvaddrlist\": [" : "";
                break;
            case Fault::kSettingsNested:
                step["do"] = "settings_reply";
                step["nested"] = Json::UInt(Pick(2000, 200000));
                break;
            case Fault::kSettingsNotSettings:
                step["do"] = "settings_reply";
                step["text"] = Pick(0, 1) == 0 ? "{\"polid\": \"not-settings\", \"content\": {\"files\": []}}"
                                               : "[\"conn\", \"id\"]";
                break;
            case Fault::kPolicyValid:
                step["do"] = "deliver_policy";
                step["text"] = "{\"polid\": \"soak-step-" + std::to_string(number) +
                               "\", \"content\": {\"files\": [{\"step\": " + std::to_string(number) + "}]}}";
                valid = true;
                break;
            case Fault::kPolicyHuge:
                step["do"] = "deliver_policy";
                step["huge"] = Json::UInt(Pick(100000, 1000000));
                valid = true;
                break;
            case Fault::kPolicyMalformed:
                step["do"] = "deliver_policy";
                step["text"] = "{\"polid\": \"broken-" + std::to_string(number) + "\", \"content\": {\"files\": [";
                break;
            case Fault::kPolicyHostile:
                step["do"] = "deliver_policy";
                Hostile(step, number);
                break;
            case Fault::kBurst:
                step["do"] = "policy_burst";
                step["count"] = Json::UInt(Pick(5, 40 * scale));
                break;
            case Fault::kRestart:
                step["do"] = "restart";
                step["down_ms"] = Json::UInt(Pick(0, 500 * scale));
                break;
        }
        return step;
    }

private:
    // Texts that look like policies and must reach no subscriber: each breaks one rule of the policy's shape, or
    // the JSON reader's nesting limit.
    void Hostile(Json::Value& step, int number) {
        const std::string id = "\"hostile-" + std::to_string(number) + "\"";
        switch (Pick(0, 5)) {
            case 0:
                step["text"] = "{\"polid\": " + id + ", \"content\": {\"files\": [{\"a\": 1}, {\"b\": 2}]}}";
                break;
            case 1:
                step["text"] = "{\"polid\": {\"$gt\": \"\"}, \"content\": {\"files\": [{}]}}";
                break;
            case 2:
                step["text"] = "{\"polid\": " + id + ", \"content\": {\"files\": {\"0\": {}}}}";
                break;
            case 3:
                step["text"] = "{\"polid\": " + id + ", \"content\": {\"files\": [" + std::string(5000, '[') +
                               std::string(5000, ']') + "]}}";
                break;
            case 4:
                step["nested"] = Json::UInt(Pick(2000, 300000));
                break;
            default:
                step["text"] = "\"polid\"";
                break;
        }
    }

    std::mt19937_64 random_;
    const bool long_run_;
};

}  // namespace

SoakSchedule MakeSchedule(unsigned long long seed, unsigned long seconds) {
    Maker maker(seed, seconds);
    const unsigned long long run_ms = static_cast<unsigned long long>(seconds) * 1000;
    const unsigned long long last_ms = run_ms > kFirstFaultMs + kQuietEndMs ? run_ms - kQuietEndMs : kFirstFaultMs;
    // Every kind once, then more at random, one every kMeanGapMs on average.
    std::vector<Fault> faults = {Fault::kServerDown,
                                 Fault::kDrop,
                                 Fault::kRefuse,
                                 Fault::kDelay,
                                 Fault::kSettingsMalformed,
                                 Fault::kSettingsNested,
                                 Fault::kSettingsNotSettings,
                                 Fault::kPolicyValid,
                                 Fault::kPolicyHuge,
                                 Fault::kPolicyMalformed,
                                 Fault::kPolicyHostile,
                                 Fault::kBurst,
                                 Fault::kRestart};
    const bool long_run = seconds >= kLongRunSeconds;
    if (long_run) {
        faults.push_back(Fault::kLateDelay);
    }
    const size_t extra = static_cast<size_t>((last_ms - kFirstFaultMs) / kMeanGapMs);
    for (size_t n = 0; n < extra; ++n) {
        faults.push_back(static_cast<Fault>(maker.Pick(0, static_cast<unsigned long>(Fault::kRestart))));
    }
    if (!long_run) {
        std::replace(faults.begin(), faults.end(), Fault::kLateDelay, Fault::kDelay);
    }
    // Each fault ends inside the run.
    std::vector<std::pair<unsigned long long, Fault>> timed;
    for (Fault fault : faults) {
        const unsigned long long longest = LongestMs(fault, long_run);
        const unsigned long long latest = last_ms > kFirstFaultMs + longest ? last_ms - longest : kFirstFaultMs;
        timed.emplace_back(maker.Pick(static_cast<unsigned long>(kFirstFaultMs), static_cast<unsigned long>(latest)),
                           fault);
    }
    std::sort(timed.begin(), timed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    SoakSchedule schedule;
    Json::Value steps(Json::arrayValue);
    for (const auto& [at_ms, fault] : timed) {
        const int number = static_cast<int>(steps.size()) + 1;
        bool valid = false;
        const Json::Value step = maker.Step(fault, number, at_ms, valid);
        if (step["do"].asString() == "deliver_policy") {
            schedule.policy_valid[number] = valid;
        }
        steps.append(step);
    }
    Json::Value root(Json::objectValue);
    root["note"] = "qvhost soak, seed " + std::to_string(seed) + ", " + std::to_string(seconds) + " s";
    root["steps"] = steps;
    schedule.steps = steps.size();
    schedule.scenario = root.toStyledString();
    return schedule;
}

}  // namespace qvhost
