// The C++ runtime that is linked into each of our modules, and what a module does about the parts of
// it that outlive an unload.
//
// The runtime keeps a reserve of memory for exceptions thrown when the heap is exhausted: allocated
// when the module loads, never given back by the runtime itself. A module that is unloaded from a
// live process (CoFreeUnusedLibraries) gives it back from DllMain, or every load and unload of the
// module leaves about 75 KB behind.
//
// The i686 runtime unwinds through DWARF tables of its own, which the module's start-up code
// registers with the unwinder as the module loads. The unwinder's lock is set up through
// winpthreads' pthread_once, and that gives the loading thread a winpthreads record: an event, a
// duplicate of the thread's handle and a TLS index. Only the thread's end gives them back, never the
// module's unload, so each load and unload of such a module would leave an event and a thread handle
// behind, and the TLS indexes would run out. Such a module stays loaded for the rest of the process
// instead. The x86_64 runtime unwinds through Windows' own tables, registers nothing, and its module
// unloads like any other.
#pragma once

#include <windows.h>

namespace __gnu_cxx {
void __freeres() noexcept;  // the runtime's own release of that reserve
}

namespace base {

#ifdef __SEH__
inline constexpr bool kModuleStaysLoaded = false;  // Windows' unwinding: nothing registered at load
#else
inline constexpr bool kModuleStaysLoaded = true;  // the runtime's own DWARF unwinding
#endif

// Call on DLL_PROCESS_ATTACH once the module is ready to serve: pins the module where
// kModuleStaysLoaded says so. A module whose pin failed still works; it is then unloaded as before.
inline void KeepModuleLoadedWhereUnloadingLeaks(HINSTANCE module) noexcept {
    if constexpr (kModuleStaysLoaded) {
        HMODULE pinned = nullptr;
        ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                             reinterpret_cast<LPCWSTR>(module), &pinned);
    }
}

// Call on DLL_PROCESS_DETACH when the module is freed, not at process end; nothing in the module
// may throw afterwards.
inline void ReleaseRuntimeReserve() noexcept { __gnu_cxx::__freeres(); }

}  // namespace base
