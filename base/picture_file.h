// A picture held as 32-bit pixels (a top-down DIB section's bits, blue-green-red-unused) saved as a
// PNG file through the Windows Imaging Component, or put on the clipboard as a device-independent
// bitmap. Called on a thread where COM is initialised (the PNG), or that may own the clipboard.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <cstring>

#include "base/com_ptr.h"
#include "base/hresult.h"

namespace base {

// 32 bits a pixel, rows from the top, stride bytes apart.
struct PixelView {
    const void* bits = nullptr;
    UINT width = 0;
    UINT height = 0;
    UINT stride = 0;
};

// Writes the pixels to path as a PNG, replacing a file there. S_OK, or the error of the step that
// failed (the file's own, such as a path not found or access denied, for a path that cannot be
// written); a file begun is removed again on failure.
[[nodiscard]] inline HRESULT SavePng(const wchar_t* path, const PixelView& picture) noexcept {
    RETURN_HR_IF(E_INVALIDARG, !path || !*path || !picture.bits || !picture.width || !picture.height);
    ComPtr<IWICImagingFactory> factory;
    RETURN_IF_FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IWICImagingFactory, factory.put_void()));
    ComPtr<IWICBitmap> bitmap;
    RETURN_IF_FAILED(factory->CreateBitmapFromMemory(
        picture.width, picture.height, GUID_WICPixelFormat32bppBGR, picture.stride,
        picture.stride * picture.height, static_cast<BYTE*>(const_cast<void*>(picture.bits)), bitmap.put()));
    ComPtr<IWICStream> stream;
    RETURN_IF_FAILED(factory->CreateStream(stream.put()));
    RETURN_IF_FAILED(stream->InitializeFromFilename(path, GENERIC_WRITE));
    const HRESULT hr = [&]() noexcept {
        ComPtr<IWICBitmapEncoder> encoder;
        RETURN_IF_FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put()));
        RETURN_IF_FAILED(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache));
        ComPtr<IWICBitmapFrameEncode> frame;
        ComPtr<IPropertyBag2> options;
        RETURN_IF_FAILED(encoder->CreateNewFrame(frame.put(), options.put()));
        RETURN_IF_FAILED(frame->Initialize(options.get()));
        RETURN_IF_FAILED(frame->SetSize(picture.width, picture.height));
        // The encoder converts the pixels to the format it writes.
        RETURN_IF_FAILED(frame->WriteSource(bitmap.get(), nullptr));
        RETURN_IF_FAILED(frame->Commit());
        return encoder->Commit();
    }();
    stream.reset();  // closes the file
    if (FAILED(hr)) ::DeleteFileW(path);
    return hr;
}

// Replaces the clipboard's content with the pixels as CF_DIB, owned by owner (may be null). S_OK, or
// the error of the clipboard call that failed (another program holding it open, for one).
[[nodiscard]] inline HRESULT CopyPixelsToClipboard(HWND owner, const PixelView& picture) noexcept {
    RETURN_HR_IF(E_INVALIDARG, !picture.bits || !picture.width || !picture.height);
    const SIZE_T rowBytes = SIZE_T{picture.width} * 4;
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, sizeof(BITMAPINFOHEADER) + rowBytes * picture.height);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, memory);
    auto* header = static_cast<BITMAPINFOHEADER*>(::GlobalLock(memory));
    if (!header) {
        ::GlobalFree(memory);
        return E_OUTOFMEMORY;
    }
    *header = {};
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = static_cast<LONG>(picture.width);
    header->biHeight = static_cast<LONG>(picture.height);  // bottom-up, as every reader expects
    header->biPlanes = 1;
    header->biBitCount = 32;
    header->biCompression = BI_RGB;
    auto* out = reinterpret_cast<BYTE*>(header + 1);
    const auto* in = static_cast<const BYTE*>(picture.bits);
    for (UINT row = 0; row < picture.height; ++row) {
        std::memcpy(out + rowBytes * (picture.height - 1 - row), in + SIZE_T{picture.stride} * row, rowBytes);
    }
    ::GlobalUnlock(memory);
    // A call that failed without saying why still fails.
    const auto lastError = []() noexcept {
        const DWORD error = ::GetLastError();
        return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    };
    HRESULT hr = S_OK;
    if (!::OpenClipboard(owner)) {
        hr = lastError();
    } else {
        // Once set, the clipboard owns the memory.
        if (!::EmptyClipboard() || !::SetClipboardData(CF_DIB, memory)) hr = lastError();
        ::CloseClipboard();
    }
    if (FAILED(hr)) ::GlobalFree(memory);
    return hr;
}

}  // namespace base
