// Move-only owners of Win32 handles. One template, a traits class per kind of handle: the traits
// say which value means "none" and how the handle is given back. put() releases what is held
// before handing out the address, so a handle can never be overwritten while still open. Closing
// leaves the thread's last error as it was, so that an owner going out of scope between a failed
// call and its GetLastError does not change the answer.
#pragma once

#include <windows.h>

namespace base {

template <typename Traits>
class UniqueHandle {
public:
    using pointer = typename Traits::pointer;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(pointer h) noexcept : h_(h) {}
    UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    pointer get() const noexcept { return h_; }
    bool valid() const noexcept { return h_ != Traits::invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    pointer release() noexcept {
        pointer h = h_;
        h_ = Traits::invalid();
        return h;
    }
    void reset(pointer h = Traits::invalid()) noexcept {
        pointer old = h_;
        h_ = h;
        if (old != Traits::invalid()) {
            const DWORD lastError = ::GetLastError();
            Traits::close(old);
            ::SetLastError(lastError);
        }
    }
    pointer* put() noexcept {
        reset();
        return &h_;
    }

private:
    pointer h_ = Traits::invalid();
};

// Handles whose "none" is null, given back by Close.
template <typename Pointer, auto Close>
struct NullIsNoneTraits {
    using pointer = Pointer;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { Close(h); }
};

// Kernel objects whose "none" is null: events, threads, processes, mutexes.
using NullHandleTraits = NullIsNoneTraits<HANDLE, &::CloseHandle>;
using RegKeyTraits = NullIsNoneTraits<HKEY, &::RegCloseKey>;
using ModuleTraits = NullIsNoneTraits<HMODULE, &::FreeLibrary>;
using GdiObjectTraits = NullIsNoneTraits<HGDIOBJ, &::DeleteObject>;
using MemoryDcTraits = NullIsNoneTraits<HDC, &::DeleteDC>;
using LocalMemoryTraits = NullIsNoneTraits<HLOCAL, &::LocalFree>;

// Files: CreateFile reports failure as INVALID_HANDLE_VALUE, never null.
struct FileHandleTraits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { ::CloseHandle(h); }
};

using UniqueEvent = UniqueHandle<NullHandleTraits>;
using UniqueThread = UniqueHandle<NullHandleTraits>;
using UniqueProcess = UniqueHandle<NullHandleTraits>;
using UniqueTimer = UniqueHandle<NullHandleTraits>;
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueHkey = UniqueHandle<RegKeyTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueGdiObject = UniqueHandle<GdiObjectTraits>;
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;
// What the system hands out with LocalAlloc (FormatMessage's buffer, CommandLineToArgvW's array).
using UniqueLocal = UniqueHandle<LocalMemoryTraits>;

}  // namespace base
