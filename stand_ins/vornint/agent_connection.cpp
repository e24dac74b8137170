// The connected mode of the stand-in: the connection of one client to the simulated agent.
#include "stand_ins/vornint/agent_connection.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <optional>

#include "equipment/environment.h"
#include "equipment/files.h"

namespace vornint {

namespace {

constexpr DWORD kRetryMs = 100;
constexpr DWORD kFrameTimeoutMs = 10000;  // a frame that has begun must end within this
constexpr DWORD kWriteTimeoutMs = 10000;
constexpr int kSyncEventWaitMs = 15000;
const char kDownText[] = "{\"server\":\"down\"}";

std::mutex& ModeMutex() {
    static std::mutex* mutex = new std::mutex();
    return *mutex;
}

std::optional<std::wstring>& PipeOverride() {
    static std::optional<std::wstring>* pipe = new std::optional<std::wstring>();
    return *pipe;
}

}  // namespace

bool ConnectedModeChosen(std::wstring& pipe_name) {
    {
        std::lock_guard<std::mutex> lock(ModeMutex());
        if (PipeOverride()) {
            pipe_name = *PipeOverride();
            return true;
        }
    }
    if (!equipment::EnvironmentSays(L"VORNINT_MODE", L"connected")) {
        return false;
    }
    pipe_name = equipment::EnvironmentValue(L"VORN_AGENT_PIPE");
    if (pipe_name.empty()) {
        pipe_name = vorn_agent::kDefaultPipeName;
    }
    return true;
}

void SetAgentPipe(const wchar_t* pipe_name) {
    std::lock_guard<std::mutex> lock(ModeMutex());
    if (pipe_name != nullptr) {
        PipeOverride() = std::wstring(pipe_name);
    } else {
        PipeOverride().reset();
    }
}

AgentConnection::AgentConnection(std::wstring pipe_name, std::shared_ptr<DeliveryQueue> queue)
    : pipe_name_(std::move(pipe_name)), queue_(std::move(queue)), wake_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

void AgentConnection::Log(LogKind kind, const char* format, ...) {
    char message[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof(message), format, args);
    va_end(args);
    char line[1200];
    const int length = snprintf(line, sizeof(line), "vornint client %d: %s\n", client_number_, message);
    const std::wstring path = equipment::EnvironmentValue(L"VORNINT_LOG");
    if (!path.empty() && length > 0 && equipment::AppendToFile(path, line) == ERROR_SUCCESS) {
        return;
    }
    if (kind == kProblem) {
        fputs(line, stderr);
    }
}

void AgentConnection::Start(int client_number, const std::string& name, bool policy_handler,
                            bool notification_handler) {
    if (thread_.joinable()) {
        return;
    }
    client_number_ = client_number;
    name_ = name;
    hello_flags_ = (policy_handler ? vorn_agent::kWantsPolicies : 0u) |
                   (notification_handler ? vorn_agent::kWantsNotifications : 0u);
    stopping_ = false;
    ResetEvent(wake_.get());
    thread_ = std::thread([this] { Run(); });
}

void AgentConnection::Stop() {
    if (!thread_.joinable()) {
        return;
    }
    // stopping_ before the event: the I/O thread resets the event only while stopping_ is false, and looks at
    // stopping_ after every reset.
    stopping_ = true;
    SetEvent(wake_.get());
    thread_.join();
}

void AgentConnection::Run() {
    bool reported_unreachable = false;
    while (!stopping_) {
        HANDLE pipe = CreateFileW(pipe_name_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe == INVALID_HANDLE_VALUE) {
            if (!reported_unreachable) {
                Log(kRoutine, "agent not reachable (error %lu); trying again every %lu ms", GetLastError(), kRetryMs);
                reported_unreachable = true;
            }
            WaitForSingleObject(wake_.get(), kRetryMs);
            continue;
        }
        reported_unreachable = false;
        vorn_agent::Frame hello;
        hello.kind = vorn_agent::kHello;
        hello.payload = vorn_agent::PayloadWriter().I32(client_number_).U32(hello_flags_).Text(name_).Take();
        vorn_agent::IoResult result;
        {
            std::lock_guard<std::mutex> lock(write_mutex_);
            pipe_.reset(pipe);
            result = vorn_agent::WriteFrame(pipe, wake_.get(), kWriteTimeoutMs, hello);
        }
        if (result.status == vorn_agent::IoStatus::kOk) {
            connected_ = true;
            Log(kRoutine, "connected to the agent");
        }
        vorn_agent::Frame frame;
        while (result.status == vorn_agent::IoStatus::kOk) {
            result = vorn_agent::ReadFrame(pipe, wake_.get(), kFrameTimeoutMs, frame);
            if (result.status == vorn_agent::IoStatus::kOk && !Dispatch(frame, result.why)) {
                result.status = vorn_agent::IoStatus::kBadFrame;
            }
        }
        switch (result.status) {
            case vorn_agent::IoStatus::kCancelled:
                if (!stopping_) {
                    Log(kProblem, "a send left the connection broken; connection dropped");
                }
                break;
            case vorn_agent::IoStatus::kClosed:
                Log(kRoutine, "the agent closed the connection");
                break;
            case vorn_agent::IoStatus::kFailed:
                Log(kProblem, "%s (error %lu); connection dropped", result.why.c_str(), result.error);
                break;
            default:
                Log(kProblem, "refused from the agent: %s; connection dropped", result.why.c_str());
                break;
        }
        Drop();
        // A connection that ends at once (an agent refusing new connections) must not make the link spin.
        if (!stopping_) {
            WaitForSingleObject(wake_.get(), kRetryMs);
        }
    }
}

bool AgentConnection::Dispatch(const vorn_agent::Frame& frame, std::string& why) {
    vorn_agent::PayloadReader reader(frame.payload);
    Delivery delivery;
    switch (frame.kind) {
        case vorn_agent::kRunPolicy:
        case vorn_agent::kAddPolicy:
        case vorn_agent::kRemovePolicy:
            if (!reader.Text(delivery.text_null, delivery.text) || !reader.Done()) {
                why = "malformed policy frame";
                return false;
            }
            delivery.kind = frame.kind == vorn_agent::kRunPolicy   ? VORNINT_RUN_POLICY
                            : frame.kind == vorn_agent::kAddPolicy ? VORNINT_ADD_POLICY
                                                                   : VORNINT_REMOVE_POLICY;
            queue_->Push(std::move(delivery));
            return true;
        case vorn_agent::kNotification: {
            int32_t id = 0;
            if (!reader.I32(id) || !reader.Text(delivery.text_null, delivery.text) || !reader.Done()) {
                why = "malformed notification frame";
                return false;
            }
            if (id == vorn_agent::kServerUp || id == vorn_agent::kServerDown) {
                server_up_ = id == vorn_agent::kServerUp;
            }
            // Both handlers hear it; a client has at most the kinds it registered, and Push skips the others.
            delivery.notification_id = id;
            delivery.kind = VORNINT_POLICY_NOTIFICATION;
            queue_->Push(delivery);
            delivery.kind = VORNINT_NOTIFICATION;
            queue_->Push(std::move(delivery));
            return true;
        }
        case vorn_agent::kReply: {
            Pending reply;
            int64_t code = 0;
            if (!reader.I32(reply.result) || !reader.I64(code) || !reader.Text(reply.data_null, reply.data) ||
                !reader.Done()) {
                why = "malformed reply frame";
                return false;
            }
            reply.code = code;
            reply.done = true;
            reply.replied = true;
            std::lock_guard<std::mutex> lock(pending_mutex_);
            auto found = pending_.find(frame.id);
            if (found != pending_.end()) {  // else the caller has given up waiting
                *found->second = std::move(reply);
                pending_.erase(found);
                answered_.notify_all();
            }
            return true;
        }
        default:
            why = "unexpected frame kind " + std::to_string(frame.kind) + " from the agent";
            return false;
    }
}

void AgentConnection::Drop() {
    const bool was_connected = connected_.exchange(false);
    {
        std::lock_guard<std::mutex> lock(write_mutex_);
        pipe_.reset();
    }
    {
        std::lock_guard<std::mutex> lock(pending_mutex_);
        for (auto& waiting : pending_) {
            waiting.second->done = true;
        }
        pending_.clear();
        answered_.notify_all();
    }
    if (server_up_ && !stopping_) {
        Delivery down;
        down.notification_id = vorn_agent::kServerDown;
        down.text = kDownText;
        down.kind = VORNINT_POLICY_NOTIFICATION;
        queue_->Push(down);
        down.kind = VORNINT_NOTIFICATION;
        queue_->Push(std::move(down));
    }
    server_up_ = false;
    if (was_connected && !stopping_) {
        Log(kRoutine, "disconnected from the agent; reconnecting");
    }
    if (!stopping_) {
        ResetEvent(wake_.get());
    }
}

int AgentConnection::Request(vorn_agent::Frame frame, int timeout_ms, Pending& answer) {
    if (!connected_) {
        return ERROR_PIPE_NOT_CONNECTED;
    }
    if (frame.payload.size() > vorn_agent::kMaxPayload) {
        return ERROR_FILE_TOO_LARGE;
    }
    std::shared_ptr<Pending> pending;
    if (timeout_ms != 0) {
        pending = std::make_shared<Pending>();
        std::lock_guard<std::mutex> lock(pending_mutex_);
        frame.id = next_id_++;
        if (next_id_ == 0) {
            next_id_ = 1;  // 0 means that nobody waits
        }
        pending_[frame.id] = pending;
    }
    {
        std::lock_guard<std::mutex> lock(write_mutex_);
        const vorn_agent::IoResult result =
            pipe_ ? vorn_agent::WriteFrame(pipe_.get(), wake_.get(), kWriteTimeoutMs, frame)
                  : vorn_agent::IoResult{vorn_agent::IoStatus::kClosed, 0, ""};
        if (result.status != vorn_agent::IoStatus::kOk) {
            if (pipe_ && !stopping_) {
                // A frame may be half written; the I/O thread drops the connection and connects again. An agent
                // that has gone is routine; the I/O thread notices it too.
                Log(result.status == vorn_agent::IoStatus::kClosed ? kRoutine : kProblem,
                    "sending to the agent failed: %s (error %lu)", result.why.c_str(), result.error);
                SetEvent(wake_.get());
            }
            std::lock_guard<std::mutex> pending_lock(pending_mutex_);
            pending_.erase(frame.id);
            return result.status == vorn_agent::IoStatus::kFailed ? static_cast<int>(result.error) : ERROR_BROKEN_PIPE;
        }
    }
    if (!pending) {
        return ERROR_SUCCESS;
    }
    std::unique_lock<std::mutex> lock(pending_mutex_);
    const auto done = [&] { return pending->done; };
    if (timeout_ms < 0) {
        answered_.wait(lock, done);
    } else if (!answered_.wait_for(lock, std::chrono::milliseconds(timeout_ms), done)) {
        pending_.erase(frame.id);
        return WAIT_TIMEOUT;
    }
    if (!pending->replied) {
        return ERROR_BROKEN_PIPE;
    }
    answer = *pending;
    return ERROR_SUCCESS;
}

int AgentConnection::SendEvent(int priority, uint64_t type, uint64_t subtype, uint64_t flags, const char* json,
                               int wait) {
    vorn_agent::Frame frame;
    frame.kind = vorn_agent::kEvent;
    frame.payload =
        vorn_agent::PayloadWriter().I32(priority).U64(type).U64(subtype).U64(flags).I32(wait).Text(json).Take();
    Pending answer;
    const int result = Request(std::move(frame), wait == 0 ? 0 : (wait > 0 ? wait : kSyncEventWaitMs), answer);
    return result != ERROR_SUCCESS || wait == 0 ? result : answer.result;
}

int AgentConnection::SendCommand(int command, const char* argument, vorn::command_result* result, int timeout_ms) {
    // The agent learns how long the caller waits, so that it does not carry out a command nobody waits for.
    vorn_agent::Frame frame;
    frame.kind = vorn_agent::kTimedCommand;
    frame.payload = vorn_agent::PayloadWriter().I32(command).I32(timeout_ms > 0 ? timeout_ms : 0).Text(argument).Take();
    Pending answer;
    const int sent = Request(std::move(frame), timeout_ms <= 0 ? -1 : timeout_ms, answer);
    if (sent != ERROR_SUCCESS) {
        return sent;
    }
    if (result != nullptr) {
        result->set_data(answer.data_null ? nullptr : answer.data.c_str());
        result->set_result(answer.code);
    }
    return answer.result;
}

}  // namespace vornint
