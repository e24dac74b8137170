// The simulated agent's pipe server.
#include "stand_ins/agent/agent_server.h"

#include <sddl.h>

#include <cstdio>

#include "equipment/text.h"

using equipment::ToUtf8;

namespace vorn_agent {

namespace {

constexpr DWORD kPipeBuffer = 64 * 1024;
constexpr DWORD kWriteTimeoutMs = 10000;  // a client that reads nothing for this long is given up
constexpr DWORD kGoodbyeTimeoutMs = 1000;
constexpr DWORD kRetryMs = 100;
// A command carried out this close to its caller's time-out could be answered too late to count: the caller
// would report a failure for a change that took place.
constexpr ULONGLONG kDeadlineMarginMs = 2000;

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
    journal_.Open(options_.state_dir + L"\\journal.jsonl");
    state_ = std::make_unique<AgentState>(options_.state_dir, log_, journal_);
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
    {
        std::lock_guard<std::mutex> lock(connections_mutex_);
        stopping_ = false;
    }
    Json::Value started(Json::objectValue);
    started["what"] = "started";
    journal_.Write(std::move(started));
    state_->JournalSettings();
    running_ = true;
    listener_ = std::thread([this, first = std::move(instance)]() mutable { Listen(std::move(first)); });
    return ERROR_SUCCESS;
}

void AgentServer::Stop() {
    if (!running_) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(connections_mutex_);
        stopping_ = true;
        for (const ConnectionPtr& connection : connections_) {
            SetEvent(connection->cancel.get());
        }
    }
    SetEvent(stop_.get());
    listener_.join();
    ReapWorkers(true);
    running_ = false;
    Json::Value stopped(Json::objectValue);
    stopped["what"] = "stopped";
    journal_.Write(std::move(stopped));
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
            const unsigned connection = error == ERROR_SUCCESS ? ++next_connection_ : 0;
            if (error == ERROR_SUCCESS && faults_.RefusingConnections()) {
                log_.Write("connection %u: refused: the scenario refuses new connections for now", connection);
            } else if (error == ERROR_SUCCESS) {
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

void AgentServer::JournalConnection(const Connection& connection, const char* what, const char* why) {
    Json::Value line(Json::objectValue);
    line["what"] = what;
    line["connection"] = connection.id;
    line["client"] = connection.client.load();
    if (why != nullptr) {
        line["why"] = why;
    }
    journal_.Write(std::move(line));
}

bool AgentServer::WriteHeld(Connection& connection, const Frame& frame, const std::string& what) {
    if (connection.closed) {
        return false;
    }
    const IoResult result = WriteFrame(connection.pipe, connection.cancel.get(), kWriteTimeoutMs, frame);
    if (result.status == IoStatus::kOk) {
        return true;
    }
    if (result.status != IoStatus::kCancelled) {
        log_.Write("connection %u: cannot send %s: %s (error %lu); connection dropped", connection.id, what.c_str(),
                   result.why.c_str(), result.error);
    }
    // A frame may be half written: the stream is of no use any more.
    SetEvent(connection.cancel.get());
    return false;
}

bool AgentServer::Send(Connection& connection, const Frame& frame) {
    std::lock_guard<std::mutex> lock(connection.writer);
    return WriteHeld(connection, frame, "a frame of kind " + std::to_string(frame.kind));
}

bool AgentServer::SendNotification(Connection& connection) {
    std::lock_guard<std::mutex> lock(connection.writer);
    // Read under the writer, so that of two announcements racing for one connection the later state goes last.
    const bool up = faults_.ServerUp();
    return WriteHeld(connection, Notification(up ? kServerUp : kServerDown, up ? kUpText : kDownText),
                     "a notification");
}

bool AgentServer::SendPolicy(Connection& connection, FrameKind kind, const std::string& text, const std::string& source,
                             const std::string& polid) {
    Frame frame;
    frame.kind = kind;
    frame.payload = PayloadWriter().Text(text).Take();
    std::lock_guard<std::mutex> lock(connection.writer);
    if (!WriteHeld(connection, frame, "a policy from " + source)) {
        return false;
    }
    Json::Value line(Json::objectValue);
    line["what"] = "delivered";
    line["connection"] = connection.id;
    line["client"] = connection.client.load();
    line["seq"] = Json::UInt64(++delivery_seq_);
    line["kind"] = kind == kRemovePolicy ? "remove" : "run";
    line["source"] = source;
    if (!polid.empty()) {
        line["polid"] = polid;
    }
    journal_.Write(std::move(line));
    return true;
}

std::vector<AgentServer::ConnectionPtr> AgentServer::Linked(bool with_policy_handler) {
    std::lock_guard<std::mutex> lock(connections_mutex_);
    std::vector<ConnectionPtr> linked;
    for (const ConnectionPtr& connection : connections_) {
        if (connection->linked && (!with_policy_handler || connection->wants_policies)) {
            linked.push_back(connection);
        }
    }
    return linked;
}

void AgentServer::AnnounceServer(bool up) {
    faults_.SetServerUp(up);
    for (const ConnectionPtr& connection : Linked(false)) {
        SendNotification(*connection);
    }
}

int AgentServer::DropConnections() {
    std::lock_guard<std::mutex> lock(connections_mutex_);
    for (const ConnectionPtr& connection : connections_) {
        connection->dropped = true;
        SetEvent(connection->cancel.get());
    }
    return static_cast<int>(connections_.size());
}

int AgentServer::Deliver(FrameKind kind, const std::string& text, const std::string& source, const std::string& polid) {
    int delivered = 0;
    for (const ConnectionPtr& connection : Linked(true)) {
        delivered += SendPolicy(*connection, kind, text, source, polid) ? 1 : 0;
    }
    return delivered;
}

bool AgentServer::Greet(Connection& connection, uint32_t flags) {
    bool sent = SendNotification(connection);
    if (sent && (flags & kWantsPolicies) != 0) {
        for (const auto& kind_files :
             {std::make_pair(kRunPolicy, state_->Policies()), std::make_pair(kRemovePolicy, state_->Removals())}) {
            for (const PolicyFile& file : kind_files.second) {
                sent = sent && SendPolicy(connection, kind_files.first, file.text, file.source, file.polid);
            }
        }
    }
    return sent;
}

void AgentServer::Serve(qv::UniqueHandle pipe, unsigned id) {
    const auto connection = std::make_shared<Connection>();
    connection->id = id;
    connection->pipe = pipe.get();
    connection->cancel.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!connection->cancel) {
        log_.Write("connection %u: cannot create an event: error %lu; connection dropped", id, GetLastError());
        return;
    }
    {
        std::lock_guard<std::mutex> lock(connections_mutex_);
        connections_.push_back(connection);
        if (stopping_) {
            SetEvent(connection->cancel.get());
        }
    }
    Frame frame;
    IoResult result = ReadFrame(pipe.get(), connection->cancel.get(), options_.frame_timeout_ms, frame);
    const char* why = "failed";
    bool refused = false;
    if (result.status == IoStatus::kOk) {
        PayloadReader reader(frame.payload);
        int32_t client = 0;
        uint32_t flags = 0;
        bool name_null = false;
        std::string name;
        if (frame.kind != kHello || !reader.I32(client) || !reader.U32(flags) || !reader.Text(name_null, name) ||
            !reader.Done()) {
            Refuse(id, "the first frame is not a well-formed hello");
            refused = true;
        } else {
            connection->client = client;
            connection->wants_policies = (flags & kWantsPolicies) != 0;
            connection->linked = true;
            ++clients_;
            log_.Write("connection %u: client %d \"%.100s\" connected (policy handler: %s, notification handler: %s)",
                       id, client, name.c_str(), (flags & kWantsPolicies) ? "yes" : "no",
                       (flags & kWantsNotifications) ? "yes" : "no");
            JournalConnection(*connection, "connected", nullptr);
            bool going = Greet(*connection, flags);
            while (going) {
                result = ReadFrame(pipe.get(), connection->cancel.get(), options_.frame_timeout_ms, frame);
                if (result.status != IoStatus::kOk) {
                    break;
                }
                going = Answer(connection, frame);
            }
        }
    }
    if (refused) {
        why = "refused input";
    } else if (result.status == IoStatus::kOk || result.status == IoStatus::kCancelled) {
        why = stopping_ ? "stopped" : connection->dropped ? "dropped" : why;
        if (connection->dropped && !stopping_) {
            log_.Write("connection %u: client %d dropped by the scenario", id, connection->client.load());
        }
    } else if (result.status == IoStatus::kClosed) {
        log_.Write("connection %u: client %d closed the connection", id, connection->client.load());
        why = "closed";
    } else if (result.status == IoStatus::kFailed) {
        log_.Write("connection %u: %s (error %lu); connection dropped", id, result.why.c_str(), result.error);
    } else {
        Refuse(id, result.why.c_str());
        why = "refused input";
    }
    // Commands still waiting to be answered late go with the connection.
    SetEvent(connection->cancel.get());
    for (std::thread& late : connection->late_answers) {
        late.join();
    }
    {
        std::lock_guard<std::mutex> lock(connection->writer);
        if (stopping_ && connection->linked) {
            // Closed without DisconnectNamedPipe, so that the client still reads the goodbye after the close.
            WriteFrame(pipe.get(), nullptr, kGoodbyeTimeoutMs, Notification(kServerDown, kDownText));
        }
        connection->closed = true;
    }
    {
        std::lock_guard<std::mutex> lock(connections_mutex_);
        connections_.remove(connection);
    }
    if (connection->linked) {
        --clients_;
        JournalConnection(*connection, "disconnected", why);
    }
}

bool AgentServer::Answer(const ConnectionPtr& connection, const Frame& request) {
    PayloadReader reader(request.payload);
    const int client = connection->client;
    if (request.kind == kEvent) {
        EventRecord event;
        event.client_number = client;
        if (!reader.I32(event.priority) || !reader.U64(event.type) || !reader.U64(event.subtype) ||
            !reader.U64(event.flags) || !reader.I32(event.wait) || !reader.Text(event.text_null, event.text) ||
            !reader.Done()) {
            Refuse(connection->id, "malformed event frame");
            return false;
        }
        const DWORD error = state_->AppendEvent(event);
        events_recorded_ += error == ERROR_SUCCESS ? 1 : 0;
        return request.id == 0 || Send(*connection, Reply(request.id, static_cast<int>(error), error, nullptr));
    }
    if (request.kind == kCommand || request.kind == kTimedCommand) {
        Command command;
        command.request_id = request.id;
        command.received = GetTickCount64();
        if (!reader.I32(command.command) || (request.kind == kTimedCommand && !reader.I32(command.timeout_ms)) ||
            !reader.Text(command.argument_null, command.argument) || !reader.Done()) {
            Refuse(connection->id, "malformed command frame");
            return false;
        }
        const unsigned long delay = faults_.TakeReplyDelay();
        if (delay == 0) {
            return CarryOut(*connection, command);
        }
        log_.Write("connection %u: client %d command %d: answering %lu ms late (scenario)", connection->id, client,
                   command.command, delay);
        // Answered from a thread of its own, so that the connection goes on reading what its client sends.
        connection->late_answers.emplace_back([this, connection, command, delay] {
            if (WaitForSingleObject(connection->cancel.get(), delay) == WAIT_TIMEOUT) {
                CarryOut(*connection, command);
            } else {
                log_.Write("connection %u: command %d not carried out: the connection ended before its late answer",
                           connection->id, command.command);
            }
        });
        return true;
    }
    char why[64];
    snprintf(why, sizeof(why), "unexpected frame kind %u from a client", request.kind);
    Refuse(connection->id, why);
    return false;
}

bool AgentServer::CarryOut(Connection& connection, const Command& command) {
    const int client = connection.client;
    // The writer is held from the decision to the reply, and a connection that is ending carries out nothing: a
    // change is made only where its answer still goes out (a reply written before the close is read after it).
    std::lock_guard<std::mutex> lock(connection.writer);
    if (connection.closed || WaitForSingleObject(connection.cancel.get(), 0) == WAIT_OBJECT_0) {
        log_.Write("connection %u: client %d command %d not carried out: the connection is ending", connection.id,
                   client, command.command);
        return false;
    }
    const ULONGLONG waited = GetTickCount64() - command.received;
    DWORD error = ERROR_CALL_NOT_IMPLEMENTED;
    std::string data;
    if (command.timeout_ms > 0 && waited + kDeadlineMarginMs >= static_cast<ULONGLONG>(command.timeout_ms)) {
        log_.Write(
            "connection %u: client %d command %d came %llu ms ago, too late for its caller's time-out of %d ms; "
            "not carried out",
            connection.id, client, command.command, waited, command.timeout_ms);
        error = ERROR_TIMEOUT;
    } else if (command.command == 1) {
        auto scripted = faults_.TakeSettingsReply();
        if (scripted) {
            log_.Write("connection %u: client %d command 1: answered with the text of step %d (scenario)",
                       connection.id, client, scripted->second);
            data = std::move(scripted->first);
            error = ERROR_SUCCESS;
        } else {
            error = state_->GetSettings(data);
        }
    } else if (command.command == 2) {
        error = state_->UpdateSettings(command.argument_null ? nullptr : command.argument.c_str());
    } else {
        log_.Write("connection %u: client %d sent command %d, which this agent does not know", connection.id, client,
                   command.command);
    }
    log_.Write("connection %u: client %d command %d: result %lu", connection.id, client, command.command, error);
    const bool with_data = command.command == 1 && error == ERROR_SUCCESS;
    return command.request_id == 0 ||
           WriteHeld(connection, Reply(command.request_id, static_cast<int>(error), error, with_data ? &data : nullptr),
                     "a reply");
}

}  // namespace vorn_agent
