// The stand-in's memory: the ordered record of every call, the clients by index, and the scripted answers.
// It knows no transport: whatever drives the stand-in (the control interface, a simulated agent) goes through it.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "stand_ins/vornint/vornint_control.h"

namespace vornint {

class DeliveryQueue;

// Identifies a client's record; a client made before the last reset carries an old generation and is not recorded,
// nor is one made under VORNINT_RECORD=off (generation 0).
struct ClientKey {
    unsigned generation = 0;
    int index = -1;
    int number = 0;
    bool Recorded() const { return generation != 0; }
};

struct CommandAnswer {
    int result = 0;
    bool reply = false;
    bool data_null = true;
    std::string data;
    long long code = 0;
};

class Recorder {
public:
    // Never destroyed: a client may outlive the module's static destruction.
    static Recorder& Instance();

    // Records the construction and hands out the key for the client's further entries.
    ClientKey AddClient(int number, const char* name, std::shared_ptr<DeliveryQueue> queue);

    // Appends an entry for the client, stamped with the calling thread; text may be null.
    void Record(const ClientKey& key, vornint_entry entry, const char* text);

    vornint_client_script ClientScript(const ClientKey& key);
    CommandAnswer Command(const ClientKey& key, int command);

    void Reset();
    int ScriptClient(int client_index, const vornint_client_script& script);
    int ScriptCommand(int client_index, int command, const CommandAnswer& answer);

    // The client's queue, with VORNINT_LATEST_CLIENT resolved; null for an unknown index.
    std::shared_ptr<DeliveryQueue> Queue(int client_index);
    std::vector<std::shared_ptr<DeliveryQueue>> Queues();

    size_t ClientCount();
    int GetClient(int client_index, vornint_client* client, char* name, size_t capacity);
    size_t EntryCount();
    int GetEntry(size_t n, vornint_entry* entry, char* text, size_t capacity);

private:
    struct Client {
        vornint_client summary{};
        std::string name;
        std::shared_ptr<DeliveryQueue> queue;
    };
    struct StoredEntry {
        vornint_entry entry;
        std::string text;
    };

    Recorder() = default;
    int ResolveIndex(int client_index) const;  // -1 when unknown; caller holds mutex_
    static void Summarise(vornint_client& summary, const vornint_entry& entry);

    std::mutex mutex_;
    unsigned generation_ = 1;
    std::vector<Client> clients_;
    std::vector<StoredEntry> entries_;
    vornint_client_script default_script_{0, 0, 0, 1};
    std::map<int, vornint_client_script> client_scripts_;
    std::map<int, CommandAnswer> default_commands_;
    std::map<std::pair<int, int>, CommandAnswer> client_commands_;
};

}  // namespace vornint
