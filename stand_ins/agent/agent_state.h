// The simulated agent's state folder, the only place it keeps anything:
//
//   policies/*.json   one policy text per file, handed to every client with a policy handler, in name order
//   removals/*.json   one policy text per file, announced as removed after the policies, in name order
//   settings.json     the settings document: read by command 1, changed by command 2
//   events.jsonl      every event received, one JSON object per line, appended
//   agent.log         the agent's own log (AgentLog)
//   journal.jsonl     the agent's account of what it did (AgentJournal); every settings document it comes to hold
//   scenario.json     the faults to rehearse, when there (scenario.h)
//
// Texts are passed as they are in the files: the agent does not judge a policy, the plug-in does.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "stand_ins/agent/agent_journal.h"
#include "stand_ins/agent/agent_log.h"

namespace vorn_agent {

struct EventRecord {
    int client_number = 0;
    int priority = 0;
    uint64_t type = 0;
    uint64_t subtype = 0;
    uint64_t flags = 0;
    int wait = 0;
    bool text_null = false;
    std::string text;
};

// One file of policies/ or removals/: where it came from ("policies/01-a.json"), its text and, for the journal,
// the policy id it names.
struct PolicyFile {
    std::string source;
    std::string text;
    std::string polid;
};

class AgentState {
public:
    AgentState(std::wstring folder, AgentLog& log, AgentJournal& journal);

    const std::wstring& Folder() const { return folder_; }

    // The files in policies/ (or removals/), in name order; files that cannot be read are logged and left out.
    std::vector<PolicyFile> Policies() { return Files(L"policies"); }
    std::vector<PolicyFile> Removals() { return Files(L"removals"); }

    // The settings document's text as it stands in settings.json.
    DWORD GetSettings(std::string& text);

    // Journals the document that settings.json holds now, when it holds one.
    void JournalSettings();

    // Merges a change into settings.json and writes it back atomically. The change is a JSON object holding only
    // the keys that were set: objects merge member by member, at any depth; every other value (arrays included)
    // replaces what was there. A JSON null change (nothing was set) changes nothing. A change that is not JSON,
    // or not an object, and a settings.json that does not hold an object are refused with ERROR_INVALID_DATA.
    // The new document is journaled before the change is answered.
    DWORD UpdateSettings(const char* change);

    // Appends one line to events.jsonl: client, priority, type, subtype, flags, wait, the event's text as sent
    // ("text") and, when that text is JSON, its value ("event").
    DWORD AppendEvent(const EventRecord& event);

private:
    std::vector<PolicyFile> Files(const wchar_t* subfolder);

    std::wstring folder_;
    AgentLog& log_;
    AgentJournal& journal_;
    std::mutex settings_mutex_;
    std::mutex events_mutex_;
};

}  // namespace vorn_agent
