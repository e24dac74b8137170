// Gives back at unload what MinGW's statically linked C++ runtime took when the DLL loaded, so that a host can load
// and free the DLL again and again without losing memory, handles or TLS slots.
#include <cstdlib>

#include "static_runtime/thread_primitives.h"

namespace __gnu_cxx {
// libstdc++: frees the emergency pool for exceptions thrown while memory runs out, allocated at load (about 73 KB).
void __freeres();
}  // namespace __gnu_cxx

namespace {

void ReleaseRuntime() {
    __gnu_cxx::__freeres();
    static_runtime::ReleaseThreadPrimitives();
}

// Exit functions of a DLL run when it unloads, in the reverse order of their registration; static destructors are
// registered as their objects are made. Registered before any static object of the DLL is made, the release runs
// after the last one is destroyed, when nothing can need the pool or the primitives any more.
struct ReleaseAtUnload {
    ReleaseAtUnload() { std::atexit(ReleaseRuntime); }
};
ReleaseAtUnload g_release_at_unload __attribute__((init_priority(101)));

}  // namespace
