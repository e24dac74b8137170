// The thread primitives that a DLL of ours gives MinGW's statically linked C++ runtime, and their release.
#pragma once

namespace static_runtime {

// Gives back every mutex and condition the runtime made and never destroyed (its static ones), and the fiber
// slot of its thread-specific values, after each thread's values went through their destructors. Runs once,
// after the DLL's last static destructor: nothing may call the primitives afterwards.
void ReleaseThreadPrimitives() noexcept;

}  // namespace static_runtime
