// A fault scenario for the simulated agent: the steps of a bad hour in its life, read from a JSON file.
//
//   {"steps": [ {"at_ms": 2000, "do": "server_down", "for_ms": 1500},
//               {"after_events": 10, "do": "drop_connections"}, ... ]}
//
// (A bare array of steps is taken as well.) Each step has one trigger, "at_ms" (milliseconds since the agent
// started) or "after_events" (events the agent has recorded since it started), and one "do":
//
//   server_down         "for_ms"           notification 5 to every linked client, 4 when the time is up
//   drop_connections                       every connection closed at once, without a goodbye
//   refuse_connections  "for_ms"           new connections closed as soon as they are made
//   delay_replies       "ms" ["count"]     the next count (default 1) commands answered ms late; a command whose
//                                          caller has given up by then is not carried out
//   settings_reply      text               the next get_settings reply carries this text (each such step arms
//                                          one more reply; they go out in order)
//   deliver_policy      text               this policy text to every client with a policy handler
//   policy_burst        "count"            that many policies, "burst-<step>-1" on, to every such client
//   restart             ["down_ms"]        the server stops, and starts again on the same folder
//
// A text is one of "text" (the text itself), "file" (a file beside the scenario), "nested" (that many nested
// JSON arrays) or "huge" (a valid policy of about that many bytes). "note" may annotate any step or the file.
// Steps fire in their order in the file, each when its trigger has come; one whose time is past fires at once.
#pragma once

#include <string>
#include <vector>

namespace vorn_agent {

enum class StepKind {
    kServerDown,
    kDropConnections,
    kRefuseConnections,
    kDelayReplies,
    kSettingsReply,
    kDeliverPolicy,
    kPolicyBurst,
    kRestart,
};

struct ScenarioStep {
    int number = 0;  // from 1, as the messages and the log name it
    StepKind kind = StepKind::kDropConnections;
    bool after_events = false;  // the trigger: trigger events recorded, else trigger ms after the start
    unsigned long long trigger = 0;
    unsigned long duration_ms = 0;  // for_ms, ms of delay_replies, down_ms
    unsigned long count = 1;        // delay_replies, policy_burst
    std::string text;               // settings_reply, deliver_policy
    std::string text_origin;        // how the text was given, for the log: "text", "file x.json", "nested 900"
};

struct Scenario {
    std::vector<ScenarioStep> steps;
};

const char* StepKindName(StepKind kind);

// The step as the log names it, e.g. "server_down for 1500 ms".
std::string DescribeStep(const ScenarioStep& step);

// Reads the scenario at path. On a fault returns false with error naming the file, and the step and field at
// fault: "scenario.json: step 3: \"after_events\" must be a non-negative integer".
bool LoadScenario(const std::wstring& path, Scenario& scenario, std::string& error);

// The same for a scenario's text; files named by steps are looked up in folder.
bool ParseScenario(const std::string& text, const std::string& name, const std::wstring& folder, Scenario& scenario,
                   std::string& error);

}  // namespace vorn_agent
