// Control interface of the stand-in vornint.dll: tests script its answers, make it deliver callbacks and read what
// it was called with.
//
// Clients are numbered by index in the order they were constructed since the last vornint_reset, from 0. The
// record is one sequence over all clients, in the order the calls happened, so that a test can check the order of
// one client's destructor against another's constructor. A callback is recorded when it has returned (kind
// VORNINT_DELIVERED, on the delivering thread), so once vornint_wait_idle has returned the record holds it; stop
// and the destructor are recorded when they return, after every callback they waited for.
#pragma once

#include <stddef.h>

#ifndef VORNINT_CONTROL_API
#if defined(VORNINT_BUILD)
#define VORNINT_CONTROL_API __declspec(dllexport)
#else
#define VORNINT_CONTROL_API __declspec(dllimport)
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Client index arguments besides 0, 1, ...
#define VORNINT_ALL_CLIENTS (-1)    // scripts: the default for clients without one; vornint_wait_idle: every client
#define VORNINT_LATEST_CLIENT (-2)  // the client constructed last

// Results of the control calls (Windows error codes).
#define VORNINT_OK 0
#define VORNINT_NO_SUCH_CLIENT 1168  // ERROR_NOT_FOUND: no client or record entry under that index
#define VORNINT_NOT_RUNNING 5023     // ERROR_INVALID_STATE: the client is not started, or stopped or destroyed
#define VORNINT_NO_HANDLER 1         // ERROR_INVALID_FUNCTION: no handler of that kind is registered
#define VORNINT_BAD_ARGUMENT 87      // ERROR_INVALID_PARAMETER
#define VORNINT_TIMEOUT 258          // WAIT_TIMEOUT

enum vornint_entry_kind {
    VORNINT_CONSTRUCTED = 1,                  // number; text: the name
    VORNINT_REGISTERED_POLICY_HANDLER,        // handler
    VORNINT_REGISTERED_NOTIFICATION_HANDLER,  // handler
    VORNINT_STARTED,                          // returned: start_async's result
    VORNINT_ASKED_CONNECTED,                  // returned: is_connected's answer, 0 or 1
    VORNINT_SENT_EVENT,                       // priority, type, subtype, flags, wait, returned; text: the json
    VORNINT_SENT_COMMAND,                     // command, result_object, timeout_ms, returned; text: the argument
    VORNINT_STOPPED,                          // dropped, inside_callback
    VORNINT_DESTROYED,                        // stopped_before, dropped, inside_callback
    VORNINT_DELIVERED,                        // delivery, notification_id, handler, threw; text as delivered
    VORNINT_DROPPED,                          // delivery, notification_id; text: a queued callback stop dropped
};

enum vornint_delivery {
    VORNINT_RUN_POLICY = 1,       // policy_handler::on_run_policy(text)
    VORNINT_ADD_POLICY,           // policy_handler::on_add_policy(text)
    VORNINT_REMOVE_POLICY,        // policy_handler::on_remove_policy(text)
    VORNINT_POLICY_NOTIFICATION,  // policy_handler::on_notification(text)
    VORNINT_NOTIFICATION,         // notification_handler::on_notification(notification_id, text)
};

typedef struct vornint_entry {
    int kind;  // vornint_entry_kind
    int client_index;
    int client_number;
    unsigned long thread_id;  // the thread that made the call, or that ran the callback
    const void* handler;
    int priority;
    unsigned long long type;
    unsigned long long subtype;
    unsigned long long flags;
    int wait;
    int command;
    const void* result_object;
    int timeout_ms;
    int returned;
    int delivery;  // vornint_delivery
    int notification_id;
    int threw;            // the callback let an exception out
    int dropped;          // queued callbacks dropped by stop or the destructor
    int stopped_before;   // stop had returned and start_async was not called after it
    int inside_callback;  // called from a callback on the client's own delivery thread
    int text_null;        // the text argument was a null pointer
    size_t text_length;   // bytes, without the terminator
} vornint_entry;

typedef struct vornint_client {
    int number;
    const void* policy_handler;        // last registered, or null
    const void* notification_handler;  // last registered, or null
    int starts;
    int stops;
    int running;  // delivering callbacks now
    int destroyed;
    int destroyed_without_stop;
    int delivered;
    int dropped;
    int pending;  // queued, not yet delivered
} vornint_client;

typedef struct vornint_client_script {
    int start_result;       // what start_async returns; non-zero starts no delivery
    int connected;          // what is_connected answers (non-zero: true)
    int send_event_result;  // what send_event returns
    int delivery_threads;   // delivery threads start_async starts (at least 1); more let one client's callbacks overlap
} vornint_client_script;

typedef struct vornint_command_script {
    int result;              // what send_command returns
    int reply;               // non-zero: a given command_result gets set_data(reply_data), then set_result(reply_code)
    const char* reply_data;  // copied; null is passed on as null
    long long reply_code;
} vornint_command_script;

// Forgets the record, every client and every script, and the pipe of vornint_connect_to_agent. Clients still alive
// go on answering as before but are no longer recorded or reachable.
//
// A client constructed while the environment holds VORNINT_RECORD=off is not recorded (nor reachable by index, nor
// scripted apart from the default script), so that a long run of a host does not grow the record. Read at each
// construction, as VORNINT_MODE is, so that it works before the library is loaded.
VORNINT_CONTROL_API void vornint_reset(void);

// Connected mode: clients constructed from now on link to the simulated agent on this pipe instead of answering
// from the script (null: follow the environment again). Without this call the environment chooses:
// VORNINT_MODE=connected links to the pipe that VORN_AGENT_PIPE names, default \\.\pipe\vorn-agent.
// A connected client records its calls as a scripted one does; start_async returns 0 at once and the client keeps
// connecting in the background; is_connected, send_event and send_command answer from the link (without a
// connection: false, ERROR_PIPE_NOT_CONNECTED); policies, removals and notifications arrive from the agent on
// one delivery thread, in the agent's order, and notification 5 also when the connection is lost. Its scripts are not
// used; vornint_deliver still reaches its queue.
VORNINT_CONTROL_API void vornint_connect_to_agent(const wchar_t* pipe_name);

// Script for one client index (also one not constructed yet) or, with VORNINT_ALL_CLIENTS, the default. Read at
// each call, so a change reaches a living client. Without any script: start 0, not connected, send_event 0, one
// delivery thread.
VORNINT_CONTROL_API int vornint_script_client(int client_index, const vornint_client_script* script);

// Answer to one command for one client index or, with VORNINT_ALL_CLIENTS, the default. Without a script a
// command returns 0 and leaves its command_result alone.
VORNINT_CONTROL_API int vornint_script_command(int client_index, int command, const vornint_command_script* script);

// Queues one callback to the client. It runs on the client's delivery thread; any thread may queue at once.
// text is copied, null is passed on as null. Returns VORNINT_OK, VORNINT_NO_SUCH_CLIENT, VORNINT_NOT_RUNNING,
// VORNINT_NO_HANDLER or VORNINT_BAD_ARGUMENT.
VORNINT_CONTROL_API int vornint_deliver(int client_index, int delivery, int notification_id, const char* text);

// Waits until the client (or every client) has nothing queued and no callback running. VORNINT_OK or
// VORNINT_TIMEOUT; VORNINT_NO_SUCH_CLIENT for an unknown index.
VORNINT_CONTROL_API int vornint_wait_idle(int client_index, unsigned long timeout_ms);

VORNINT_CONTROL_API size_t vornint_client_count(void);
// Copies the client's state; its name goes into name (capacity bytes, terminated) when name is not null.
VORNINT_CONTROL_API int vornint_get_client(int client_index, vornint_client* client, char* name, size_t capacity);

VORNINT_CONTROL_API size_t vornint_entry_count(void);
// Copies entry n; its text goes into text (capacity bytes, terminated) when text is not null.
VORNINT_CONTROL_API int vornint_get_entry(size_t n, vornint_entry* entry, char* text, size_t capacity);

#ifdef __cplusplus
}  // extern "C"

#include <string>
#include <vector>

namespace vornint {

struct Entry {
    vornint_entry data;
    std::string text;
};

// The whole record, copied out.
inline std::vector<Entry> Entries() {
    std::vector<Entry> entries;
    const size_t count = vornint_entry_count();
    for (size_t n = 0; n < count; ++n) {
        Entry entry{};
        if (vornint_get_entry(n, &entry.data, nullptr, 0) != VORNINT_OK) {
            break;
        }
        std::vector<char> text(entry.data.text_length + 1);
        vornint_get_entry(n, &entry.data, text.data(), text.size());
        entry.text.assign(text.data(), entry.data.text_length);
        entries.push_back(std::move(entry));
    }
    return entries;
}

// The entries of one kind, optionally of one client only.
inline std::vector<Entry> Entries(int kind, int client_index = VORNINT_ALL_CLIENTS) {
    std::vector<Entry> selected;
    for (Entry& entry : Entries()) {
        if (entry.data.kind == kind &&
            (client_index == VORNINT_ALL_CLIENTS || entry.data.client_index == client_index)) {
            selected.push_back(std::move(entry));
        }
    }
    return selected;
}

}  // namespace vornint
#endif
