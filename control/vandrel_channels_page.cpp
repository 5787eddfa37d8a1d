#include "control/vandrel_channels_page.h"

#include <climits>
#include <cmath>
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
    DISPID dispid;  // the control's indexed property
    Kind kind;
};

// The members are the control's indexed properties, which take the channel, 1 to 8, first.
constexpr Setting kSettingRows[CVandrelChannelsPage::kSettings] = {
    {IDC_CHANNEL_NAME, 26, Kind::kText},     {IDC_CHANNEL_UNIT, 27, Kind::kText},
    {IDC_CHANNEL_GAIN, 28, Kind::kNumber},   {IDC_CHANNEL_OFFSET, 29, Kind::kNumber},
    {IDC_HIGH_HIGH_LIMIT, 34, Kind::kLimit}, {IDC_HIGH_LIMIT, 35, Kind::kLimit},
    {IDC_LOW_LIMIT, 36, Kind::kLimit},       {IDC_LOW_LOW_LIMIT, 37, Kind::kLimit},
    {IDC_ALARM_DEADBAND, 38, Kind::kNumber}, {IDC_ALARM_DELAY, 39, Kind::kWhole},
    {IDC_ALARM_LATCH, 40, Kind::kFlag},
};

}  // namespace

HRESULT CVandrelChannelsPage::CreateInstance(REFIID riid, void** ppv) noexcept {
    return base::CreateObject<CVandrelChannelsPage>(riid, ppv);
}

CVandrelChannelsPage::CVandrelChannelsPage() noexcept
    : PropertyPageBase(IDD_PROPPAGE_CHANNELS, IDS_CHANNELS_CAPTION) {}

HRESULT CVandrelChannelsPage::ObjectsChanged() noexcept try {
    channels_ = {};
    if (!Objects().empty()) {
        base::ComPtr<IDispatch> object;
        RETURN_IF_FAILED(Objects().front()->QueryInterface(IID_IDispatch, object.put_void()));
        RETURN_IF_FAILED(ReadChannels(object.get()));
    }
    if (HWND window = Window()) ShowChannel(window);
    return S_OK;
}
CATCH_RETURN()

HRESULT CVandrelChannelsPage::ReadChannels(IDispatch* object) {
    for (int channel = 0; channel < kChannels; ++channel) {
        for (int i = 0; i < kSettings; ++i) {
            const VARIANT index = activex::IndexArg(channel);
            base::Variant value;
            RETURN_IF_FAILED(base::InvokeById(object, kSettingRows[i].dispid, DISPATCH_PROPERTYGET, &index, 1,
                                              value.ptr()));
            SettingText& setting = channels_[static_cast<size_t>(channel)][static_cast<size_t>(i)];
            RETURN_IF_FAILED(activex::FieldText(kSettingRows[i].kind, value, &setting.read));
            setting.shown = setting.read;
        }
    }
    return S_OK;
}

void CVandrelChannelsPage::InitDialog(HWND window) noexcept try {
    HWND list = ::GetDlgItem(window, IDC_CHANNEL);
    const std::wstring item = activex::ModuleText(IDS_CHANNEL_ITEM);
    for (int channel = 1; channel <= kChannels; ++channel) {
        ::SendMessageW(list, CB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>((item + std::to_wstring(channel)).c_str()));
    }
    ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(chosen_), 0);
    ShowChannel(window);
} catch (...) {
    // The fields stay empty; the page cannot say more from inside the dialog's creation.
}

void CVandrelChannelsPage::ShowChannel(HWND window) {
    filling_ = true;
    const ChannelTexts& texts = channels_[static_cast<size_t>(chosen_)];
    for (int i = 0; i < kSettings; ++i) {
        const std::wstring& text = texts[static_cast<size_t>(i)].shown;
        if (kSettingRows[i].kind == Kind::kFlag) {
            ::CheckDlgButton(window, kSettingRows[i].control, text == L"1" ? BST_CHECKED : BST_UNCHECKED);
        } else {
            ::SetDlgItemTextW(window, kSettingRows[i].control, text.c_str());
        }
    }
    filling_ = false;
}

bool CVandrelChannelsPage::Command(HWND window, WORD id, WORD code) noexcept try {
    if (id == IDC_CHANNEL) {
        if (code != CBN_SELCHANGE) return false;
        const LRESULT chosen = ::SendDlgItemMessageW(window, IDC_CHANNEL, CB_GETCURSEL, 0, 0);
        if (chosen < 0 || chosen >= kChannels) return true;
        chosen_ = static_cast<int>(chosen);
        ShowChannel(window);
        return true;
    }
    for (int i = 0; i < kSettings; ++i) {
        if (kSettingRows[i].control != id) continue;
        const bool flag = kSettingRows[i].kind == Kind::kFlag;
        if (filling_ || code != (flag ? BN_CLICKED : EN_CHANGE)) return false;
        std::wstring& shown = channels_[static_cast<size_t>(chosen_)][static_cast<size_t>(i)].shown;
        shown = flag ? (::IsDlgButtonChecked(window, id) == BST_CHECKED ? L"1" : L"0")
                     : activex::WindowText(::GetDlgItem(window, id));
        SetDirty(true);
        return true;
    }
    return false;
} catch (...) {
    return false;
}

HRESULT CVandrelChannelsPage::ApplyChanges() noexcept try {
    std::wstring reason;
    HRESULT hr = S_OK;
    for (const auto& unknown : Objects()) {
        base::ComPtr<IDispatch> object;
        hr = unknown->QueryInterface(IID_IDispatch, object.put_void());
        if (SUCCEEDED(hr)) hr = WriteChannels(object.get(), &reason);
        if (FAILED(hr)) break;
    }
    if (SUCCEEDED(hr)) {
        for (auto& channel : channels_) {
            for (auto& setting : channel) setting.read = setting.shown;
        }
    } else if (reason.empty()) {
        reason = base::SystemMessage(hr);
    }
    if (HWND window = Window()) ::SetDlgItemTextW(window, IDC_CHANNELS_STATUS, reason.c_str());
    return hr;
}
CATCH_RETURN()

HRESULT CVandrelChannelsPage::WriteChannels(IDispatch* object, std::wstring* reason) {
    // Settings that depend on each other (a limit against its neighbour) may be refused in one
    // order and taken in the other, so a refused put is tried again once the others are in.
    struct Pending {
        int channel, setting;
    };
    std::vector<Pending> pending;
    for (int channel = 0; channel < kChannels; ++channel) {
        for (int i = 0; i < kSettings; ++i) {
            const SettingText& text = channels_[static_cast<size_t>(channel)][static_cast<size_t>(i)];
            if (text.shown != text.read) pending.push_back({channel, i});
        }
    }
    for (int pass = 0; pass < 2 && !pending.empty(); ++pass) {
        std::vector<Pending> refused;
        HRESULT first = S_OK;
        reason->clear();
        for (const Pending& p : pending) {
            const Setting& setting = kSettingRows[p.setting];
            const std::wstring prefix =
                activex::ModuleText(IDS_CHANNEL_ITEM) + std::to_wstring(p.channel + 1) + L": ";
            const std::wstring& text =
                channels_[static_cast<size_t>(p.channel)][static_cast<size_t>(p.setting)].shown;
            base::Variant value;
            if (!activex::FieldValue(setting.kind, text, &value)) {
                // No put can take it; the user has to write it again.
                *reason = prefix + L"\"" + text + L"\" " + activex::ModuleText(IDS_NOT_A_NUMBER);
                return DISP_E_TYPEMISMATCH;
            }
            const VARIANT args[] = {activex::IndexArg(p.channel), value.get()};
            base::DispException exception;
            const HRESULT hr = base::InvokeById(object, setting.dispid, DISPATCH_PROPERTYPUT, args, 2,
                                                nullptr, nullptr, &exception);
            if (SUCCEEDED(hr)) continue;
            refused.push_back(p);
            if (SUCCEEDED(first)) {
                first = hr;
                *reason = prefix + (exception.description.get() ? std::wstring(exception.description.get(),
                                                                               exception.description.length())
                                                                : base::SystemMessage(hr));
            }
        }
        if (refused.size() == pending.size() || pass == 1) {
            if (FAILED(first)) return first;
        }
        pending = std::move(refused);
    }
    return S_OK;
}
