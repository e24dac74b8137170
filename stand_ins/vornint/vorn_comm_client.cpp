// vorn::vorn_comm_client of the stand-in: every call is recorded; in the scriptable mode it is answered from the
// script, in the connected mode by the simulated agent over its pipe. Callbacks come from the client's delivery
// queue in both.
//
// stop lets go of what a stopped client no longer needs (the link, its thread and handles, and an unrecorded
// client's queue), as the agent's library does: an owner may keep a stopped client for good without it holding
// a connection's worth of resources. start_async makes them again.
#include "agent_link/vorn_comm_client.h"

#include <atomic>
#include <memory>
#include <string>

#include "stand_ins/vornint/agent_connection.h"
#include "stand_ins/vornint/delivery_queue.h"
#include "stand_ins/vornint/recorder.h"

namespace vorn {

struct vorn_comm_client::state {
    vornint::ClientKey key;
    std::shared_ptr<vornint::DeliveryQueue> queue = std::make_shared<vornint::DeliveryQueue>();
    std::atomic<bool> stopped{false};                      // stop has returned and start_async did not follow
    std::unique_ptr<vornint::AgentConnection> connection;  // the connected mode's while started
    bool connected_mode = false;
    std::wstring pipe_name;
    int number = 0;
    std::string name;
    bool policy_handler = false;
    bool notification_handler = false;
    vorn::policy_handler* policy = nullptr;
    vorn::notification_handler* notification = nullptr;
};

namespace {

vornint_entry Entry(int kind) {
    vornint_entry entry{};
    entry.kind = kind;
    return entry;
}

}  // namespace

vorn_comm_client::vorn_comm_client(int client_number, const char* name) : state_(new state()) {
    state_->key = vornint::Recorder::Instance().AddClient(client_number, name, state_->queue);
    state_->queue->SetKey(state_->key);
    state_->number = client_number;
    state_->name = name != nullptr ? name : "";
    state_->connected_mode = vornint::ConnectedModeChosen(state_->pipe_name);
    if (state_->connected_mode) {
        state_->connection = std::make_unique<vornint::AgentConnection>(state_->pipe_name, state_->queue);
    }
}

vorn_comm_client::~vorn_comm_client() {
    // Without stop the delivery threads still run and may be inside a callback; they end here all the same.
    if (state_->connection) {
        state_->connection->Stop();
    }
    const vornint::DeliveryQueue::Ended ended = state_->queue ? state_->queue->End() : vornint::DeliveryQueue::Ended{};
    vornint_entry entry = Entry(VORNINT_DESTROYED);
    entry.stopped_before = state_->stopped ? 1 : 0;
    entry.dropped = ended.dropped;
    entry.inside_callback = ended.inside_callback ? 1 : 0;
    vornint::Recorder::Instance().Record(state_->key, entry, nullptr);
    delete state_;
}

void vorn_comm_client::register_policy_handler(policy_handler* handler) {
    state_->policy = handler;
    if (state_->queue) {
        state_->queue->SetPolicyHandler(handler);
    }
    state_->policy_handler = handler != nullptr;
    vornint_entry entry = Entry(VORNINT_REGISTERED_POLICY_HANDLER);
    entry.handler = handler;
    vornint::Recorder::Instance().Record(state_->key, entry, nullptr);
}

void vorn_comm_client::register_notification_handler(notification_handler* handler) {
    state_->notification = handler;
    if (state_->queue) {
        state_->queue->SetNotificationHandler(handler);
    }
    state_->notification_handler = handler != nullptr;
    vornint_entry entry = Entry(VORNINT_REGISTERED_NOTIFICATION_HANDLER);
    entry.handler = handler;
    vornint::Recorder::Instance().Record(state_->key, entry, nullptr);
}

int vorn_comm_client::start_async() {
    vornint_client_script script = vornint::Recorder::Instance().ClientScript(state_->key);
    if (!state_->queue) {
        state_->queue = std::make_shared<vornint::DeliveryQueue>();
        state_->queue->SetKey(state_->key);
        state_->queue->SetPolicyHandler(state_->policy);
        state_->queue->SetNotificationHandler(state_->notification);
    }
    if (state_->connected_mode && !state_->connection) {
        state_->connection = std::make_unique<vornint::AgentConnection>(state_->pipe_name, state_->queue);
    }
    if (state_->connection) {
        // One delivery thread keeps the agent's order; the link connects in the background.
        script.start_result = 0;
        script.delivery_threads = 1;
        state_->queue->Start(1);
        state_->connection->Start(state_->number, state_->name, state_->policy_handler, state_->notification_handler);
    } else if (script.start_result == 0) {
        state_->queue->Start(script.delivery_threads);
    }
    state_->stopped = false;
    vornint_entry entry = Entry(VORNINT_STARTED);
    entry.returned = script.start_result;
    vornint::Recorder::Instance().Record(state_->key, entry, nullptr);
    return script.start_result;
}

bool vorn_comm_client::is_connected() const {
    const bool connected = state_->connected_mode
                               ? state_->connection && state_->connection->Connected()
                               : vornint::Recorder::Instance().ClientScript(state_->key).connected != 0;
    vornint_entry entry = Entry(VORNINT_ASKED_CONNECTED);
    entry.returned = connected ? 1 : 0;
    vornint::Recorder::Instance().Record(state_->key, entry, nullptr);
    return connected;
}

int vorn_comm_client::send_event(event_priority priority, unsigned long long type, unsigned long long subtype,
                                 unsigned long long flags, const char* json, int wait) {
    const int result = !state_->connected_mode
                           ? vornint::Recorder::Instance().ClientScript(state_->key).send_event_result
                       : state_->connection
                           ? state_->connection->SendEvent(static_cast<int>(priority), type, subtype, flags, json, wait)
                           : ERROR_PIPE_NOT_CONNECTED;
    vornint_entry entry = Entry(VORNINT_SENT_EVENT);
    entry.priority = static_cast<int>(priority);
    entry.type = type;
    entry.subtype = subtype;
    entry.flags = flags;
    entry.wait = wait;
    entry.returned = result;
    vornint::Recorder::Instance().Record(state_->key, entry, json);
    return result;
}

int vorn_comm_client::send_command(int command, const char* argument, command_result* result, int timeout_ms) {
    if (state_->connected_mode) {
        const int returned = state_->connection ? state_->connection->SendCommand(command, argument, result, timeout_ms)
                                                : ERROR_PIPE_NOT_CONNECTED;
        vornint_entry entry = Entry(VORNINT_SENT_COMMAND);
        entry.command = command;
        entry.result_object = result;
        entry.timeout_ms = timeout_ms;
        entry.returned = returned;
        vornint::Recorder::Instance().Record(state_->key, entry, argument);
        return returned;
    }
    const vornint::CommandAnswer answer = vornint::Recorder::Instance().Command(state_->key, command);
    vornint_entry entry = Entry(VORNINT_SENT_COMMAND);
    entry.command = command;
    entry.result_object = result;
    entry.timeout_ms = timeout_ms;
    entry.returned = answer.result;
    vornint::Recorder::Instance().Record(state_->key, entry, argument);
    if (result != nullptr && answer.reply) {
        result->set_data(answer.data_null ? nullptr : answer.data.c_str());
        result->set_result(answer.code);
    }
    return answer.result;
}

void vorn_comm_client::stop() {
    // The link first, so that nothing new is queued while the queue ends.
    if (state_->connection) {
        state_->connection->Stop();
        state_->connection.reset();
    }
    const vornint::DeliveryQueue::Ended ended = state_->queue ? state_->queue->End() : vornint::DeliveryQueue::Ended{};
    if (!state_->key.Recorded()) {
        // Nobody can reach it by index; a callback still running on it holds it until it returns.
        state_->queue.reset();
    }
    state_->stopped = true;
    vornint_entry entry = Entry(VORNINT_STOPPED);
    entry.dropped = ended.dropped;
    entry.inside_callback = ended.inside_callback ? 1 : 0;
    vornint::Recorder::Instance().Record(state_->key, entry, nullptr);
}

}  // namespace vorn
