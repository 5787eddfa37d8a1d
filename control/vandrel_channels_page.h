// CVandrelChannelsPage: the property page titled "Channels", which edits the settings of channels 1
// to 8 at design time: name, unit, gain, offset, the four limits, the alarms' deadband, delay and
// latch. It reads them from the first object the frame gives it and writes the changed ones to every
// object on Apply, through the objects' IDispatch as any client would; a put the control refuses
// fails the apply and its reason stays on the page's status line. Created by the property frame
// through the page's class factory and used on the frame's thread.
#pragma once

#include <array>
#include <string>

#include "activex/property_page.h"

class CVandrelChannelsPage final : public activex::PropertyPageBase {
public:
    // The create function of the page's class factory.
    [[nodiscard]] static HRESULT CreateInstance(REFIID riid, void** ppv) noexcept;

    CVandrelChannelsPage() noexcept;

    static constexpr int kChannels = 8;
    // The settings of a channel, in the order the page shows and applies them.
    static constexpr int kSettings = 11;

private:
    // One setting as text: as the object last said it and as the page shows it now. A limit that
    // is off is empty, the latch "1" or "0".
    struct SettingText {
        std::wstring read;
        std::wstring shown;
    };
    using ChannelTexts = std::array<SettingText, kSettings>;

    [[nodiscard]] HRESULT ObjectsChanged() noexcept override;
    void InitDialog(HWND window) noexcept override;
    bool Command(HWND window, WORD id, WORD code) noexcept override;
    [[nodiscard]] HRESULT ApplyChanges() noexcept override;

    [[nodiscard]] HRESULT ReadChannels(IDispatch* object);
    // Writes the changed settings to object; on a refusal says why in *reason.
    [[nodiscard]] HRESULT WriteChannels(IDispatch* object, std::wstring* reason);
    // Fills the fields with the chosen channel's texts without taking them for edits.
    void ShowChannel(HWND window);

    std::array<ChannelTexts, kChannels> channels_;
    int chosen_ = 0;  // index of the channel the fields show
    bool filling_ = false;
};
