/* Test control of the vorn.dll stand-in: what the agent library was called with, and a reset between cases. */
#pragma once

#if defined(VORN_BUILDING_LIBRARY)
#define VORN_CONTROL_API __declspec(dllexport)
#else
#define VORN_CONTROL_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Calls of vorn::vorn_service, in the order they were made. */
enum VornControlCall {
    VORN_CALL_SET_INITIAL_LOG_CONFIG = 1,
    VORN_CALL_INSTANCE = 2,
    VORN_CALL_START_ASYNC = 3,
    VORN_CALL_STOP = 4
};

#define VORN_CONTROL_TEXT_MAX 1024

/* A copy of one narrow text argument as it was passed. A null pointer and "" are told apart by is_null;
   a text longer than VORN_CONTROL_TEXT_MAX - 1 bytes is cut there and marked truncated. */
typedef struct VornControlText {
    int is_null;
    int truncated;
    char text[VORN_CONTROL_TEXT_MAX];
} VornControlText;

/* The arguments of the last set_initial_log_config call. */
typedef struct VornControlLogConfig {
    VornControlText level;
    VornControlText log_dir;
    int max_size;
    int max_files;
    VornControlText reserved;
} VornControlLogConfig;

typedef struct VornControlCounts {
    unsigned long set_initial_log_config;
    unsigned long instance;
    unsigned long start_async;
    unsigned long stop;
    /* 1 between a start_async and the next stop. */
    int running;
    /* Lines the simulated agent could not append to its journal since the process began; not reset. */
    unsigned long journal_failures;
} VornControlCounts;

/* Forgets every record and stops the service. The service object itself stays, as it does in the agent. */
VORN_CONTROL_API void VornControlReset(void);

/* Copies the arguments of the last set_initial_log_config since the reset; 0 (and *config untouched) when
   there was none. */
VORN_CONTROL_API int VornControlGetLogConfig(VornControlLogConfig* config);

VORN_CONTROL_API void VornControlGetCounts(VornControlCounts* counts);

/* Copies up to `capacity` recorded calls (VornControlCall values) in order; returns how many were recorded. */
VORN_CONTROL_API unsigned long VornControlGetCalls(int* calls, unsigned long capacity);

#ifdef __cplusplus
}
#endif
