// The ten thread primitives that MinGW's statically linked C++ runtime calls (static-local guards, the exception
// pool's lock, locale set-up, and the thread-local exception state of libgcc's emulated TLS), over Win32.
//
// With them here, a DLL of ours that starts no threads links no thread library of its own. The static winpthread
// it would link otherwise takes a TLS slot and, per thread that touches it, an event and a thread handle, and gives
// none of them back when the DLL unloads: a host that reloads the DLL loses a TLS slot each time and is aborted when
// the process has none left. Everything made here is listed and given back by ReleaseThreadPrimitives.
//
// The runtime declares its mutexes and conditions with the static initialisers of winpthread's header (negative
// values in a pointer-sized word), so each is made on first use and published with a compare-exchange. A mutex is a
// critical section (recursive, as the runtime's recursive mutexes need; its plain ones never re-enter). A once runs
// its function on the first caller while later callers yield until it is done. Thread-specific values live in one
// block per thread behind one fiber slot, whose callback runs the destructors when a thread ends, and for every
// thread still holding values when the slot is freed at unload.
#include "static_runtime/thread_primitives.h"

#include <errno.h>
#include <pthread.h>
#include <windows.h>

#include <new>

namespace static_runtime {
namespace {

constexpr intptr_t kLowestStaticInitializer = -3;  // GENERIC_RECURSIVE_INITIALIZER; -1 and -2 are the others
constexpr unsigned kMaxKeys = 16;
constexpr int kDestructorRounds = PTHREAD_DESTRUCTOR_ITERATIONS;

// Every mutex and condition made and not yet destroyed, linked through their headers.
struct Primitive {
    virtual ~Primitive() = default;
    Primitive* previous = nullptr;
    Primitive* next = nullptr;
};

struct Mutex : Primitive {
    Mutex() noexcept { InitializeCriticalSection(&section); }
    ~Mutex() { DeleteCriticalSection(&section); }
    CRITICAL_SECTION section;
};

struct Condition : Primitive {
    CONDITION_VARIABLE variable = CONDITION_VARIABLE_INIT;
};

SRWLOCK g_made_lock = SRWLOCK_INIT;
Primitive g_made;  // list head; g_made.next is the first

void Link(Primitive* primitive) noexcept {
    AcquireSRWLockExclusive(&g_made_lock);
    primitive->next = g_made.next;
    primitive->previous = &g_made;
    if (g_made.next != nullptr) {
        g_made.next->previous = primitive;
    }
    g_made.next = primitive;
    ReleaseSRWLockExclusive(&g_made_lock);
}

void Unlink(Primitive* primitive) noexcept {
    AcquireSRWLockExclusive(&g_made_lock);
    primitive->previous->next = primitive->next;
    if (primitive->next != nullptr) {
        primitive->next->previous = primitive->previous;
    }
    ReleaseSRWLockExclusive(&g_made_lock);
}

bool IsStaticInitializer(intptr_t word) noexcept { return word < 0 && word >= kLowestStaticInitializer; }

// The object behind a mutex or condition word, made now if the word holds a static initialiser (as a destroyed word
// does again); null when the word is 0 (never initialised) or memory ran out.
template <typename Object>
Object* Resolve(intptr_t* word) noexcept {
    auto* shared = reinterpret_cast<PVOID volatile*>(word);
    const auto seen = reinterpret_cast<intptr_t>(InterlockedCompareExchangePointer(shared, nullptr, nullptr));
    if (!IsStaticInitializer(seen)) {
        return reinterpret_cast<Object*>(seen);
    }
    Object* made = new (std::nothrow) Object();
    if (made == nullptr) {
        return nullptr;
    }
    const auto before =
        reinterpret_cast<intptr_t>(InterlockedCompareExchangePointer(shared, made, reinterpret_cast<PVOID>(seen)));
    if (before != seen) {
        delete made;  // another thread published its own first
        return reinterpret_cast<Object*>(before);
    }
    Link(made);
    return made;
}

template <typename Object>
void Destroy(intptr_t* word) noexcept {
    const intptr_t value = *word;
    *word = PTHREAD_MUTEX_INITIALIZER;
    if (value != 0 && !IsStaticInitializer(value)) {
        Object* object = reinterpret_cast<Object*>(value);
        Unlink(object);
        delete object;
    }
}

// Thread-specific values: keys are indexes into each thread's block.
struct KeyBlock {
    void* values[kMaxKeys] = {};
};

SRWLOCK g_keys_lock = SRWLOCK_INIT;
unsigned g_key_count = 0;
void (*g_destructors[kMaxKeys])(void*) = {};
DWORD g_fiber_slot = FLS_OUT_OF_INDEXES;

void WINAPI RunDestructors(void* block_pointer) {
    auto* block = static_cast<KeyBlock*>(block_pointer);
    for (int round = 0; round < kDestructorRounds; ++round) {
        bool ran = false;
        for (unsigned key = 0; key < kMaxKeys; ++key) {
            void* value = block->values[key];
            if (value != nullptr && g_destructors[key] != nullptr) {
                block->values[key] = nullptr;
                g_destructors[key](value);
                ran = true;
            }
        }
        if (!ran) {
            break;
        }
    }
    delete block;
}

}  // namespace

void ReleaseThreadPrimitives() noexcept {
    if (g_fiber_slot != FLS_OUT_OF_INDEXES) {
        FlsFree(g_fiber_slot);  // runs RunDestructors for every thread that holds a block
        g_fiber_slot = FLS_OUT_OF_INDEXES;
    }
    while (Primitive* made = g_made.next) {
        Unlink(made);
        delete made;
    }
}

}  // namespace static_runtime

using static_runtime::Condition;
using static_runtime::Mutex;

extern "C" {

int pthread_once(pthread_once_t* once, void (*function)(void)) {
    enum : LONG { kNotRun = 0, kDone = 1, kRunning = 2 };
    if (InterlockedCompareExchange(once, kNotRun, kNotRun) == kDone) {
        return 0;
    }
    if (InterlockedCompareExchange(once, kRunning, kNotRun) == kNotRun) {
        function();
        InterlockedExchange(once, kDone);
        return 0;
    }
    while (InterlockedCompareExchange(once, kNotRun, kNotRun) != kDone) {
        Sleep(0);
    }
    return 0;
}

int pthread_mutex_init(pthread_mutex_t* mutex, const pthread_mutexattr_t*) {
    *mutex = PTHREAD_MUTEX_INITIALIZER;
    return static_runtime::Resolve<Mutex>(mutex) != nullptr ? 0 : ENOMEM;
}

int pthread_mutex_destroy(pthread_mutex_t* mutex) {
    static_runtime::Destroy<Mutex>(mutex);
    return 0;
}

int pthread_mutex_lock(pthread_mutex_t* mutex) {
    Mutex* object = static_runtime::Resolve<Mutex>(mutex);
    if (object == nullptr) {
        return EINVAL;
    }
    EnterCriticalSection(&object->section);
    return 0;
}

int pthread_mutex_unlock(pthread_mutex_t* mutex) {
    Mutex* object = static_runtime::Resolve<Mutex>(mutex);
    if (object == nullptr) {
        return EINVAL;
    }
    LeaveCriticalSection(&object->section);
    return 0;
}

int pthread_cond_wait(pthread_cond_t* condition, pthread_mutex_t* mutex) {
    Condition* waiting = static_runtime::Resolve<Condition>(condition);
    Mutex* held = static_runtime::Resolve<Mutex>(mutex);
    if (waiting == nullptr || held == nullptr) {
        return EINVAL;
    }
    return SleepConditionVariableCS(&waiting->variable, &held->section, INFINITE) ? 0 : EINVAL;
}

int pthread_cond_broadcast(pthread_cond_t* condition) {
    Condition* waiting = static_runtime::Resolve<Condition>(condition);
    if (waiting == nullptr) {
        return EINVAL;
    }
    WakeAllConditionVariable(&waiting->variable);
    return 0;
}

int pthread_key_create(pthread_key_t* key, void (*destructor)(void*)) {
    using namespace static_runtime;
    AcquireSRWLockExclusive(&g_keys_lock);
    int result = 0;
    if (g_fiber_slot == FLS_OUT_OF_INDEXES) {
        g_fiber_slot = FlsAlloc(RunDestructors);
    }
    if (g_fiber_slot == FLS_OUT_OF_INDEXES || g_key_count == kMaxKeys) {
        result = EAGAIN;
    } else {
        g_destructors[g_key_count] = destructor;
        *key = g_key_count++;
    }
    ReleaseSRWLockExclusive(&g_keys_lock);
    return result;
}

// The runtime reads its thread-local exception state through here, also between a Windows call and the reading of
// its last error, so the last error is left as it was.
void* pthread_getspecific(pthread_key_t key) {
    using namespace static_runtime;
    const DWORD last_error = GetLastError();
    auto* block = static_cast<KeyBlock*>(FlsGetValue(g_fiber_slot));
    SetLastError(last_error);
    return block != nullptr && key < kMaxKeys ? block->values[key] : nullptr;
}

int pthread_setspecific(pthread_key_t key, const void* value) {
    using namespace static_runtime;
    if (key >= kMaxKeys) {
        return EINVAL;
    }
    const DWORD last_error = GetLastError();
    auto* block = static_cast<KeyBlock*>(FlsGetValue(g_fiber_slot));
    if (block == nullptr && value != nullptr) {
        block = new (std::nothrow) KeyBlock();
        if (block == nullptr || !FlsSetValue(g_fiber_slot, block)) {
            delete block;
            SetLastError(last_error);
            return ENOMEM;
        }
    }
    if (block != nullptr) {
        block->values[key] = const_cast<void*>(value);
    }
    SetLastError(last_error);
    return 0;
}

}  // extern "C"
