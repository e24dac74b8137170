// The connected mode of the stand-in: one client's connection to the simulated agent over its named pipe.
//
// A connection owns one I/O thread that connects (and keeps trying while the agent is not there), says hello, and
// then reads what the agent sends: policies, removals and notifications go to the client's delivery queue, so they
// reach the handlers on the client's delivery thread as in the scriptable mode; replies wake the caller of
// send_event or send_command that waits for them. When the connection ends without the agent's goodbye, the link
// delivers notification 5 itself, since the handlers must learn that the server is gone; when it comes back, the
// agent's greeting brings 4. Anything the protocol does not allow from the agent is logged and drops the
// connection, after which the link connects again, a moment later. Commands tell the agent their time-out.
//
// Log lines go to the file that VORNINT_LOG names. Without it, problems (refused input, failed sends) go to stderr
// and the routine lines (connected, disconnected) nowhere, so that a host's own output stays readable.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "agent_link/vorn_comm_client.h"
#include "stand_ins/agent/agent_protocol.h"
#include "stand_ins/vornint/delivery_queue.h"
#include "support/unique_resource.h"

namespace vornint {

// Whether a client constructed now links to the agent, and over which pipe: the pipe set by
// vornint_connect_to_agent, else VORNINT_MODE=connected in the environment with the pipe of VORN_AGENT_PIPE
// (default \\.\pipe\vorn-agent). Read at each construction, so a host may set the environment late.
bool ConnectedModeChosen(std::wstring& pipe_name);
void SetAgentPipe(const wchar_t* pipe_name);  // null: follow the environment again

class AgentConnection {
public:
    AgentConnection(std::wstring pipe_name, std::shared_ptr<DeliveryQueue> queue);
    ~AgentConnection() { Stop(); }
    AgentConnection(const AgentConnection&) = delete;
    AgentConnection& operator=(const AgentConnection&) = delete;

    // Starts the I/O thread unless it runs; returns at once, connected or not.
    void Start(int client_number, const std::string& name, bool policy_handler, bool notification_handler);
    // Ends the I/O thread and fails every waiting call; delivers nothing itself.
    void Stop();

    bool Connected() const { return connected_; }

    // 0 or a Windows error: ERROR_PIPE_NOT_CONNECTED without a connection, ERROR_BROKEN_PIPE when it breaks
    // while waiting, WAIT_TIMEOUT, ERROR_FILE_TOO_LARGE for a text beyond the protocol's limit, or the agent's
    // own result. wait 0 sends without waiting for the agent; any other wait waits for its acknowledgement, up to
    // wait milliseconds when positive, else up to 15000.
    int SendEvent(int priority, uint64_t type, uint64_t subtype, uint64_t flags, const char* json, int wait);
    // Fills result from the agent's reply when one came. timeout_ms 0 or below waits without limit (until the
    // reply, a broken connection or Stop).
    int SendCommand(int command, const char* argument, vorn::command_result* result, int timeout_ms);

private:
    struct Pending {
        bool done = false;  // replied, or the connection ended
        bool replied = false;
        int result = 0;
        long long code = 0;
        bool data_null = true;
        std::string data;
    };

    void Run();
    bool Dispatch(const vorn_agent::Frame& frame, std::string& why);
    void Drop();
    int Request(vorn_agent::Frame frame, int timeout_ms, Pending& answer);
    enum LogKind { kRoutine, kProblem };
    void Log(LogKind kind, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;

    const std::wstring pipe_name_;
    const std::shared_ptr<DeliveryQueue> queue_;
    int client_number_ = 0;
    std::string name_;
    uint32_t hello_flags_ = 0;

    qv::UniqueHandle wake_;  // set by Stop, or by a writer that left the stream broken
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> connected_{false};
    bool server_up_ = false;  // I/O thread only

    std::mutex write_mutex_;  // one writer at a time; guards pipe_ against its close
    qv::UniqueHandle pipe_;

    std::mutex pending_mutex_;
    std::condition_variable answered_;
    std::map<uint32_t, std::shared_ptr<Pending>> pending_;
    uint32_t next_id_ = 1;
};

}  // namespace vornint
