// Reading the agent's journal and events as they grow.
#include "tools/qvhost/soak/ledger.h"

#include <algorithm>
#include <memory>

#include "equipment/files.h"
#include "support/unique_resource.h"

namespace qvhost {

namespace {

// The settings manager's link; its connections carry no policies and no events.
constexpr int kSettingsClient = 12;
// How long a settings document stays known after a newer one came: longer than any Read or Update lasts, an
// Update's wait for a server that is down included.
constexpr long long kVersionMemoryUs = 40LL * 1000 * 1000;
// What a client needs to link again after an outage ends.
constexpr long long kReconnectMs = 1000;
constexpr DWORD kPollMs = 50;

}  // namespace

std::string EventKey(const std::string& name, const std::string& description) { return name + '\x1f' + description; }

Json::Value At(const Json::Value& value, std::initializer_list<const char*> path) {
    const Json::Value* node = &value;
    for (const char* name : path) {
        if (!node->isObject() || !node->isMember(name)) {
            return Json::Value();
        }
        node = &(*node)[name];
    }
    return *node;
}

Ledger::Ledger(const std::wstring& folder, Findings& findings) : findings_(findings) {
    journal_.path = folder + L"\\journal.jsonl";
    events_.path = folder + L"\\events.jsonl";
}

void Ledger::ReadNew(Tail& tail, const std::function<void(const Json::Value&)>& take) {
    const qv::UniqueHandle file = equipment::OpenFile(
        tail.path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    if (!file) {
        return;
    }
    LARGE_INTEGER offset;
    offset.QuadPart = static_cast<LONGLONG>(tail.offset);
    if (!SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN)) {
        return;
    }
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::vector<char> chunk(1 << 20);
    DWORD got = 0;
    while (ReadFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) && got > 0) {
        tail.offset += got;
        tail.partial.append(chunk.data(), got);
        size_t begin = 0;
        for (size_t end; (end = tail.partial.find('\n', begin)) != std::string::npos; begin = end + 1) {
            Json::Value line;
            std::string errors;
            bool taken = false;
            try {
                taken = reader->parse(tail.partial.data() + begin, tail.partial.data() + end, &line, &errors) &&
                        line.isObject() && (take(line), true);
            } catch (const std::exception& failure) {
                errors = failure.what();
            }
            if (!taken) {
                findings_.Lost("a line of the agent's %ls cannot be read: %s", tail.path.c_str(), errors.c_str());
            }
        }
        tail.partial.erase(0, begin);
    }
}

void Ledger::TakeJournalLine(const Json::Value& line) {
    const std::string what = line["what"].asString();
    const long long us = line["us"].asInt64();
    const int client = line["client"].asInt();
    if (what == "delivered") {
        ++delivered_;
        if (client != kSettingsClient) {
            clients_[client].deliveries.push_back(AgentDelivery{us, line["kind"].asString() == "remove",
                                                                line["source"].asString(), line["polid"].asString()});
        }
    } else if (what == "connected" && client != kSettingsClient) {
        clients_[client].connections.push_back(AgentConnection{line["connection"].asInt(), us, -1});
    } else if (what == "disconnected" && client != kSettingsClient) {
        for (AgentConnection& connection : clients_[client].connections) {
            if (connection.connection == line["connection"].asInt()) {
                connection.closed_us = us;
            }
        }
    } else if (what == "settings") {
        CheckForbidden(line["document"], forbidden_);
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "";
        versions_.push_back(Version{us, Json::writeString(builder, line["document"])});
        while (versions_.size() > 1 && versions_[1].us + kVersionMemoryUs < us) {
            versions_.pop_front();
        }
    } else if (what == "step") {
        const std::string kind = line["do"].asString();
        const int step = line["step"].asInt();
        ++faults_[kind];
        if (kind == "server_down" || kind == "refuse_connections" || kind == "restart") {
            open_outages_[step] = outages_.size();
            outages_.push_back(Outage{step, us, -1});
        } else if (kind == "drop_connections") {
            outages_.push_back(Outage{step, us, us});
        }
    } else if (what == "step_end") {
        const auto open = open_outages_.find(line["step"].asInt());
        if (open != open_outages_.end()) {
            outages_[open->second].to_us = us;
            open_outages_.erase(open);
        }
    }
}

void Ledger::TakeEventLine(const Json::Value& line) {
    ++events_recorded_;
    const int client = line["client"].asInt();
    const Json::Value& event = line["event"];
    const std::string key = event.isObject() ? EventKey(event["name"].asString(), event["desc"].asString())
                                             : EventKey("", line["text"].asString());
    ++clients_[client].events[key];
}

void Ledger::RefreshLocked() {
    ReadNew(journal_, [this](const Json::Value& line) { TakeJournalLine(line); });
    ReadNew(events_, [this](const Json::Value& line) { TakeEventLine(line); });
}

void Ledger::Refresh() {
    std::lock_guard<std::mutex> lock(mutex_);
    RefreshLocked();
}

bool Ledger::WaitDisconnected(int client, DWORD timeout_ms) {
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            RefreshLocked();
            const std::vector<AgentConnection>& connections = clients_[client].connections;
            if (std::all_of(connections.begin(), connections.end(),
                            [](const AgentConnection& connection) { return connection.closed_us >= 0; })) {
                return true;
            }
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(kPollMs);
    }
}

size_t Ledger::CountDeliveries(int client, const std::function<bool(const AgentDelivery&)>& counts) {
    std::lock_guard<std::mutex> lock(mutex_);
    RefreshLocked();
    const auto found = clients_.find(client);
    return found == clients_.end() ? 0
                                   : static_cast<size_t>(std::count_if(found->second.deliveries.begin(),
                                                                       found->second.deliveries.end(), counts));
}

void Ledger::ForgetAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    RefreshLocked();
    clients_.clear();
    versions_.clear();
    forbidden_.clear();
    outages_.clear();
    open_outages_.clear();
    faults_.clear();
    delivered_ = 0;
    events_recorded_ = 0;
}

ClientAccount Ledger::Take(int client) {
    std::lock_guard<std::mutex> lock(mutex_);
    ClientAccount account;
    const auto found = clients_.find(client);
    if (found != clients_.end()) {
        account = std::move(found->second);
        clients_.erase(found);
    }
    return account;
}

bool Ledger::HeldDuring(long long from_us, long long to_us, const std::function<bool(const Json::Value&)>& matches) {
    std::lock_guard<std::mutex> lock(mutex_);
    RefreshLocked();
    for (size_t n = 0; n < versions_.size(); ++n) {
        const bool held = versions_[n].us <= to_us && (n + 1 == versions_.size() || versions_[n + 1].us >= from_us);
        if (held && matches(Parse(versions_[n].text))) {
            return true;
        }
    }
    return false;
}

Json::Value Ledger::Latest() {
    std::lock_guard<std::mutex> lock(mutex_);
    RefreshLocked();
    return versions_.empty() ? Json::Value() : Parse(versions_.back().text);
}

Json::Value Ledger::Parse(const std::string& text) {
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value document;
    std::string errors;
    reader->parse(text.data(), text.data() + text.size(), &document, &errors);
    return document;
}

void Ledger::CheckForbidden(const Json::Value& document, const Forbidden& forbidden) {
    for (const auto& member : forbidden) {
        const Json::Value n = At(document, {"id", "customdata", member.first.c_str(), "n"});
        if (n.isInt64() && member.second.count(n.asInt64()) != 0) {
            findings_.Lost("the agent holds customdata/%s/n = %lld from an Update that did not return 0",
                           member.first.c_str(), static_cast<long long>(n.asInt64()));
        }
    }
}

void Ledger::ForbidValue(const std::string& member, long long n) {
    std::lock_guard<std::mutex> lock(mutex_);
    RefreshLocked();
    forbidden_[member].insert(n);
    const Forbidden one{{member, {n}}};
    for (const Version& version : versions_) {
        CheckForbidden(Parse(version.text), one);
    }
}

long long Ledger::ServerWaitMs(long long from_us, long long to_us) {
    std::lock_guard<std::mutex> lock(mutex_);
    long long wait_ms = 0;
    for (const Outage& outage : outages_) {
        const long long end = outage.to_us < 0 ? to_us : outage.to_us;
        if (outage.from_us <= to_us && end >= from_us) {
            wait_ms += (std::min(end, to_us) - std::max(outage.from_us, from_us)) / 1000 + kReconnectMs;
        }
    }
    return wait_ms;
}

Ledger::Totals Ledger::Sum() {
    std::lock_guard<std::mutex> lock(mutex_);
    Totals totals;
    totals.faults = faults_;
    for (const auto& kind : faults_) {
        totals.fault_count += kind.second;
    }
    totals.delivered = delivered_;
    totals.events = events_recorded_;
    return totals;
}

}  // namespace qvhost
