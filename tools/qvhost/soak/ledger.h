// The agent's own account, as the soak reads it while it runs: journal.jsonl and events.jsonl of the agent's state
// folder, read on from where the last reading ended and sorted by client number, so that each finished policy
// client can be checked against what the agent says it delivered to it and recorded from it, and then forgotten.
// It also keeps the settings documents the agent held lately and the faults the agent went through.
#pragma once

#include <windows.h>

#include <json/json.h>

#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tools/qvhost/soak/findings.h"

namespace qvhost {

struct AgentDelivery {
    long long us = 0;
    bool removal = false;
    std::string source;  // "policies/01.json", "step 4"
    std::string polid;
};

struct AgentConnection {
    int connection = 0;
    long long opened_us = 0;
    long long closed_us = -1;  // -1 while open
};

// What the agent holds for one policy client's number.
struct ClientAccount {
    std::vector<AgentDelivery> deliveries;  // in the agent's order
    std::vector<AgentConnection> connections;
    std::map<std::string, int> events;  // EventKey -> times recorded
};

std::string EventKey(const std::string& name, const std::string& description);

// The value at path below value, or JSON null where a step is missing or not an object.
Json::Value At(const Json::Value& value, std::initializer_list<const char*> path);

class Ledger {
public:
    Ledger(const std::wstring& folder, Findings& findings);

    // Reads what the agent has added to its files since the last call.
    void Refresh();

    // How many of the deliveries that the agent journaled for the client so far counts accepts. Refreshes first.
    size_t CountDeliveries(int client, const std::function<bool(const AgentDelivery&)>& counts);
    // Waits until every connection of the client that the agent journaled has ended; false after timeout_ms.
    bool WaitDisconnected(int client, DWORD timeout_ms);
    // Hands over (and forgets) what the agent holds for the client.
    ClientAccount Take(int client);

    // True when a settings document that the agent held at some time between from_us and to_us satisfies
    // matches. Refreshes first.
    bool HeldDuring(long long from_us, long long to_us, const std::function<bool(const Json::Value&)>& matches);
    // The document the agent holds now (JSON null before the first). Refreshes first.
    Json::Value Latest();
    // An Update that failed must never show: this value of customdata/<member>/n must appear in no document the
    // agent held or will hold.
    void ForbidValue(const std::string& member, long long n);

    // Milliseconds an Update running from from_us to to_us may have spent waiting for the agent's server: each
    // outage (server down, connections refused, a restart, a drop) that overlaps, plus a second to reconnect.
    long long ServerWaitMs(long long from_us, long long to_us);

    // Forgets what was read so far, and reads on from here: after the warm-up, and before the soak measures what the
    // process holds at its end.
    void ForgetAll();

    // What the agent went through and did, for the summary.
    struct Totals {
        std::map<std::string, unsigned long> faults;  // steps fired, by kind
        unsigned long fault_count = 0;
        unsigned long long delivered = 0;
        unsigned long long events = 0;
    };
    Totals Sum();

private:
    struct Tail {
        std::wstring path;
        unsigned long long offset = 0;
        std::string partial;
    };
    struct Outage {
        int step = 0;
        long long from_us = 0;
        long long to_us = -1;  // -1 while it lasts
    };
    // A settings document as one compact text: thousands of them as JSON trees would leave the heap fragmented
    // and the process's memory looking grown after they are gone.
    struct Version {
        long long us = 0;
        std::string text;
    };

    void ReadNew(Tail& tail, const std::function<void(const Json::Value&)>& take);
    void TakeJournalLine(const Json::Value& line);
    void TakeEventLine(const Json::Value& line);
    using Forbidden = std::map<std::string, std::set<long long>>;  // member -> values of failed Updates
    void CheckForbidden(const Json::Value& document, const Forbidden& forbidden);
    Json::Value Parse(const std::string& text);
    void RefreshLocked();

    Findings& findings_;
    std::mutex mutex_;
    Tail journal_;
    Tail events_;
    std::map<int, ClientAccount> clients_;
    std::deque<Version> versions_;
    Forbidden forbidden_;
    std::vector<Outage> outages_;
    std::map<int, size_t> open_outages_;  // step -> index in outages_
    std::map<std::string, unsigned long> faults_;
    unsigned long long delivered_ = 0;
    unsigned long long events_recorded_ = 0;
};

}  // namespace qvhost
