#include "control/vandrel_channels_page.h"

#include <climits>
#include <cmath>
#include <string_view>
#include <utility>
#include <vector>

#include "activex/resources.h"
#include "base/hresult.h"
#include "base/late_bound.h"
#include "base/number_text.h"
#include "base/text.h"
#include "base/variant.h"
#include "control/resource.h"

namespace {

// How a setting is written as text.
enum class Kind {
    kText,
    kNumber,
    kLimit,  // a number, or empty for none (Null)
    kWhole,  // a count of milliseconds
    kFlag,   // a check box
};

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

// The channel argument of an indexed property: 1 to 8.
VARIANT ChannelArg(int index) {
    VARIANT arg;
    arg.vt = VT_I4;
    arg.lVal = index + 1;
    return arg;
}

std::wstring ModuleString(UINT id) {
    std::wstring text;
    activex::LoadModuleString(id, &text);
    return text;
}

std::wstring_view Trimmed(std::wstring_view text) {
    const auto first = text.find_first_not_of(L" \t");
    if (first == std::wstring_view::npos) return {};
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

// The text the page shows for value.
[[nodiscard]] HRESULT TextOf(Kind kind, base::Variant& value, std::wstring* text) {
    text->clear();
    switch (kind) {
        case Kind::kText:
            RETURN_IF_FAILED(value.ChangeType(VT_BSTR));
            text->assign(value.get().bstrVal, ::SysStringLen(value.get().bstrVal));
            return S_OK;
        case Kind::kLimit:
            if (value.vt() == VT_NULL || value.vt() == VT_EMPTY) return S_OK;
            [[fallthrough]];
        case Kind::kNumber:
            RETURN_IF_FAILED(value.ChangeType(VT_R8));
            *text = base::NumberText(value.get().dblVal);
            return S_OK;
        case Kind::kWhole:
            RETURN_IF_FAILED(value.ChangeType(VT_I4));
            *text = std::to_wstring(value.get().lVal);
            return S_OK;
        case Kind::kFlag:
            RETURN_IF_FAILED(value.ChangeType(VT_BOOL));
            *text = value.get().boolVal ? L"1" : L"0";
            return S_OK;
    }
    return E_UNEXPECTED;
}

// The value text stands for; false when a number field holds no number.
bool ValueOf(Kind kind, const std::wstring& text, base::Variant* value) {
    const std::wstring_view number = Trimmed(text);
    double read = 0;
    switch (kind) {
        case Kind::kText: *value = base::Variant(text.c_str()); return value->vt() == VT_BSTR;
        case Kind::kLimit:
            if (number.empty()) {
                value->put()->vt = VT_NULL;
                return true;
            }
            [[fallthrough]];
        case Kind::kNumber:
            if (!base::ParseNumber(number, &read)) return false;
            value->put()->vt = VT_R8;
            value->ptr()->dblVal = read;
            return true;
        case Kind::kWhole:
            if (!base::ParseNumber(number, &read) || read != std::floor(read) || read < LONG_MIN ||
                read > LONG_MAX)
                return false;
            *value = base::Variant(static_cast<LONG>(read));
            return true;
        case Kind::kFlag:
            value->put()->vt = VT_BOOL;
            value->ptr()->boolVal = text == L"1" ? VARIANT_TRUE : VARIANT_FALSE;
            return true;
    }
    return false;
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

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
            const VARIANT index = ChannelArg(channel);
            base::Variant value;
            RETURN_IF_FAILED(base::InvokeById(object, kSettingRows[i].dispid, DISPATCH_PROPERTYGET, &index, 1,
                                              value.ptr()));
            SettingText& setting = channels_[static_cast<size_t>(channel)][static_cast<size_t>(i)];
            RETURN_IF_FAILED(TextOf(kSettingRows[i].kind, value, &setting.read));
            setting.shown = setting.read;
        }
    }
    return S_OK;
}

void CVandrelChannelsPage::InitDialog(HWND window) noexcept try {
    HWND list = ::GetDlgItem(window, IDC_CHANNEL);
    const std::wstring item = ModuleString(IDS_CHANNEL_ITEM);
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
                     : WindowText(::GetDlgItem(window, id));
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
                ModuleString(IDS_CHANNEL_ITEM) + std::to_wstring(p.channel + 1) + L": ";
            const std::wstring& text =
                channels_[static_cast<size_t>(p.channel)][static_cast<size_t>(p.setting)].shown;
            base::Variant value;
            if (!ValueOf(setting.kind, text, &value)) {
                // No put can take it; the user has to write it again.
                *reason = prefix + L"\"" + text + L"\" " + ModuleString(IDS_NOT_A_NUMBER);
                return DISP_E_TYPEMISMATCH;
            }
            const VARIANT args[] = {ChannelArg(p.channel), value.get()};
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
