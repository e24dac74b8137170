// The counted process-wide holder: one shared object per instantiation, made by the first hold and
// destroyed by the release of the last one.
//
// Both the object registry and the log binder are shared this way. Neither may depend on any other
// synchronisation object existing first (the registry is made during static construction, the log binder
// may be needed while the module unloads), so the shared pointer and the user count are guarded by a spin
// flag that needs nothing but an interlocked exchange and Sleep(1) between attempts.
//
// A holder counts how many references it holds itself. Release gives them all back at once and leaves the
// holder's count at 0; releasing again, or releasing a holder that never acquired, gives back nothing and
// never drives the user count below 0. Holders are used by one thread at a time; many holders on many
// threads may acquire and release concurrently.
#pragma once

#include <windows.h>

#include "support/sync/thread_annotations.h"

namespace qv {

template <typename Shared>
class CountedHolder {
public:
    CountedHolder() noexcept = default;
    CountedHolder(const CountedHolder&) = delete;
    CountedHolder& operator=(const CountedHolder&) = delete;
    ~CountedHolder() { Release(); }

    // Takes one more reference on the shared object, making it when no reference exists.
    Shared* Acquire() {
        Shared* shared;
        {
            SpinGuard guard;
            if (state_.users == 0) {
                DestroyShared();
                state_.current = new Shared();
            }
            ++state_.users;
            shared = state_.current;
        }
        ptr_ = shared;
        InterlockedIncrement(&holds_);
        return shared;
    }

    // Gives back every reference this holder holds; the last one in the process destroys the shared object.
    void Release() noexcept {
        ptr_ = nullptr;
        while (InterlockedDecrement(&holds_) + 1 >= 1) {
            SpinGuard guard;
            if (state_.users > 0) {
                --state_.users;
            }
            if (state_.users == 0) {
                DestroyShared();
            }
        }
        InterlockedIncrement(&holds_);
    }

    // The shared object, acquired on first use.
    Shared* Get() { return ptr_ != nullptr ? ptr_ : Acquire(); }

    // References held by all holders together; read without the spin flag, so only a hint.
    static LONG UserCount() noexcept NO_THREAD_SAFETY_ANALYSIS { return *static_cast<volatile LONG*>(&state_.users); }

    // The current shared object, or null when no reference is held (for tests and diagnostics; read without the
    // spin flag).
    static Shared* Current() noexcept NO_THREAD_SAFETY_ANALYSIS { return state_.current; }

private:
    // An aggregate, so that the zeroed state at load is a valid, free flag.
    struct CAPABILITY("spin flag") SpinFlag {
        LONG taken;

        // The flag's own implementation is outside the analysis.
        void Lock() noexcept ACQUIRE() NO_THREAD_SAFETY_ANALYSIS {
            while (InterlockedExchange(&taken, 1) == 1) {
                Sleep(1);
            }
        }
        void Unlock() noexcept RELEASE() NO_THREAD_SAFETY_ANALYSIS { InterlockedExchange(&taken, 0); }
    };

    struct State {
        SpinFlag spin;
        Shared* current GUARDED_BY(spin);
        LONG users GUARDED_BY(spin);
    };

    class [[nodiscard]] SCOPED_CAPABILITY SpinGuard {
    public:
        SpinGuard() noexcept ACQUIRE(state_.spin) { state_.spin.Lock(); }
        ~SpinGuard() RELEASE() { state_.spin.Unlock(); }
        SpinGuard(const SpinGuard&) = delete;
        SpinGuard& operator=(const SpinGuard&) = delete;
    };

    static void DestroyShared() noexcept REQUIRES(state_.spin) {
        if (state_.current != nullptr) {
            delete state_.current;
            state_.current = nullptr;
        }
    }

    // Zero at load, before any static constructor runs.
    static inline State state_{};

    Shared* ptr_ = nullptr;
    LONG holds_ = 0;
};

}  // namespace qv
