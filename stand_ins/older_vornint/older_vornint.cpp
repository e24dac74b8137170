// An older vornint.dll, as a host may still have installed: vorn_comm_client as it was before send_event took its
// wait argument. Every other function the plug-in calls is there, so only that one is missing to the plug-in, which
// must refuse the library before calling into it: each function here ends the process if it is ever called.
#include <cstdlib>

namespace vorn {

enum event_priority {};
class policy_handler;
class notification_handler;
class command_result;

class __declspec(dllexport) vorn_comm_client {
public:
    vorn_comm_client(int, const char*) { std::abort(); }
    ~vorn_comm_client() { std::abort(); }
    void register_policy_handler(policy_handler*) { std::abort(); }
    void register_notification_handler(notification_handler*) { std::abort(); }
    int start_async() { std::abort(); }
    bool is_connected() const { std::abort(); }
    int send_event(event_priority, unsigned long long, unsigned long long, unsigned long long, const char*) {
        std::abort();
    }
    int send_command(int, const char*, command_result*, int) { std::abort(); }
    void stop() { std::abort(); }

private:
    void* state_ = nullptr;
};

}  // namespace vorn
