#include "activex/module.h"

#include <atomic>

#include "base/hresult.h"
#include "base/locks.h"

namespace activex {
namespace {

HINSTANCE g_instance = nullptr;
std::atomic<LONG> g_objects{0};
std::atomic<LONG> g_locks{0};
SRWLOCK g_lock = SRWLOCK_INIT;

constexpr size_t kMaxCleanups = 8;
CleanupFunction g_cleanups[kMaxCleanups] = {};
size_t g_cleanupCount = 0;

}  // namespace

SRWLOCK& ModuleStateLock() noexcept { return g_lock; }

void AtModuleExit(CleanupFunction fn) noexcept {
    base::SrwExclusiveLock lock(g_lock);
    if (g_cleanupCount < kMaxCleanups) g_cleanups[g_cleanupCount++] = fn;
}

// --- class factory -------------------------------------------------------------------------------

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return entry_.create(riid, ppv);
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) noexcept {
    if (lock) {
        Module::Lock();
    } else {
        Module::Unlock();
    }
    return S_OK;
}

// --- module --------------------------------------------------------------------------------------

Module::Module(const ClassEntry* classes, size_t count) {
    factories_.reserve(count);
    for (size_t i = 0; i < count; ++i) factories_.push_back(std::make_unique<ClassFactory>(classes[i]));
}

Module::~Module() = default;

BOOL Module::Init(HINSTANCE instance) noexcept {
    base::SrwExclusiveLock lock(g_lock);
    g_instance = instance;
    for (auto& f : factories_) {
        if (f->Entry().clsid && !IsEqualCLSID(*f->Entry().clsid, CLSID_NULL)) f->SetRegistered(true);
    }
    return TRUE;
}

void Module::Exit(bool processEnding) noexcept {
    CleanupFunction cleanups[kMaxCleanups];
    size_t count = 0;
    {
        base::SrwExclusiveLock lock(g_lock);
        for (auto& f : factories_) f->SetRegistered(false);
        if (!processEnding) {
            count = g_cleanupCount;
            for (size_t i = 0; i < count; ++i) cleanups[i] = g_cleanups[i];
            g_cleanupCount = 0;
        }
    }
    while (count > 0) cleanups[--count]();
}

HRESULT Module::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    *ppv = nullptr;
    base::SrwExclusiveLock lock(g_lock);
    for (auto& f : factories_) {
        if (f->Registered() && IsEqualCLSID(*f->Entry().clsid, clsid)) return f->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT Module::CanUnloadNow() noexcept {
    base::SrwExclusiveLock lock(g_lock);
    if (ObjectCount() > 0 || LockCount() > 0) return S_FALSE;
    for (auto& f : factories_) {
        if (f->HeldOutside()) return S_FALSE;
    }
    return S_OK;
}

HRESULT Module::UpdateRegistry(BOOL add) noexcept {
    base::SrwExclusiveLock lock(g_lock);
    for (auto& f : factories_) {
        if (f->Entry().updateRegistry) RETURN_IF_FAILED(f->Entry().updateRegistry(g_instance, add));
    }
    return S_OK;
}

HINSTANCE Module::Instance() noexcept { return g_instance; }
void Module::ObjectCreated() noexcept { ++g_objects; }
void Module::ObjectDestroyed() noexcept { --g_objects; }
void Module::Lock() noexcept { ++g_locks; }
void Module::Unlock() noexcept { --g_locks; }
LONG Module::ObjectCount() noexcept { return g_objects; }
LONG Module::LockCount() noexcept { return g_locks; }

}  // namespace activex
