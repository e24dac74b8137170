// The simulated agent's server: one named pipe, one thread that accepts connections and one thread per client.
//
// Each client thread reads a frame, acts on it and answers before it reads the next one, so the only writer on a
// connection is its own thread; Stop wakes every thread through one event, and each says goodbye (notification 5)
// before it closes its end. A connection that sends anything the protocol does not allow is logged and closed;
// the listener and the other connections go on.
#pragma once

#include <windows.h>

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

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

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    qv::UniqueHandle MakeInstance(bool first);
    void Listen(qv::UniqueHandle instance);
    void Serve(qv::UniqueHandle pipe, unsigned connection);
    bool Send(HANDLE pipe, unsigned connection, const Frame& frame);
    bool Answer(HANDLE pipe, unsigned connection, int client, const Frame& request);
    void Refuse(unsigned connection, const char* why);
    void ReapWorkers(bool all);

    AgentOptions options_;
    AgentLog log_;
    std::unique_ptr<AgentState> state_;
    qv::UniqueHandle stop_;
    std::thread listener_;
    std::mutex workers_mutex_;
    std::list<Worker> workers_;
    std::atomic<bool> running_{false};
    std::atomic<int> clients_{0};
    std::atomic<unsigned long> refused_{0};
    unsigned next_connection_ = 0;  // listener thread only
};

}  // namespace vorn_agent
