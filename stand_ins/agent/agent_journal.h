// The simulated agent's journal: journal.jsonl in its state folder, its own account of what it did, one JSON
// object per line with the time ("us", agent_clock.h) and what happened ("what"):
//
//   started, stopped                 the server began or ceased to serve
//   connected, disconnected          a client's connection, from its hello to its end ("connection", "client";
//                                    "why" on disconnected: closed, dropped, stopped, refused input, failed)
//   delivered                        a policy frame written whole to a client ("connection", "client", "seq",
//                                    "kind" run or remove, "source" the file or "step N", "polid" when the text
//                                    names one)
//   settings                         the settings document the agent holds from now on ("document")
//   step, step_end                   a scenario step fired, and where it has a duration, its end ("step", "do")
//
// Lines are appended in one write each, so that the lines of one connection follow the order of its frames: a
// delivery is journaled while its connection's writer is still held.
#pragma once

#include <json/json.h>

#include <atomic>
#include <mutex>
#include <string>

namespace vorn_agent {

class AgentJournal {
public:
    void Open(const std::wstring& path);
    // Adds "us" and appends the line. A line that cannot be written is counted, and the first one said on stderr.
    void Write(Json::Value line);
    // Lines that could not be appended, over every Open: a reader of the journal must not take it as whole.
    unsigned long Failures() const { return failures_; }

private:
    std::mutex mutex_;  // one append at a time (equipment/files.h)
    std::wstring path_;
    std::atomic<unsigned long> failures_{0};
};

// The value of a policy text's "polid" when the text is a JSON object naming one by a string, else empty. For the
// journal only: the agent passes every text on as it is, and the plug-in judges it.
std::string PolicyIdOf(const std::string& text);

}  // namespace vorn_agent
