// The stand-in's record of calls, its clients and its scripted answers.
#include "stand_ins/vornint/recorder.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "equipment/environment.h"

namespace vornint {

namespace {

void CopyText(const std::string& source, char* target, size_t capacity) {
    if (target == nullptr || capacity == 0) {
        return;
    }
    const size_t length = std::min(source.size(), capacity - 1);
    std::memcpy(target, source.data(), length);
    target[length] = '\0';
}

// False under VORNINT_RECORD=off.
bool RecordingWanted() { return !equipment::EnvironmentSays(L"VORNINT_RECORD", L"off"); }

}  // namespace

Recorder& Recorder::Instance() {
    static Recorder* recorder = new Recorder();
    return *recorder;
}

ClientKey Recorder::AddClient(int number, const char* name, std::shared_ptr<DeliveryQueue> queue) {
    ClientKey key;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!RecordingWanted()) {
            key.number = number;
            return key;
        }
        key.generation = generation_;
        key.index = static_cast<int>(clients_.size());
        key.number = number;
        Client client;
        client.summary.number = number;
        client.name = name != nullptr ? name : "";
        client.queue = std::move(queue);
        clients_.push_back(std::move(client));
    }
    vornint_entry entry{};
    entry.kind = VORNINT_CONSTRUCTED;
    Record(key, entry, name);
    return key;
}

void Recorder::Record(const ClientKey& key, vornint_entry entry, const char* text) {
    entry.client_index = key.index;
    entry.client_number = key.number;
    entry.thread_id = GetCurrentThreadId();
    entry.text_null = text == nullptr ? 1 : 0;
    StoredEntry stored{entry, text != nullptr ? text : ""};
    stored.entry.text_length = stored.text.size();

    std::lock_guard<std::mutex> lock(mutex_);
    if (key.generation != generation_) {
        return;
    }
    Summarise(clients_[static_cast<size_t>(key.index)].summary, stored.entry);
    entries_.push_back(std::move(stored));
}

void Recorder::Summarise(vornint_client& summary, const vornint_entry& entry) {
    switch (entry.kind) {
        case VORNINT_REGISTERED_POLICY_HANDLER:
            summary.policy_handler = entry.handler;
            break;
        case VORNINT_REGISTERED_NOTIFICATION_HANDLER:
            summary.notification_handler = entry.handler;
            break;
        case VORNINT_STARTED:
            ++summary.starts;
            break;
        case VORNINT_STOPPED:
            ++summary.stops;
            break;
        case VORNINT_DESTROYED:
            summary.destroyed = 1;
            summary.destroyed_without_stop = entry.stopped_before ? 0 : 1;
            break;
        case VORNINT_DELIVERED:
            ++summary.delivered;
            break;
        case VORNINT_DROPPED:
            ++summary.dropped;
            break;
        default:
            break;
    }
}

vornint_client_script Recorder::ClientScript(const ClientKey& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (key.generation == generation_) {
        auto found = client_scripts_.find(key.index);
        if (found != client_scripts_.end()) {
            return found->second;
        }
    }
    return default_script_;
}

CommandAnswer Recorder::Command(const ClientKey& key, int command) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (key.generation == generation_) {
        auto found = client_commands_.find({key.index, command});
        if (found != client_commands_.end()) {
            return found->second;
        }
    }
    auto found = default_commands_.find(command);
    return found != default_commands_.end() ? found->second : CommandAnswer{};
}

void Recorder::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++generation_;
    clients_.clear();
    entries_.clear();
    default_script_ = vornint_client_script{0, 0, 0, 1};
    client_scripts_.clear();
    default_commands_.clear();
    client_commands_.clear();
}

int Recorder::ResolveIndex(int client_index) const {
    if (client_index == VORNINT_LATEST_CLIENT) {
        return clients_.empty() ? -1 : static_cast<int>(clients_.size()) - 1;
    }
    return client_index >= 0 && static_cast<size_t>(client_index) < clients_.size() ? client_index : -1;
}

int Recorder::ScriptClient(int client_index, const vornint_client_script& script) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (client_index == VORNINT_ALL_CLIENTS) {
        default_script_ = script;
        return VORNINT_OK;
    }
    // A client not constructed yet may be scripted ahead, since start_async follows construction at once.
    const int index = client_index == VORNINT_LATEST_CLIENT ? ResolveIndex(client_index) : client_index;
    if (index < 0) {
        return VORNINT_NO_SUCH_CLIENT;
    }
    client_scripts_[index] = script;
    return VORNINT_OK;
}

int Recorder::ScriptCommand(int client_index, int command, const CommandAnswer& answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (client_index == VORNINT_ALL_CLIENTS) {
        default_commands_[command] = answer;
        return VORNINT_OK;
    }
    const int index = client_index == VORNINT_LATEST_CLIENT ? ResolveIndex(client_index) : client_index;
    if (index < 0) {
        return VORNINT_NO_SUCH_CLIENT;
    }
    client_commands_[{index, command}] = answer;
    return VORNINT_OK;
}

std::shared_ptr<DeliveryQueue> Recorder::Queue(int client_index) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int index = ResolveIndex(client_index);
    return index < 0 ? nullptr : clients_[static_cast<size_t>(index)].queue;
}

std::vector<std::shared_ptr<DeliveryQueue>> Recorder::Queues() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::shared_ptr<DeliveryQueue>> queues;
    for (const Client& client : clients_) {
        queues.push_back(client.queue);
    }
    return queues;
}

size_t Recorder::ClientCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return clients_.size();
}

int Recorder::GetClient(int client_index, vornint_client* client, char* name, size_t capacity) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int index = ResolveIndex(client_index);
    if (index < 0) {
        return VORNINT_NO_SUCH_CLIENT;
    }
    const Client& found = clients_[static_cast<size_t>(index)];
    if (client != nullptr) {
        *client = found.summary;
    }
    CopyText(found.name, name, capacity);
    return VORNINT_OK;
}

size_t Recorder::EntryCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

int Recorder::GetEntry(size_t n, vornint_entry* entry, char* text, size_t capacity) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (n >= entries_.size()) {
        return VORNINT_NO_SUCH_CLIENT;
    }
    if (entry != nullptr) {
        *entry = entries_[n].entry;
    }
    CopyText(entries_[n].text, text, capacity);
    return VORNINT_OK;
}

}  // namespace vornint
