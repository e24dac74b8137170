// The agent communication library (vornint.dll) as the plug-in links and calls it.
//
// The plug-in delay-loads the library (bound by agent_link/agent_library.h) and constructs vorn_comm_client with new.
// The class holds one opaque pointer and nothing else, so its size is the same for the plug-in and for any library
// built from this header. The library calls the handlers and fills a command_result on threads of its own.
#pragma once

#ifndef VORNINT_API
#if defined(VORNINT_BUILD)
#define VORNINT_API __declspec(dllexport)
#else
#define VORNINT_API __declspec(dllimport)
#endif
#endif

namespace vorn {

enum event_priority {};  // the plug-in passes the value 0

class policy_handler {
public:
    virtual ~policy_handler() = default;
    virtual void on_run_policy(const char* json) = 0;
    virtual void on_add_policy(const char* json) = 0;
    virtual void on_remove_policy(const char* json) = 0;
    virtual void on_notification(const char* text) = 0;
};

class notification_handler {
public:
    virtual ~notification_handler() = default;
    virtual void on_notification(int id, const char* json) = 0;
};

class command_result {
public:
    virtual ~command_result() = default;
    virtual void set_data(const char* data) = 0;  // null counts as empty
    virtual void set_result(long long code) = 0;
};

class VORNINT_API vorn_comm_client {
public:
    vorn_comm_client(int client_number, const char* name);
    ~vorn_comm_client();
    void register_policy_handler(policy_handler* handler);
    void register_notification_handler(notification_handler* handler);
    int start_async();
    bool is_connected() const;
    int send_event(event_priority priority, unsigned long long type, unsigned long long subtype,
                   unsigned long long flags, const char* json, int wait);
    int send_command(int command, const char* argument, command_result* result, int timeout_ms);
    void stop();

private:
    struct state;
    state* state_;
};

}  // namespace vorn
