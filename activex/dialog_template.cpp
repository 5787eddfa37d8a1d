#include "activex/dialog_template.h"

#include <cstring>

#include "base/screen.h"
#include "base/unique_handle.h"

namespace activex {
namespace {

// Reads the words of a template in order, refusing to run past its end.
class WordReader {
public:
    WordReader(const void* data, size_t size) noexcept
        : p_(static_cast<const BYTE*>(data)), end_(p_ + size) {}

    bool Word(WORD* out) noexcept { return Bytes(out, sizeof *out); }
    bool Dword(DWORD* out) noexcept { return Bytes(out, sizeof *out); }
    bool Short(short* out) noexcept { return Bytes(out, sizeof *out); }
    bool Byte(BYTE* out) noexcept { return Bytes(out, sizeof *out); }

    // A null-terminated string; throws std::bad_alloc when out cannot grow.
    bool String(std::wstring* out) {
        for (;;) {
            WORD c;
            if (!Word(&c)) return false;
            if (c == 0) return true;
            if (out) out->push_back(static_cast<wchar_t>(c));
        }
    }

    // A menu or class field: nothing, an ordinal, or a string.
    bool StringOrOrdinal() noexcept {
        WORD first;
        if (!Word(&first)) return false;
        if (first == 0) return true;
        if (first == 0xFFFF) return Word(&first);
        return String(nullptr);
    }

private:
    bool Bytes(void* out, size_t n) noexcept {
        if (static_cast<size_t>(end_ - p_) < n) return false;
        std::memcpy(out, p_, n);
        p_ += n;
        return true;
    }

    const BYTE* p_;
    const BYTE* const end_;
};

}  // namespace

bool ParseDialogTemplate(const void* data, size_t size, DialogTemplateInfo* info) {
    WordReader r(data, size);
    WORD version = 0, signature = 0;
    if (!r.Word(&version) || !r.Word(&signature)) return false;
    const bool extended = version == 1 && signature == 0xFFFF;
    DWORD exStyle = 0, helpId = 0;
    if (extended) {
        if (!r.Dword(&helpId) || !r.Dword(&exStyle) || !r.Dword(&info->style)) return false;
    } else {
        info->style = MAKELONG(version, signature);
        if (!r.Dword(&exStyle)) return false;
    }
    if (!r.Word(&info->items) || !r.Short(&info->x) || !r.Short(&info->y) || !r.Short(&info->cx) ||
        !r.Short(&info->cy)) {
        return false;
    }
    if (!r.StringOrOrdinal() || !r.StringOrOrdinal() || !r.String(nullptr))
        return false;  // menu, class, title
    if (!(info->style & DS_SETFONT)) return true;
    if (!r.Word(&info->pointSize)) return false;
    if (extended && (!r.Word(&info->weight) || !r.Byte(&info->italic) || !r.Byte(&info->charset)))
        return false;
    info->typeface.clear();
    return r.String(&info->typeface);
}

SIZE DialogSizeInPixels(const DialogTemplateInfo& info) noexcept {
    // The dialog manager's base units: the average width of the letters and the height of the
    // template's font (of the system font when the template names none).
    LONG baseX = LOWORD(::GetDialogBaseUnits());
    LONG baseY = HIWORD(::GetDialogBaseUnits());
    HDC screen = ::GetDC(nullptr);
    if (screen && (info.style & DS_SETFONT)) {
        base::UniqueGdiObject font(::CreateFontW(-::MulDiv(info.pointSize, base::ScreenDpi().cy, 72), 0, 0, 0,
                                                 info.weight, info.italic, FALSE, FALSE, DEFAULT_CHARSET, 0,
                                                 0, PROOF_QUALITY, FF_DONTCARE, info.typeface.c_str()));
        if (font) {
            HGDIOBJ old = ::SelectObject(screen, font.get());
            static const wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
            TEXTMETRICW tm;
            SIZE extent;
            if (::GetTextMetricsW(screen, &tm) && ::GetTextExtentPoint32W(screen, kAlphabet, 52, &extent)) {
                baseX = (extent.cx / 26 + 1) / 2;
                baseY = tm.tmHeight;
            }
            ::SelectObject(screen, old);
        }
    }
    if (screen) ::ReleaseDC(nullptr, screen);
    return {::MulDiv(info.cx, baseX, 4), ::MulDiv(info.cy, baseY, 8)};
}

bool LoadDialogTemplate(HINSTANCE module, UINT id, DialogTemplateInfo* info) {
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), RT_DIALOG);
    if (!found) return false;
    HGLOBAL loaded = ::LoadResource(module, found);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    return data && ParseDialogTemplate(data, ::SizeofResource(module, found), info);
}

}  // namespace activex
