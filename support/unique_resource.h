// Move-only scoped owners of Win32 resources: each owner gives its resource back exactly once, on every path.
#pragma once

#include <windows.h>

#include <utility>

#include "support/sync/thread_annotations.h"

namespace qv {

// Owner of a resource value of type T, closed by Close(T) unless it equals Invalid.
template <typename T, auto Close, T Invalid = T{}>
class UniqueResource {
public:
    UniqueResource() noexcept = default;
    explicit UniqueResource(T value) noexcept : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~UniqueResource() { reset(); }

    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Invalid; }

    [[nodiscard]] T release() noexcept { return std::exchange(value_, Invalid); }

    // Closes the value held, if any, leaving the thread's last error as it was: an owner that goes out of scope
    // on an error path must not overwrite the error its caller is about to read.
    void reset(T value = Invalid) noexcept {
        T old = std::exchange(value_, value);
        if (old != Invalid) {
            const DWORD error = GetLastError();
            Close(old);
            SetLastError(error);
        }
    }

private:
    T value_ = Invalid;
};

namespace detail {
inline void CloseHandleValue(HANDLE h) noexcept { ::CloseHandle(h); }
inline void FreeLibraryValue(HMODULE m) noexcept { ::FreeLibrary(m); }
inline void CloseServiceHandleValue(SC_HANDLE h) noexcept { ::CloseServiceHandle(h); }
}  // namespace detail

// Kernel handles that are null when absent (events, semaphores, processes, threads).
using UniqueHandle = UniqueResource<HANDLE, detail::CloseHandleValue>;
using UniqueModule = UniqueResource<HMODULE, detail::FreeLibraryValue>;
using UniqueServiceHandle = UniqueResource<SC_HANDLE, detail::CloseServiceHandleValue>;

// A critical section that lives as long as its owner.
class CAPABILITY("critical section") CriticalSection {
public:
    CriticalSection() noexcept { InitializeCriticalSection(&section_); }
    ~CriticalSection() { DeleteCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() noexcept ACQUIRE() { EnterCriticalSection(&section_); }
    void Leave() noexcept RELEASE() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

// Holds a critical section from construction to destruction.
class [[nodiscard]] SCOPED_CAPABILITY CriticalSectionGuard {
public:
    explicit CriticalSectionGuard(CriticalSection& section) noexcept ACQUIRE(section) : section_(section) {
        section_.Enter();
    }
    ~CriticalSectionGuard() RELEASE() { section_.Leave(); }
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

private:
    CriticalSection& section_;
};

}  // namespace qv
