#include "control/vandrel_chart_page.h"

#include <climits>
#include <cstdint>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

#include "activex/page_fields.h"
#include "base/hresult.h"
#include "base/late_bound.h"
#include "base/number_text.h"
#include "base/text.h"
#include "base/variant.h"
#include "control/resource.h"

namespace {

using Kind = activex::FieldKind;

struct Setting {
    int control;    // its field on the page
    DISPID dispid;  // the chart's property (vandrel.idl, _DVandrelChart)
    Kind kind;
};

constexpr int kAutoRange = 5;  // the row of AutoRange

constexpr Setting kChartRows[CVandrelChartPage::kChartSettings] = {
    {IDC_CHART_MODE, 2, Kind::kChoice},          {IDC_CHART_TIME_WINDOW, 3, Kind::kNumber},
    {IDC_CHART_HISTORY, 4, Kind::kNumber},       {IDC_CHART_RANGE_MINIMUM, 6, Kind::kNumber},
    {IDC_CHART_RANGE_MAXIMUM, 7, Kind::kNumber}, {IDC_CHART_AUTO_RANGE, 5, Kind::kFlag},
};

// Indexed properties, which take the channel, 1 to 8, first.
constexpr Setting kChannelRows[CVandrelChartPage::kChannelSettings] = {
    {IDC_CHART_VISIBLE, 10, Kind::kFlag},
    {IDC_CHART_COLOUR, 9, Kind::kColour},
};

// The mode items, in the order of the chart's Mode values.
constexpr UINT kModeItems[] = {IDS_CHART_STRIP, IDS_CHART_SCOPE};

// The channel, 0 to 7, of the setting at index; -1 for one of the chart's own.
int ChannelOf(int index) {
    return index < CVandrelChartPage::kChartSettings
               ? -1
               : (index - CVandrelChartPage::kChartSettings) / CVandrelChartPage::kChannelSettings;
}

const Setting& RowOf(int index) {
    if (index < CVandrelChartPage::kChartSettings) return kChartRows[index];
    return kChannelRows[(index - CVandrelChartPage::kChartSettings) % CVandrelChartPage::kChannelSettings];
}

}  // namespace

HRESULT CVandrelChartPage::CreateInstance(REFIID riid, void** ppv) noexcept {
    return base::CreateObject<CVandrelChartPage>(riid, ppv);
}

CVandrelChartPage::CVandrelChartPage() noexcept : PropertyPageBase(IDD_PROPPAGE_CHART, IDS_CHART_CAPTION) {}

HRESULT CVandrelChartPage::ObjectsChanged() noexcept try {
    settings_ = {};
    if (!Objects().empty()) {
        base::ComPtr<IDispatch> object;
        RETURN_IF_FAILED(Objects().front()->QueryInterface(IID_IDispatch, object.put_void()));
        RETURN_IF_FAILED(ReadSettings(object.get()));
    }
    if (HWND window = Window()) ShowSettings(window);
    return S_OK;
}
CATCH_RETURN()

HRESULT CVandrelChartPage::ReadSettings(IDispatch* object) {
    for (int i = 0; i < kSettings; ++i) {
        const int channel = ChannelOf(i);
        const VARIANT index = activex::IndexArg(channel);
        base::Variant value;
        RETURN_IF_FAILED(base::InvokeById(object, RowOf(i).dispid, DISPATCH_PROPERTYGET, &index,
                                          channel < 0 ? 0 : 1, value.ptr()));
        SettingText& setting = settings_[static_cast<size_t>(i)];
        RETURN_IF_FAILED(activex::FieldText(RowOf(i).kind, value, &setting.read));
        setting.shown = setting.read;
    }
    return S_OK;
}

void CVandrelChartPage::InitDialog(HWND window) noexcept try {
    HWND modes = ::GetDlgItem(window, IDC_CHART_MODE);
    for (const UINT item : kModeItems) {
        ::SendMessageW(modes, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(activex::ModuleText(item).c_str()));
    }
    HWND channels = ::GetDlgItem(window, IDC_CHART_CHANNEL);
    const std::wstring item = activex::ModuleText(IDS_CHANNEL_ITEM);
    for (int channel = 1; channel <= kChannels; ++channel) {
        ::SendMessageW(channels, CB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>((item + std::to_wstring(channel)).c_str()));
    }
    ::SendMessageW(channels, CB_SETCURSEL, static_cast<WPARAM>(chosen_), 0);
    ShowSettings(window);
} catch (...) {
    // The fields stay empty; the page cannot say more from inside the dialog's creation.
}

void CVandrelChartPage::ShowSettings(HWND window) {
    filling_ = true;
    for (int i = 0; i < kSettings; ++i) {
        const int channel = ChannelOf(i);
        if (channel >= 0 && channel != chosen_) continue;
        const Setting& row = RowOf(i);
        const std::wstring& text = settings_[static_cast<size_t>(i)].shown;
        switch (row.kind) {
            case Kind::kChoice: {
                const auto index = base::ParseWholeNumber(std::wstring_view(text),
                                                          static_cast<uint32_t>(std::size(kModeItems) - 1));
                // A mode the list does not know shows no item.
                ::SendDlgItemMessageW(window, row.control, CB_SETCURSEL,
                                      index ? static_cast<WPARAM>(*index) : static_cast<WPARAM>(-1), 0);
                break;
            }
            case Kind::kFlag:
                ::CheckDlgButton(window, row.control, text == L"1" ? BST_CHECKED : BST_UNCHECKED);
                break;
            default: ::SetDlgItemTextW(window, row.control, text.c_str()); break;  // an edit field
        }
    }
    filling_ = false;
}

bool CVandrelChartPage::Command(HWND window, WORD id, WORD code) noexcept try {
    if (id == IDC_CHART_CHANNEL) {
        if (code != CBN_SELCHANGE) return false;
        const LRESULT chosen = ::SendDlgItemMessageW(window, IDC_CHART_CHANNEL, CB_GETCURSEL, 0, 0);
        if (chosen < 0 || chosen >= kChannels) return true;
        chosen_ = static_cast<int>(chosen);
        ShowSettings(window);
        return true;
    }
    for (int i = 0; i < kSettings; ++i) {
        const int channel = ChannelOf(i);
        const Setting& row = RowOf(i);
        if (row.control != id || (channel >= 0 && channel != chosen_)) continue;
        const WORD edited = row.kind == Kind::kFlag     ? BN_CLICKED
                            : row.kind == Kind::kChoice ? CBN_SELCHANGE
                                                        : EN_CHANGE;
        if (filling_ || code != edited) return false;
        std::wstring& shown = settings_[static_cast<size_t>(i)].shown;
        switch (row.kind) {
            case Kind::kChoice: {
                const LRESULT item = ::SendDlgItemMessageW(window, id, CB_GETCURSEL, 0, 0);
                if (item < 0) return true;
                shown = std::to_wstring(item);
                break;
            }
            case Kind::kFlag: shown = ::IsDlgButtonChecked(window, id) == BST_CHECKED ? L"1" : L"0"; break;
            default: shown = activex::WindowText(::GetDlgItem(window, id)); break;  // an edit field
        }
        SetDirty(true);
        return true;
    }
    return false;
} catch (...) {
    return false;
}

HRESULT CVandrelChartPage::ApplyChanges() noexcept try {
    std::wstring reason;
    HRESULT hr = S_OK;
    for (const auto& unknown : Objects()) {
        base::ComPtr<IDispatch> object;
        hr = unknown->QueryInterface(IID_IDispatch, object.put_void());
        if (SUCCEEDED(hr)) hr = WriteSettings(object.get(), &reason);
        if (FAILED(hr)) break;
    }
    if (SUCCEEDED(hr)) {
        for (auto& setting : settings_) setting.read = setting.shown;
        // What the chart made of the values (a history lengthened to the window) is what it shows.
        if (!Objects().empty()) {
            base::ComPtr<IDispatch> first;
            if (SUCCEEDED(
                    LOG_IF_FAILED(Objects().front()->QueryInterface(IID_IDispatch, first.put_void())))) {
                LOG_IF_FAILED(ReadSettings(first.get()));
            }
        }
        if (HWND window = Window()) ShowSettings(window);
    } else if (reason.empty()) {
        reason = base::SystemMessage(hr);
    }
    if (HWND window = Window()) ::SetDlgItemTextW(window, IDC_CHART_STATUS, reason.c_str());
    return hr;
}
CATCH_RETURN()

HRESULT CVandrelChartPage::WriteSettings(IDispatch* object, std::wstring* reason) {
    std::vector<int> pending;
    const auto changed = [this](int i) {
        return settings_[static_cast<size_t>(i)].shown != settings_[static_cast<size_t>(i)].read;
    };
    bool rangeChanged = false;
    for (int i = 0; i < kSettings; ++i) {
        if (i == kAutoRange || !changed(i)) continue;
        pending.push_back(i);
        rangeChanged = rangeChanged || RowOf(i).control == IDC_CHART_RANGE_MINIMUM ||
                       RowOf(i).control == IDC_CHART_RANGE_MAXIMUM;
    }
    // Settings that depend on each other (the range's bounds, the history on the window) may be
    // refused in one order and taken in the other, so a refused put is tried again once the others
    // are in.
    for (int pass = 0; pass < 2 && !pending.empty(); ++pass) {
        std::vector<int> refused;
        HRESULT first = S_OK;
        std::wstring firstReason;
        for (const int i : pending) {
            std::wstring why;
            const HRESULT hr = WriteSetting(object, i, &why);
            if (hr == DISP_E_TYPEMISMATCH) {
                // No put can take it; the user has to write it again.
                *reason = why;
                return hr;
            }
            if (SUCCEEDED(hr)) continue;
            refused.push_back(i);
            if (SUCCEEDED(first)) {
                first = hr;
                firstReason = std::move(why);
            }
        }
        if (refused.size() == pending.size() || pass == 1) {
            if (FAILED(first)) {
                *reason = std::move(firstReason);
                return first;
            }
        }
        pending = std::move(refused);
    }
    // A bound's put fixes the range, so the check box goes last, whenever a bound was written too.
    if (changed(kAutoRange) || rangeChanged) RETURN_IF_FAILED(WriteSetting(object, kAutoRange, reason));
    return S_OK;
}

HRESULT CVandrelChartPage::WriteSetting(IDispatch* object, int index, std::wstring* reason) {
    const Setting& row = RowOf(index);
    const int channel = ChannelOf(index);
    const std::wstring prefix =
        channel < 0 ? std::wstring()
                    : activex::ModuleText(IDS_CHANNEL_ITEM) + std::to_wstring(channel + 1) + L": ";
    const std::wstring& text = settings_[static_cast<size_t>(index)].shown;
    base::Variant value;
    if (!activex::FieldValue(row.kind, text, &value)) {
        *reason = prefix + L"\"" + text + L"\" " + activex::ModuleText(IDS_NOT_A_NUMBER);
        return DISP_E_TYPEMISMATCH;
    }
    const VARIANT args[] = {activex::IndexArg(channel), value.get()};
    base::DispException exception;
    const HRESULT hr = channel < 0 ? base::InvokeById(object, row.dispid, DISPATCH_PROPERTYPUT, &args[1], 1,
                                                      nullptr, nullptr, &exception)
                                   : base::InvokeById(object, row.dispid, DISPATCH_PROPERTYPUT, args, 2,
                                                      nullptr, nullptr, &exception);
    if (FAILED(hr)) {
        *reason = prefix + (exception.description.get()
                                ? std::wstring(exception.description.get(), exception.description.length())
                                : base::SystemMessage(hr));
    }
    return hr;
}
