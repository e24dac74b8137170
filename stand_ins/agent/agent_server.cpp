// The simulated agent's pipe server.
#include "stand_ins/agent/agent_server.h"

#include <sddl.h>

#include <cstdio>

#include "stand_ins/agent/agent_files.h"

namespace vorn_agent {

namespace {

constexpr DWORD kPipeBuffer = 64 * 1024;
constexpr DWORD kWriteTimeoutMs = 10000;  // a client that reads nothing for this long is given up
constexpr DWORD kGoodbyeTimeoutMs = 1000;
constexpr DWORD kRetryMs = 100;

const char kUpText[] = "{\"server\":\"up\"}";
const char kDownText[] = "{\"server\":\"down\"}";

Frame Notification(int id, const char* text) {
    Frame frame;
    frame.kind = kNotification;
    frame.payload = PayloadWriter().I32(id).Text(text).Take();
    return frame;
}

Frame Reply(uint32_t id, int result, long long code, const std::string* data) {
    Frame frame;
    frame.kind = kReply;
    frame.id = id;
    PayloadWriter payload;
    payload.I32(result).I64(code);
    if (data != nullptr) {
        payload.Text(*data);
    } else {
        payload.Text(nullptr);
    }
    frame.payload = payload.Take();
    return frame;
}

// Owner of a security descriptor from the SDDL converter.
struct LocalFreeDeleter {
    void operator()(void* memory) const { LocalFree(memory); }
};

}  // namespace

DWORD AgentServer::Start(const AgentOptions& options) {
    if (running_) {
        return ERROR_ALREADY_EXISTS;
    }
    const DWORD attributes = GetFileAttributesW(options.state_dir.c_str());
    if (options.state_dir.empty() || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return ERROR_PATH_NOT_FOUND;
    }
    options_ = options;
    log_.Open(options_.state_dir + L"\\agent.log");
    state_ = std::make_unique<AgentState>(options_.state_dir, log_);
    stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stop_) {
        return GetLastError();
    }
    // A name that some server holds already is refused, also where the first-instance flag is not enforced
    // (Wine): an idle instance lets the wait succeed, busy ones make it time out, only no server gives
    // ERROR_FILE_NOT_FOUND.
    if (WaitNamedPipeW(options_.pipe_name.c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND) {
        log_.Write("cannot serve %s: another server holds that name", ToUtf8(options_.pipe_name).c_str());
        return ERROR_PIPE_BUSY;
    }
    // The first instance is made here, so that a client may connect as soon as Start has returned.
    qv::UniqueHandle instance = MakeInstance(true);
    if (!instance) {
        const DWORD error = GetLastError();
        log_.Write("cannot serve %s: error %lu", ToUtf8(options_.pipe_name).c_str(), error);
        return error;
    }
    log_.Write("serving %s from %s", ToUtf8(options_.pipe_name).c_str(), ToUtf8(options_.state_dir).c_str());
    running_ = true;
    listener_ = std::thread([this, first = std::move(instance)]() mutable { Listen(std::move(first)); });
    return ERROR_SUCCESS;
}

void AgentServer::Stop() {
    if (!running_) {
        return;
    }
    SetEvent(stop_.get());
    listener_.join();
    ReapWorkers(true);
    running_ = false;
    log_.Write("stopped serving %s", ToUtf8(options_.pipe_name).c_str());
}

qv::UniqueHandle AgentServer::MakeInstance(bool first) {
    // Any signed-in user's process may talk to the agent, also when it runs as a service under another account.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;GRGW;;;AU)", SDDL_REVISION_1,
                                                         &descriptor, nullptr);
    const std::unique_ptr<void, LocalFreeDeleter> owned(descriptor);
    SECURITY_ATTRIBUTES security{sizeof(security), descriptor, FALSE};
    HANDLE pipe =
        CreateNamedPipeW(options_.pipe_name.c_str(),
                         PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, kPipeBuffer,
                         kPipeBuffer, 0, descriptor != nullptr ? &security : nullptr);
    return qv::UniqueHandle(pipe == INVALID_HANDLE_VALUE ? nullptr : pipe);
}

void AgentServer::Listen(qv::UniqueHandle instance) {
    for (;;) {
        if (instance) {
            qv::UniqueHandle connected_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            OVERLAPPED overlapped{};
            overlapped.hEvent = connected_event.get();
            DWORD error = ConnectNamedPipe(instance.get(), &overlapped) ? ERROR_SUCCESS : GetLastError();
            if (error == ERROR_IO_PENDING) {
                HANDLE waits[2] = {connected_event.get(), stop_.get()};
                if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                    CancelIoEx(instance.get(), &overlapped);
                }
                DWORD ignored = 0;
                error =
                    GetOverlappedResult(instance.get(), &overlapped, &ignored, TRUE) ? ERROR_SUCCESS : GetLastError();
            } else if (error == ERROR_PIPE_CONNECTED) {
                error = ERROR_SUCCESS;
            }
            if (WaitForSingleObject(stop_.get(), 0) == WAIT_OBJECT_0) {
                return;
            }
            if (error == ERROR_SUCCESS) {
                const unsigned connection = ++next_connection_;
                auto finished = std::make_shared<std::atomic<bool>>(false);
                std::thread thread([this, pipe = std::move(instance), connection, finished]() mutable {
                    Serve(std::move(pipe), connection);
                    *finished = true;
                });
                std::lock_guard<std::mutex> lock(workers_mutex_);
                workers_.push_back(Worker{std::move(thread), finished});
            } else if (error != ERROR_NO_DATA) {
                // ERROR_NO_DATA: a client came and went before it was seen; nothing to tell.
                log_.Write("waiting for a client failed: error %lu", error);
            }
            instance.reset();
        }
        ReapWorkers(false);
        instance = MakeInstance(false);
        if (!instance) {
            log_.Write("cannot make another instance of %s: error %lu; retrying", ToUtf8(options_.pipe_name).c_str(),
                       GetLastError());
            if (WaitForSingleObject(stop_.get(), kRetryMs) == WAIT_OBJECT_0) {
                return;
            }
        }
    }
}

void AgentServer::ReapWorkers(bool all) {
    std::list<Worker> done;
    {
        std::lock_guard<std::mutex> lock(workers_mutex_);
        for (auto it = workers_.begin(); it != workers_.end();) {
            if (all || *it->finished) {
                done.splice(done.end(), workers_, it++);
            } else {
                ++it;
            }
        }
    }
    for (Worker& worker : done) {
        worker.thread.join();
    }
}

void AgentServer::Refuse(unsigned connection, const char* why) {
    ++refused_;
    log_.Write("connection %u: refused: %s; connection dropped", connection, why);
}

bool AgentServer::Send(HANDLE pipe, unsigned connection, const Frame& frame) {
    const IoResult result = WriteFrame(pipe, stop_.get(), kWriteTimeoutMs, frame);
    if (result.status != IoStatus::kOk && result.status != IoStatus::kCancelled) {
        log_.Write("connection %u: cannot send a frame of kind %u: %s (error %lu); connection dropped", connection,
                   frame.kind, result.why.c_str(), result.error);
    }
    return result.status == IoStatus::kOk;
}

void AgentServer::Serve(qv::UniqueHandle pipe, unsigned connection) {
    Frame frame;
    IoResult result = ReadFrame(pipe.get(), stop_.get(), options_.frame_timeout_ms, frame);
    int client = 0;
    bool hello = false;
    if (result.status == IoStatus::kOk) {
        PayloadReader reader(frame.payload);
        uint32_t flags = 0;
        bool name_null = false;
        std::string name;
        if (frame.kind != kHello || !reader.I32(client) || !reader.U32(flags) || !reader.Text(name_null, name) ||
            !reader.Done()) {
            Refuse(connection, "the first frame is not a well-formed hello");
            return;
        }
        hello = true;
        ++clients_;
        log_.Write("connection %u: client %d \"%.100s\" connected (policy handler: %s, notification handler: %s)",
                   connection, client, name.c_str(), (flags & kWantsPolicies) ? "yes" : "no",
                   (flags & kWantsNotifications) ? "yes" : "no");
        bool sent = Send(pipe.get(), connection, Notification(kServerUp, kUpText));
        if (sent && (flags & kWantsPolicies) != 0) {
            for (const auto& kind_texts :
                 {std::make_pair(kRunPolicy, state_->Policies()), std::make_pair(kRemovePolicy, state_->Removals())}) {
                for (const std::string& text : kind_texts.second) {
                    Frame policy;
                    policy.kind = kind_texts.first;
                    policy.payload = PayloadWriter().Text(text).Take();
                    sent = sent && Send(pipe.get(), connection, policy);
                }
            }
        }
        while (sent) {
            result = ReadFrame(pipe.get(), stop_.get(), options_.frame_timeout_ms, frame);
            if (result.status != IoStatus::kOk) {
                break;
            }
            sent = Answer(pipe.get(), connection, client, frame);
        }
    }
    switch (result.status) {
        case IoStatus::kOk:
        case IoStatus::kCancelled:
            break;
        case IoStatus::kClosed:
            log_.Write("connection %u: client %d closed the connection", connection, client);
            break;
        case IoStatus::kFailed:
            log_.Write("connection %u: %s (error %lu); connection dropped", connection, result.why.c_str(),
                       result.error);
            break;
        default:
            Refuse(connection, result.why.c_str());
            break;
    }
    if (WaitForSingleObject(stop_.get(), 0) == WAIT_OBJECT_0 && hello) {
        // Closed without DisconnectNamedPipe, so that the client still reads the goodbye after the close.
        WriteFrame(pipe.get(), nullptr, kGoodbyeTimeoutMs, Notification(kServerDown, kDownText));
    }
    if (hello) {
        --clients_;
    }
}

bool AgentServer::Answer(HANDLE pipe, unsigned connection, int client, const Frame& request) {
    PayloadReader reader(request.payload);
    if (request.kind == kEvent) {
        EventRecord event;
        event.client_number = client;
        if (!reader.I32(event.priority) || !reader.U64(event.type) || !reader.U64(event.subtype) ||
            !reader.U64(event.flags) || !reader.I32(event.wait) || !reader.Text(event.text_null, event.text) ||
            !reader.Done()) {
            Refuse(connection, "malformed event frame");
            return false;
        }
        const DWORD error = state_->AppendEvent(event);
        return request.id == 0 || Send(pipe, connection, Reply(request.id, static_cast<int>(error), error, nullptr));
    }
    if (request.kind == kCommand) {
        int32_t command = 0;
        bool argument_null = false;
        std::string argument;
        if (!reader.I32(command) || !reader.Text(argument_null, argument) || !reader.Done()) {
            Refuse(connection, "malformed command frame");
            return false;
        }
        DWORD error = ERROR_CALL_NOT_IMPLEMENTED;
        std::string data;
        if (command == 1) {
            error = state_->GetSettings(data);
        } else if (command == 2) {
            error = state_->UpdateSettings(argument_null ? nullptr : argument.c_str());
        } else {
            log_.Write("connection %u: client %d sent command %d, which this agent does not know", connection, client,
                       command);
        }
        log_.Write("connection %u: client %d command %d: result %lu", connection, client, command, error);
        const bool with_data = command == 1 && error == ERROR_SUCCESS;
        return request.id == 0 ||
               Send(pipe, connection, Reply(request.id, static_cast<int>(error), error, with_data ? &data : nullptr));
    }
    char why[64];
    snprintf(why, sizeof(why), "unexpected frame kind %u from a client", request.kind);
    Refuse(connection, why);
    return false;
}

}  // namespace vorn_agent
