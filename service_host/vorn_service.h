// vorn::vorn_service: the in-process agent service of vorn.dll, declared as the plug-in links it.
#pragma once

// The plug-in imports the class from vorn.dll; an agent library built from this same header defines
// VORN_BUILDING_LIBRARY and exports it, so both sides agree on the decorated names of every member.
#if defined(VORN_BUILDING_LIBRARY)
#define VORN_API __declspec(dllexport)
#else
#define VORN_API __declspec(dllimport)
#endif

namespace vorn {

// The agent service of this process: one object, made on first use of instance() and never destroyed.
// The initial log configuration is kept for when the service starts, so it is given before the object is
// first asked for.
class VORN_API vorn_service {
public:
    static void set_initial_log_config(const char* level, const char* log_dir, int max_size, int max_files,
                                       const char* reserved);
    static vorn_service& instance();
    void start_async();
    void stop();
};

}  // namespace vorn
