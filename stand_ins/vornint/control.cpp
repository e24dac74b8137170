// The exported control interface: tests script the stand-in, make it deliver and read its record.
#include "stand_ins/vornint/vornint_control.h"

#include <windows.h>

#include "stand_ins/vornint/agent_connection.h"
#include "stand_ins/vornint/delivery_queue.h"
#include "stand_ins/vornint/recorder.h"

using vornint::Recorder;

extern "C" {

VORNINT_CONTROL_API void vornint_reset(void) {
    Recorder::Instance().Reset();
    vornint::SetAgentPipe(nullptr);
}

VORNINT_CONTROL_API void vornint_connect_to_agent(const wchar_t* pipe_name) { vornint::SetAgentPipe(pipe_name); }

VORNINT_CONTROL_API int vornint_script_client(int client_index, const vornint_client_script* script) {
    if (script == nullptr) {
        return VORNINT_BAD_ARGUMENT;
    }
    return Recorder::Instance().ScriptClient(client_index, *script);
}

VORNINT_CONTROL_API int vornint_script_command(int client_index, int command, const vornint_command_script* script) {
    if (script == nullptr) {
        return VORNINT_BAD_ARGUMENT;
    }
    vornint::CommandAnswer answer;
    answer.result = script->result;
    answer.reply = script->reply != 0;
    answer.data_null = script->reply_data == nullptr;
    answer.data = script->reply_data != nullptr ? script->reply_data : "";
    answer.code = script->reply_code;
    return Recorder::Instance().ScriptCommand(client_index, command, answer);
}

VORNINT_CONTROL_API int vornint_deliver(int client_index, int delivery, int notification_id, const char* text) {
    if (delivery < VORNINT_RUN_POLICY || delivery > VORNINT_NOTIFICATION) {
        return VORNINT_BAD_ARGUMENT;
    }
    const std::shared_ptr<vornint::DeliveryQueue> queue = Recorder::Instance().Queue(client_index);
    if (!queue) {
        return VORNINT_NO_SUCH_CLIENT;
    }
    vornint::Delivery queued;
    queued.kind = delivery;
    queued.notification_id = notification_id;
    queued.text_null = text == nullptr;
    queued.text = text != nullptr ? text : "";
    return queue->Push(std::move(queued));
}

VORNINT_CONTROL_API int vornint_wait_idle(int client_index, unsigned long timeout_ms) {
    std::vector<std::shared_ptr<vornint::DeliveryQueue>> queues;
    if (client_index == VORNINT_ALL_CLIENTS) {
        queues = Recorder::Instance().Queues();
    } else if (auto queue = Recorder::Instance().Queue(client_index)) {
        queues.push_back(std::move(queue));
    } else {
        return VORNINT_NO_SUCH_CLIENT;
    }
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    for (const auto& queue : queues) {
        const ULONGLONG now = GetTickCount64();
        if (!queue->WaitIdle(static_cast<DWORD>(now < deadline ? deadline - now : 0))) {
            return VORNINT_TIMEOUT;
        }
    }
    return VORNINT_OK;
}

VORNINT_CONTROL_API size_t vornint_client_count(void) { return Recorder::Instance().ClientCount(); }

VORNINT_CONTROL_API int vornint_get_client(int client_index, vornint_client* client, char* name, size_t capacity) {
    const int result = Recorder::Instance().GetClient(client_index, client, name, capacity);
    if (result == VORNINT_OK && client != nullptr) {
        // The queue's own state, taken outside the recorder's lock, which delivery threads take while recording.
        const std::shared_ptr<vornint::DeliveryQueue> queue = Recorder::Instance().Queue(client_index);
        client->running = queue && queue->Running() ? 1 : 0;
        client->pending = queue ? queue->Pending() : 0;
    }
    return result;
}

VORNINT_CONTROL_API size_t vornint_entry_count(void) { return Recorder::Instance().EntryCount(); }

VORNINT_CONTROL_API int vornint_get_entry(size_t n, vornint_entry* entry, char* text, size_t capacity) {
    return Recorder::Instance().GetEntry(n, entry, text, capacity);
}

}  // extern "C"
