// The simulated agent's server: one named pipe, one thread that accepts connections and one thread per client.
//
// Each client thread reads a frame, acts on it and answers before it reads the next one. Frames may also go out
// from elsewhere (a scenario's notifications and policies, a command answered late), so every write to a
// connection holds that connection's writer, and a connection is marked closed under its writer before its pipe
// goes: nothing is written to it afterwards. Every connection has its own cancel event, which stop, a dropping
// scenario or the connection's own end signal; each says goodbye (notification 5) only when the server stops. A
// connection that sends anything the protocol does not allow is logged and closed; the listener and the other
// connections go on.
#pragma once

#include <windows.h>

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "stand_ins/agent/agent_faults.h"
#include "stand_ins/agent/agent_journal.h"
#include "stand_ins/agent/agent_log.h"
#include "stand_ins/agent/agent_protocol.h"
#include "stand_ins/agent/agent_state.h"
#include "support/unique_resource.h"

namespace vorn_agent {

struct AgentOptions {
    std::wstring state_dir;  // must exist
    std::wstring pipe_name = kDefaultPipeName;
    unsigned long frame_timeout_ms = 10000;  // a frame that has begun must end within this
};

class AgentServer {
public:
    AgentServer() = default;
    ~AgentServer() { Stop(); }
    AgentServer(const AgentServer&) = delete;
    AgentServer& operator=(const AgentServer&) = delete;

    // Serves the pipe once this returns 0. ERROR_ALREADY_EXISTS when running, ERROR_PATH_NOT_FOUND without a state
    // folder, the Windows error when the pipe cannot be made (ERROR_ACCESS_DENIED: another server holds the name).
    DWORD Start(const AgentOptions& options);

    // Tells every client that the server goes down, closes every connection and waits for every thread.
    void Stop();

    bool Running() const { return running_; }
    int Clients() const { return clients_; }            // connections past their hello, now
    unsigned long Refused() const { return refused_; }  // connections dropped for bad input, ever
    const std::wstring& PipeName() const { return options_.pipe_name; }

    // What a scenario makes the agent do; each may be called on any thread, also while the server is stopped.
    AgentFaults& Faults() { return faults_; }
    AgentLog& Log() { return log_; }
    AgentJournal& Journal() { return journal_; }
    // Sets whether the agent's server is up and tells every linked client (notification 4 or 5).
    void AnnounceServer(bool up);
    // Ends every connection without a goodbye; each ends on its own thread. Returns how many there were.
    int DropConnections();
    // Writes the policy to every linked client with a policy handler; returns how many took it whole.
    int Deliver(FrameKind kind, const std::string& text, const std::string& source, const std::string& polid);
    // Events recorded since this object was made, across restarts.
    unsigned long long EventsRecorded() const { return events_recorded_; }

private:
    struct Connection {
        unsigned id = 0;
        HANDLE pipe = nullptr;  // owned by the serving thread; written only while not closed
        qv::UniqueHandle cancel;
        std::mutex writer;  // one frame at a time; guards closed
        bool closed = false;
        std::atomic<int> client{0};
        std::atomic<bool> linked{false};  // its hello came
        std::atomic<bool> wants_policies{false};
        std::atomic<bool> dropped{false};
        std::vector<std::thread> late_answers;  // serving thread only
    };
    using ConnectionPtr = std::shared_ptr<Connection>;

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    struct Command {
        uint32_t request_id = 0;
        int32_t command = 0;
        bool argument_null = false;
        std::string argument;
        int32_t timeout_ms = 0;  // the caller's; 0: unknown
        ULONGLONG received = 0;
    };

    qv::UniqueHandle MakeInstance(bool first);
    void Listen(qv::UniqueHandle instance);
    void Serve(qv::UniqueHandle pipe, unsigned connection);
    bool Greet(Connection& connection, uint32_t flags);
    // With the connection's writer held: writes the frame whole, or ends the connection.
    bool WriteHeld(Connection& connection, const Frame& frame, const std::string& what);
    bool Send(Connection& connection, const Frame& frame);
    bool SendNotification(Connection& connection);
    bool SendPolicy(Connection& connection, FrameKind kind, const std::string& text, const std::string& source,
                    const std::string& polid);
    bool Answer(const ConnectionPtr& connection, const Frame& request);
    bool CarryOut(Connection& connection, const Command& command);
    void Refuse(unsigned connection, const char* why);
    void ReapWorkers(bool all);
    std::vector<ConnectionPtr> Linked(bool with_policy_handler);
    void JournalConnection(const Connection& connection, const char* what, const char* why);

    AgentOptions options_;
    AgentLog log_;
    AgentJournal journal_;
    AgentFaults faults_;
    std::unique_ptr<AgentState> state_;
    qv::UniqueHandle stop_;
    std::thread listener_;
    std::mutex workers_mutex_;
    std::list<Worker> workers_;
    std::mutex connections_mutex_;  // guards connections_ and stopping_
    std::list<ConnectionPtr> connections_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> running_{false};
    std::atomic<int> clients_{0};
    std::atomic<unsigned long> refused_{0};
    std::atomic<unsigned long long> events_recorded_{0};
    std::atomic<unsigned long long> delivery_seq_{0};
    unsigned next_connection_ = 0;  // listener thread only
};

}  // namespace vorn_agent
