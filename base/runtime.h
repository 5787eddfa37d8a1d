// The C++ runtime that is linked into each of our modules keeps a reserve of memory for exceptions
// thrown when the heap is exhausted: allocated when the module loads, never given back by the
// runtime itself. A module that is unloaded from a live process (CoFreeUnusedLibraries) gives it
// back from DllMain, or every load and unload of the module leaves about 75 KB behind.
#pragma once

namespace __gnu_cxx {
void __freeres() noexcept;  // the runtime's own release of that reserve
}

namespace base {

// Call on DLL_PROCESS_DETACH when the module is freed, not at process end; nothing in the module
// may throw afterwards.
inline void ReleaseRuntimeReserve() noexcept { __gnu_cxx::__freeres(); }

}  // namespace base
