// The in-process server module: its instance handle, the counts of live objects and server locks,
// and the list of class factories behind DllGetClassObject, DllCanUnloadNow and registration.
//
// A module defines exactly one static Module with its table of classes; the factories are built from
// the table in its order and live as long as the module. DllMain calls Init on attach and Exit on
// detach. The factory list is walked under the module's lock; the counts may change on any thread.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <memory>
#include <vector>

#include "base/com_object.h"

namespace activex {

class Module;

// The lifetime of the module's COM objects: on the heap, and counted while they live, so that
// DllCanUnloadNow keeps the module loaded for them.
using ModuleLifetime = base::Lifetime::Counted<Module>;

using CreateFunction = HRESULT (*)(REFIID riid, void** ppv) noexcept;
// Writes (add TRUE) or removes (add FALSE) a class's registry entries; S_OK or the error met.
using UpdateRegistryFunction = HRESULT (*)(HINSTANCE module, BOOL add) noexcept;

struct ClassEntry {
    const CLSID* clsid;
    CreateFunction create;
    UpdateRegistryFunction updateRegistry;
};

// A class factory of the module. The module holds the first reference for as long as it lives, so a
// count above 1 means that someone outside holds the factory.
class ClassFactory final : public base::ComObject<ClassFactory, base::Lifetime::Scoped, IClassFactory> {
public:
    explicit ClassFactory(const ClassEntry& entry) noexcept : entry_(entry) {}

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP LockServer(BOOL lock) noexcept override;

    const ClassEntry& Entry() const noexcept { return entry_; }
    bool Registered() const noexcept { return registered_; }
    void SetRegistered(bool on) noexcept { registered_ = on; }
    bool HeldOutside() const noexcept { return RefCount() > 1; }

private:
    const ClassEntry entry_;
    bool registered_ = false;
};

class Module {
public:
    template <size_t N>
    explicit Module(const ClassEntry (&classes)[N]) : Module(classes, N) {}
    Module(const ClassEntry* classes, size_t count);
    virtual ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // Attach: remembers the instance and marks every factory with a class id as available.
    virtual BOOL Init(HINSTANCE instance) noexcept;
    // Detach: revokes the factories. When the module is unloaded from a live process (not at
    // process end), it also gives back the type libraries and window classes it holds.
    virtual void Exit(bool processEnding) noexcept;

    [[nodiscard]] HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) noexcept;
    [[nodiscard]] HRESULT CanUnloadNow() noexcept;
    // Calls every factory's registry function in list order; stops at the first that fails and
    // returns its error.
    [[nodiscard]] HRESULT UpdateRegistry(BOOL add) noexcept;

    // The module's instance handle (resources, window classes, file name).
    static HINSTANCE Instance() noexcept;
    static void ObjectCreated() noexcept;
    static void ObjectDestroyed() noexcept;
    static void Lock() noexcept;
    static void Unlock() noexcept;
    static LONG ObjectCount() noexcept;
    static LONG LockCount() noexcept;

private:
    std::vector<std::unique_ptr<ClassFactory>> factories_;
};

// Things the module gives back when it is unloaded from a live process, in reverse order of
// registration. Registered once per kind, under the module's lock.
using CleanupFunction = void (*)() noexcept;
void AtModuleExit(CleanupFunction fn) noexcept;

// The module's global lock, held through base::SrwExclusiveLock: the factory list, the exit list
// and the type-library caches are read and changed under it.
SRWLOCK& ModuleStateLock() noexcept;

}  // namespace activex
