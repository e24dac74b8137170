// Reading and checking fault scenarios of the simulated agent.
#include "stand_ins/agent/scenario.h"

#include <windows.h>

#include <json/json.h>

#include <cstdio>
#include <memory>

#include "equipment/files.h"
#include "equipment/text.h"
#include "stand_ins/agent/agent_protocol.h"

using equipment::FromUtf8;
using equipment::ReadWholeFile;
using equipment::ToUtf8;

namespace vorn_agent {

namespace {

constexpr unsigned long long kUnlimited = ~0ull;
constexpr unsigned long long kMaxMs = 24ull * 60 * 60 * 1000;
constexpr unsigned long long kMaxBurst = 100000;
constexpr unsigned long long kMinHuge = 64;
constexpr unsigned long long kMaxSteps = 100000;
constexpr size_t kMaxScenarioFile = 16u << 20;

struct KindInfo {
    StepKind kind;
    const char* name;
    std::vector<std::string> fields;  // besides the trigger, "do" and "note"
};

const std::vector<KindInfo>& Kinds() {
    static const std::vector<KindInfo>* kinds = new std::vector<KindInfo>{
        {StepKind::kServerDown, "server_down", {"for_ms"}},
        {StepKind::kDropConnections, "drop_connections", {}},
        {StepKind::kRefuseConnections, "refuse_connections", {"for_ms"}},
        {StepKind::kDelayReplies, "delay_replies", {"ms", "count"}},
        {StepKind::kSettingsReply, "settings_reply", {"text", "file", "nested", "huge"}},
        {StepKind::kDeliverPolicy, "deliver_policy", {"text", "file", "nested", "huge"}},
        {StepKind::kPolicyBurst, "policy_burst", {"count"}},
        {StepKind::kRestart, "restart", {"down_ms"}},
    };
    return *kinds;
}

std::string OneLine(std::string text) {
    for (char& c : text) {
        c = c == '\n' || c == '\r' ? ' ' : c;
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

std::string RangeText(unsigned long long min, unsigned long long max) {
    if (max == kUnlimited) {
        return min == 0   ? "a non-negative integer"
               : min == 1 ? "a positive integer"
                          : "an integer of at least " + std::to_string(min);
    }
    return "an integer from " + std::to_string(min) + " to " + std::to_string(max);
}

// A valid policy of at least size bytes: one element in content/files, padded.
std::string HugePolicy(int step, unsigned long long size) {
    const std::string head = "{\"polid\":\"huge-" + std::to_string(step) + "\",\"content\":{\"files\":[{\"pad\":\"";
    const std::string tail = "\"}]}}";
    const size_t fixed = head.size() + tail.size();
    return head + std::string(size > fixed ? static_cast<size_t>(size) - fixed : 0, 'x') + tail;
}

// Checks one step's fields and fills it; every complaint names the step and the field.
class StepReader {
public:
    StepReader(const Json::Value& value, int number, const std::wstring& folder, std::string& error)
        : value_(value), folder_(folder), error_(error), prefix_("step " + std::to_string(number) + ": ") {}

    bool Read(ScenarioStep& step) {
        if (!value_.isObject()) {
            return Fail("must be a JSON object");
        }
        const KindInfo* kind = nullptr;
        for (const KindInfo& candidate : Kinds()) {
            kind = value_["do"].isString() && value_["do"].asString() == candidate.name ? &candidate : kind;
        }
        if (kind == nullptr) {
            std::string names;
            for (const KindInfo& candidate : Kinds()) {
                names += (names.empty() ? "" : ", ") + std::string(candidate.name);
            }
            return Fail("\"do\" must be one of " + names);
        }
        step.kind = kind->kind;
        for (const std::string& field : value_.getMemberNames()) {
            const bool common = field == "at_ms" || field == "after_events" || field == "do" || field == "note";
            bool known = common;
            for (const std::string& own : kind->fields) {
                known = known || field == own;
            }
            if (!known) {
                return Fail("unknown field \"" + field + "\" for " + kind->name);
            }
        }
        const bool at = value_.isMember("at_ms");
        const bool after = value_.isMember("after_events");
        if (at == after) {
            return Fail(at ? "give \"at_ms\" or \"after_events\", not both" : "needs \"at_ms\" or \"after_events\"");
        }
        step.after_events = after;
        if (!Integer(after ? "after_events" : "at_ms", 0, after ? kUnlimited : kMaxMs, true, step.trigger)) {
            return false;
        }
        switch (step.kind) {
            case StepKind::kServerDown:
            case StepKind::kRefuseConnections:
                return Integer("for_ms", 1, kMaxMs, true, step.duration_ms);
            case StepKind::kDelayReplies:
                return Integer("ms", 0, kMaxMs, true, step.duration_ms) &&
                       Integer("count", 1, kMaxBurst, false, step.count);
            case StepKind::kPolicyBurst:
                return Integer("count", 1, kMaxBurst, true, step.count);
            case StepKind::kRestart:
                return Integer("down_ms", 0, kMaxMs, false, step.duration_ms);
            case StepKind::kSettingsReply:
            case StepKind::kDeliverPolicy:
                return Text(step);
            case StepKind::kDropConnections:
                return true;
        }
        return true;
    }

private:
    bool Fail(const std::string& why) {
        error_ = prefix_ + why;
        return false;
    }

    // A missing optional field leaves out as it is; max fits out's type.
    template <typename Number>
    bool Integer(const char* field, unsigned long long min, unsigned long long max, bool required, Number& out) {
        if (!value_.isMember(field)) {
            return required ? Fail("\"" + std::string(field) + "\" is missing; it must be " + RangeText(min, max))
                            : true;
        }
        const Json::Value& value = value_[field];
        if (!value.isUInt64() || value.asUInt64() < min || value.asUInt64() > max) {
            return Fail("\"" + std::string(field) + "\" must be " + RangeText(min, max));
        }
        out = static_cast<Number>(value.asUInt64());
        return true;
    }

    bool Text(ScenarioStep& step) {
        const char* const sources[] = {"text", "file", "nested", "huge"};
        int given = 0;
        for (const char* source : sources) {
            given += value_.isMember(source) ? 1 : 0;
        }
        if (given != 1) {
            return Fail(std::string(given == 0 ? "needs" : "takes only") +
                        " one of \"text\", \"file\", \"nested\" or \"huge\"");
        }
        unsigned long long number = 0;
        if (value_.isMember("text")) {
            if (!value_["text"].isString()) {
                return Fail("\"text\" must be a string");
            }
            step.text = value_["text"].asString();
            step.text_origin = "text of " + std::to_string(step.text.size()) + " bytes";
        } else if (value_.isMember("file")) {
            if (!value_["file"].isString() || value_["file"].asString().empty()) {
                return Fail("\"file\" must be the name of a file beside the scenario");
            }
            const std::wstring name = FromUtf8(value_["file"].asString());
            const bool absolute = name.size() > 1 && (name[1] == L':' || name[0] == L'\\' || name[0] == L'/');
            const DWORD error = ReadWholeFile(absolute ? name : folder_ + L"\\" + name, kMaxText, step.text);
            if (error != ERROR_SUCCESS) {
                return Fail("\"file\" cannot be read: " + value_["file"].asString() + " (error " +
                            std::to_string(error) + ")");
            }
            step.text_origin = "file " + value_["file"].asString();
        } else if (value_.isMember("nested")) {
            if (!Integer("nested", 1, kMaxText / 2, true, number)) {
                return false;
            }
            step.text = std::string(static_cast<size_t>(number), '[') + std::string(static_cast<size_t>(number), ']');
            step.text_origin = "nested " + std::to_string(number);
        } else {
            if (!Integer("huge", kMinHuge, kMaxText, true, number)) {
                return false;
            }
            step.text = HugePolicy(step.number, number);
            step.text_origin = "huge policy of " + std::to_string(step.text.size()) + " bytes";
        }
        return true;
    }

    const Json::Value& value_;
    const std::wstring& folder_;
    std::string& error_;
    const std::string prefix_;
};

}  // namespace

const char* StepKindName(StepKind kind) {
    for (const KindInfo& info : Kinds()) {
        if (info.kind == kind) {
            return info.name;
        }
    }
    return "?";
}

std::string DescribeStep(const ScenarioStep& step) {
    std::string text = StepKindName(step.kind);
    switch (step.kind) {
        case StepKind::kServerDown:
        case StepKind::kRefuseConnections:
            return text + " for " + std::to_string(step.duration_ms) + " ms";
        case StepKind::kDelayReplies:
            return text + " by " + std::to_string(step.duration_ms) + " ms, " + std::to_string(step.count) +
                   " command(s)";
        case StepKind::kPolicyBurst:
            return text + " of " + std::to_string(step.count);
        case StepKind::kRestart:
            return text + " after " + std::to_string(step.duration_ms) + " ms down";
        case StepKind::kSettingsReply:
        case StepKind::kDeliverPolicy:
            return text + ", " + step.text_origin;
        case StepKind::kDropConnections:
            break;
    }
    return text;
}

bool ParseScenario(const std::string& text, const std::string& name, const std::wstring& folder, Scenario& scenario,
                   std::string& error) {
    scenario.steps.clear();
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    bool parsed = false;
    try {
        parsed = reader->parse(text.data(), text.data() + text.size(), &root, &errors);
    } catch (const std::exception& failure) {
        errors = failure.what();
    }
    if (!parsed) {
        error = name + ": not valid JSON: " + OneLine(errors);
        return false;
    }
    const Json::Value* steps = &root;
    if (root.isObject()) {
        for (const std::string& field : root.getMemberNames()) {
            if (field != "steps" && field != "note") {
                error = name + ": unknown field \"" + field + "\" (a scenario holds \"steps\" and \"note\")";
                return false;
            }
        }
        steps = &root["steps"];
    }
    if (!steps->isArray()) {
        error = name + ": must hold \"steps\", an array of steps";
        return false;
    }
    if (steps->size() > kMaxSteps) {
        error = name + ": more than " + std::to_string(kMaxSteps) + " steps";
        return false;
    }
    for (Json::ArrayIndex n = 0; n < steps->size(); ++n) {
        ScenarioStep step;
        step.number = static_cast<int>(n) + 1;
        std::string why;
        if (!StepReader((*steps)[n], step.number, folder, why).Read(step)) {
            error = name + ": " + why;
            scenario.steps.clear();
            return false;
        }
        scenario.steps.push_back(std::move(step));
    }
    return true;
}

bool LoadScenario(const std::wstring& path, Scenario& scenario, std::string& error) {
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"." : path.substr(0, slash);
    const std::string name = ToUtf8(slash == std::wstring::npos ? path : path.substr(slash + 1));
    std::string text;
    const DWORD read = ReadWholeFile(path, kMaxScenarioFile, text);
    if (read != ERROR_SUCCESS) {
        error = name + ": cannot be read (error " + std::to_string(read) + ")";
        return false;
    }
    return ParseScenario(text, name, folder, scenario, error);
}

}  // namespace vorn_agent
