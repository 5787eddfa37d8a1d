// Reading a dialog template resource: its size in dialog units, its font, and that size in pixels
// as the dialog manager computes it (average character width and height of the template's font).
// Plain functions; any thread (a property page calls them on its window's thread).
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace activex {

struct DialogTemplateInfo {
    DWORD style = 0;
    WORD items = 0;
    short x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    WORD pointSize = 0;                  // font, when style has DS_SETFONT
    WORD weight = 0;
    BYTE italic = 0;
    BYTE charset = 0;
    std::wstring typeface;
};

// Parses a DLGTEMPLATE or DLGTEMPLATEEX of size bytes; false when it is malformed. Throws
// std::bad_alloc when the typeface cannot be stored.
bool ParseDialogTemplate(const void* data, size_t size, DialogTemplateInfo* info);

// The template's size in pixels on the screen.
SIZE DialogSizeInPixels(const DialogTemplateInfo& info) noexcept;

// Finds and parses the module's dialog template id; false when there is none or it is malformed.
// Throws std::bad_alloc as ParseDialogTemplate does.
bool LoadDialogTemplate(HINSTANCE module, UINT id, DialogTemplateInfo* info);

}  // namespace activex
