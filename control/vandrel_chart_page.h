// CVandrelChartPage: the property page titled "Chart", which edits the live chart's settings at
// design time: its mode, time window and history, its value range, and for channels 1 to 8 whether
// each is drawn and in which colour (an OLE_COLOR written as a number: "0x" hex as the page shows
// it, or decimal). It reads them from the first object the frame gives it and writes the changed
// ones to every object on Apply, through the objects' IDispatch as any client would; a put the chart
// refuses fails the apply and its reason stays on the page's status line. After an apply the page
// reads the first object again, so that what the chart adjusted itself (a history lengthened to
// the time window) shows. Created by the property frame through the page's class factory and used
// on the frame's thread.
#pragma once

#include <array>
#include <string>

#include "activex/property_page.h"

class CVandrelChartPage final : public activex::PropertyPageBase {
public:
    // The create function of the page's class factory.
    [[nodiscard]] static HRESULT CreateInstance(REFIID riid, void** ppv) noexcept;

    CVandrelChartPage() noexcept;

    static constexpr int kChannels = 8;
    // The chart's own settings, then each channel's, in the order the page applies them.
    static constexpr int kChartSettings = 6;
    static constexpr int kChannelSettings = 2;
    static constexpr int kSettings = kChartSettings + kChannels * kChannelSettings;

private:
    // One setting as text: as the object last said it and as the page shows it now. A check box
    // is "1" or "0", the mode the index of its item.
    struct SettingText {
        std::wstring read;
        std::wstring shown;
    };

    [[nodiscard]] HRESULT ObjectsChanged() noexcept override;
    void InitDialog(HWND window) noexcept override;
    bool Command(HWND window, WORD id, WORD code) noexcept override;
    [[nodiscard]] HRESULT ApplyChanges() noexcept override;

    [[nodiscard]] HRESULT ReadSettings(IDispatch* object);
    // Writes the changed settings to object; on a refusal says why in *reason.
    [[nodiscard]] HRESULT WriteSettings(IDispatch* object, std::wstring* reason);
    [[nodiscard]] HRESULT WriteSetting(IDispatch* object, int index, std::wstring* reason);
    // Fills the fields with the settings and the chosen channel's without taking them for edits.
    void ShowSettings(HWND window);

    // Indexed as the rows: the chart's settings first, then channel by channel.
    std::array<SettingText, kSettings> settings_;
    int chosen_ = 0;  // index of the channel the fields show
    bool filling_ = false;
};
