// vorn::vorn_comm_client of the stand-in: every call is recorded and answered from the script; callbacks come
// from the client's delivery queue.
#include "agent_link/vorn_comm_client.h"

#include <atomic>
#include <memory>

#include "stand_ins/vornint/delivery_queue.h"
#include "stand_ins/vornint/recorder.h"

namespace vorn {

struct vorn_comm_client::state {
    vornint::ClientKey key;
    std::shared_ptr<vornint::DeliveryQueue> queue = std::make_shared<vornint::DeliveryQueue>();
    std::atomic<bool> stopped{false};  // stop has returned and start_async did not follow
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
}

vorn_comm_client::~vorn_comm_client() {
    // Without stop the delivery threads still run and may be inside a callback; they end here all the same.
    const vornint::DeliveryQueue::Ended ended = state_->queue->End();
    vornint_entry entry = Entry(VORNINT_DESTROYED);
    entry.stopped_before = state_->stopped ? 1 : 0;
    entry.dropped = ended.dropped;
    entry.inside_callback = ended.inside_callback ? 1 : 0;
    vornint::Recorder::Instance().Record(state_->key, entry, nullptr);
    delete state_;
}

void vorn_comm_client::register_policy_handler(policy_handler* handler) {
    state_->queue->SetPolicyHandler(handler);
    vornint_entry entry = Entry(VORNINT_REGISTERED_POLICY_HANDLER);
    entry.handler = handler;
    vornint::Recorder::Instance().Record(state_->key, entry, nullptr);
}

void vorn_comm_client::register_notification_handler(notification_handler* handler) {
    state_->queue->SetNotificationHandler(handler);
    vornint_entry entry = Entry(VORNINT_REGISTERED_NOTIFICATION_HANDLER);
    entry.handler = handler;
    vornint::Recorder::Instance().Record(state_->key, entry, nullptr);
}

int vorn_comm_client::start_async() {
    const vornint_client_script script = vornint::Recorder::Instance().ClientScript(state_->key);
    if (script.start_result == 0) {
        state_->queue->Start(script.delivery_threads);
    }
    state_->stopped = false;
    vornint_entry entry = Entry(VORNINT_STARTED);
    entry.returned = script.start_result;
    vornint::Recorder::Instance().Record(state_->key, entry, nullptr);
    return script.start_result;
}

bool vorn_comm_client::is_connected() const {
    const bool connected = vornint::Recorder::Instance().ClientScript(state_->key).connected != 0;
    vornint_entry entry = Entry(VORNINT_ASKED_CONNECTED);
    entry.returned = connected ? 1 : 0;
    vornint::Recorder::Instance().Record(state_->key, entry, nullptr);
    return connected;
}

int vorn_comm_client::send_event(event_priority priority, unsigned long long type, unsigned long long subtype,
                                 unsigned long long flags, const char* json, int wait) {
    const int result = vornint::Recorder::Instance().ClientScript(state_->key).send_event_result;
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
    const vornint::DeliveryQueue::Ended ended = state_->queue->End();
    state_->stopped = true;
    vornint_entry entry = Entry(VORNINT_STOPPED);
    entry.dropped = ended.dropped;
    entry.inside_callback = ended.inside_callback ? 1 : 0;
    vornint::Recorder::Instance().Record(state_->key, entry, nullptr);
}

}  // namespace vorn
