// What Mirelo knows of the Vandrel control: its class, its dispatch interface, the DISPIDs it calls
// and the state the form stores for each instance. Mirelo is a client like any other and takes
// nothing from the control's sources; tests/control/identity_test.cpp holds this copy against them.
// Constant data; any thread.
#pragma once

#include <windows.h>

#include <cstdint>

namespace mirelo {

// {E4DE41E5-20F5-4A71-91C1-BC0686540ACF}, the class VandrelLib.Vandrel.
inline constexpr CLSID kClsidVandrel = {
    0xE4DE41E5, 0x20F5, 0x4A71, {0x91, 0xC1, 0xBC, 0x06, 0x86, 0x54, 0x0A, 0xCF}};

// {BF13AB5C-6996-4363-8236-2075EBB16884}, the dispatch interface _DVandrel.
inline constexpr IID kDiidDVandrel = {
    0xBF13AB5C, 0x6996, 0x4363, {0x82, 0x36, 0x20, 0x75, 0xEB, 0xB1, 0x68, 0x84}};

// Members of _DVandrel, by the numbers the control fixes.
inline constexpr DISPID kDispidInterval = 1;
inline constexpr DISPID kDispidAddress = 2;
inline constexpr DISPID kDispidGetChnlValue = 3;
inline constexpr DISPID kDispidStart = 4;
inline constexpr DISPID kDispidStop = 5;
inline constexpr DISPID kDispidChannelNumber = 6;

// The control's persisted state as the form keeps it for each instance, little-endian:
// format version 0x00010000, extent 873 x 661 HIMETRIC, stock-property mask 0.
inline constexpr uint32_t kStateVersion = 0x00010000;
inline constexpr int32_t kExtentX = 873;
inline constexpr int32_t kExtentY = 661;
inline constexpr uint8_t kStoredState[16] = {
    0x00, 0x00, 0x01, 0x00,  // version
    0x69, 0x03, 0x00, 0x00,  // 873
    0x95, 0x02, 0x00, 0x00,  // 661
    0x00, 0x00, 0x00, 0x00,  // no stock properties
};

}  // namespace mirelo
