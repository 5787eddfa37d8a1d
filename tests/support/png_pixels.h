// A PNG file read back through the Windows Imaging Component as 32-bit pixels, and a window's or a
// DC's content copied out the same way, so that a test compares what a control saved with what it
// showed. Needs COM initialised on the calling thread.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <cstdint>
#include <vector>

#include "base/com_ptr.h"

namespace testsupport {

struct Pixels {
    UINT width = 0;
    UINT height = 0;
    std::vector<uint32_t> bgr;  // rows from the top, 0x00RRGGBB

    COLORREF At(UINT x, UINT y) const {
        const uint32_t p = bgr[size_t{y} * width + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    bool operator==(const Pixels& other) const {
        return width == other.width && height == other.height && bgr == other.bgr;
    }
};

// Empty pixels when the file cannot be read as a picture.
inline Pixels ReadPng(const wchar_t* path) {
    Pixels out;
    base::ComPtr<IWICImagingFactory> factory;
    base::ComPtr<IWICBitmapDecoder> decoder;
    base::ComPtr<IWICBitmapFrameDecode> frame;
    base::ComPtr<IWICFormatConverter> converter;
    if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory, factory.put_void())) ||
        FAILED(factory->CreateDecoderFromFilename(path, nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                  decoder.put())) ||
        FAILED(decoder->GetFrame(0, frame.put())) ||
        FAILED(factory->CreateFormatConverter(converter.put())) ||
        FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone,
                                     nullptr, 0.0, WICBitmapPaletteTypeCustom)) ||
        FAILED(converter->GetSize(&out.width, &out.height))) {
        return {};
    }
    out.bgr.resize(size_t{out.width} * out.height);
    if (FAILED(converter->CopyPixels(nullptr, out.width * 4, static_cast<UINT>(out.bgr.size() * 4),
                                     reinterpret_cast<BYTE*>(out.bgr.data())))) {
        return {};
    }
    for (uint32_t& p : out.bgr) p &= 0xFFFFFF;
    return out;
}

// What a window shows now, its client area.
inline Pixels WindowPixels(HWND hwnd) {
    RECT client = {};
    ::GetClientRect(hwnd, &client);
    Pixels out;
    out.width = static_cast<UINT>(client.right);
    out.height = static_cast<UINT>(client.bottom);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = client.right;
    info.bmiHeader.biHeight = -client.bottom;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC window = ::GetDC(hwnd);
    HDC memory = ::CreateCompatibleDC(window);
    HBITMAP bitmap = ::CreateDIBSection(window, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, client.right, client.bottom, window, 0, 0, SRCCOPY);
    ::GdiFlush();
    const auto* p = static_cast<const uint32_t*>(bits);
    out.bgr.assign(p, p + size_t{out.width} * out.height);
    for (uint32_t& v : out.bgr) v &= 0xFFFFFF;
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(hwnd, window);
    return out;
}

}  // namespace testsupport
