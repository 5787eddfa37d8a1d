// The deliverables of both presets, seen from a test program of either: build/<preset>/bin holds
// every binary of a preset, and scripts/build makes both presets.
#pragma once

#include <string>

#include "tests/support/run_process.h"

namespace testsupport {

enum class Preset { kThisBuild, kOtherBuild };

inline const char* PresetName(Preset preset) {
    const bool win64 = (sizeof(void*) == 8) == (preset == Preset::kThisBuild);
    return win64 ? "win64" : "win32";
}

// The full path of file (e.g. L"Vandrel.ocx") in the bin folder of the given preset.
inline std::wstring DeliverablePath(Preset preset, const wchar_t* file) {
    if (preset == Preset::kThisBuild) return BinFolder() + file;
    const std::wstring other = sizeof(void*) == 8 ? L"win32" : L"win64";
    return BinFolder() + L"..\\..\\" + other + L"\\bin\\" + file;
}

}  // namespace testsupport
