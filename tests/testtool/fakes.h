// Fakes for the handler tests: a form whose boxes, buttons and timers live in memory, and a
// recording _DVandrel. Both write what is done to them into one shared log, so a test can check
// the order of form changes and control calls together.
#pragma once

#include <oaidl.h>

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/com_object.h"
#include "base/hresult.h"
#include "client/vandrel_ids.h"
#include "testtool/form.h"

namespace testtool {

using Log = std::vector<std::string>;

inline std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

inline const char* BoxName(mirelo::BoxArray a) {
    switch (a) {
        case mirelo::BoxArray::kDataInterval: return "data_interval";
        case mirelo::BoxArray::kDataNum: return "data_num";
        case mirelo::BoxArray::kDataValue: break;
    }
    return "data_value";
}

inline const char* ButtonName(mirelo::ButtonArray a) {
    switch (a) {
        case mirelo::ButtonArray::kReadInterval: return "cmd_ReadInterval";
        case mirelo::ButtonArray::kReadNum: return "cmd_ReadNum";
        case mirelo::ButtonArray::kStart: return "cmd_Start";
        case mirelo::ButtonArray::kStop: break;
    }
    return "cmd_Stop";
}

class FakeForm final : public mirelo::Form {
public:
    class FakeBox final : public mirelo::TextBox {
    public:
        FakeBox(Log* log, std::string name, std::wstring text)
            : log_(log), name_(std::move(name)), text_(std::move(text)) {}
        std::wstring Text() const override {
            if (throws) throw std::runtime_error("text unavailable");
            return text_;
        }
        void SetText(const std::wstring& text) override {
            text_ = text;
            log_->push_back(name_ + " text " + Narrow(text));
        }
        const std::wstring& CurrentText() const { return text_; }
        bool throws = false;

    private:
        Log* log_;
        std::string name_;
        std::wstring text_;
    };

    class FakeButton final : public mirelo::Button {
    public:
        FakeButton(Log* log, std::string name, bool startsEnabled)
            : log_(log), name_(std::move(name)), enabled(startsEnabled) {}
        void SetEnabled(bool on) override {
            enabled = on;
            log_->push_back(name_ + (on ? " enabled" : " disabled"));
        }

    private:
        Log* log_;
        std::string name_;

    public:
        bool enabled;
    };

    class FakeTimer final : public mirelo::Timer {
    public:
        FakeTimer(Log* log, std::string name) : log_(log), name_(std::move(name)) {}
        void SetInterval(UINT ms) override {
            interval = ms;
            log_->push_back(name_ + " interval " + std::to_string(ms));
        }
        void SetEnabled(bool on) override {
            enabled = on;
            log_->push_back(name_ + (on ? " enabled" : " disabled"));
        }
        UINT interval = 0;
        bool enabled = true;

    private:
        Log* log_;
        std::string name_;
    };

    // The form as it stands after the load handler: defaults in the boxes, block idle.
    explicit FakeForm(Log* log) {
        using mirelo::BoxArray;
        using mirelo::ButtonArray;
        for (int k = 0; k < 2; ++k) {
            AddBox(log, BoxArray::kDataInterval, k, L"2160");
            AddBox(log, BoxArray::kDataNum, k, L"370");
            AddButton(log, ButtonArray::kReadInterval, k, true);
            AddButton(log, ButtonArray::kReadNum, k, true);
            AddButton(log, ButtonArray::kStart, k, true);
            AddButton(log, ButtonArray::kStop, k, false);
        }
        for (int i = 0; i < 16; ++i) AddBox(log, BoxArray::kDataValue, i, L"");
        timers_.emplace(mirelo::TimerName::kReadTimer1, FakeTimer(log, "read_timer1"));
        timers_.emplace(mirelo::TimerName::kReadTimer2, FakeTimer(log, "read_timer2"));
    }

    [[nodiscard]] HRESULT Box(mirelo::BoxArray array, int index, mirelo::TextBox** box) override {
        *box = nullptr;
        auto it = boxes_.find({array, index});
        if (it == boxes_.end() || missing.count(BoxName(array) + ("(" + std::to_string(index) + ")"))) {
            return DISP_E_BADINDEX;
        }
        *box = &it->second;
        return S_OK;
    }
    [[nodiscard]] HRESULT ButtonAt(mirelo::ButtonArray array, int index, mirelo::Button** button) override {
        *button = nullptr;
        auto it = buttons_.find({array, index});
        if (it == buttons_.end() || missing.count(ButtonName(array) + ("(" + std::to_string(index) + ")"))) {
            return DISP_E_BADINDEX;
        }
        *button = &it->second;
        return S_OK;
    }
    mirelo::Timer& TimerNamed(mirelo::TimerName name) override { return timers_.at(name); }

    FakeBox& FakeBoxAt(mirelo::BoxArray a, int i) { return boxes_.at({a, i}); }
    FakeButton& FakeButtonAt(mirelo::ButtonArray a, int i) { return buttons_.at({a, i}); }
    FakeTimer& FakeTimerNamed(mirelo::TimerName t) { return timers_.at(t); }

    // Elements named here ("data_value(5)") do not exist.
    std::set<std::string> missing;

private:
    void AddBox(Log* log, mirelo::BoxArray a, int i, const wchar_t* text) {
        boxes_.emplace(std::make_pair(a, i),
                       FakeBox(log, BoxName(a) + ("(" + std::to_string(i) + ")"), text));
    }
    void AddButton(Log* log, mirelo::ButtonArray a, int i, bool enabled) {
        buttons_.emplace(std::make_pair(a, i),
                         FakeButton(log, ButtonName(a) + ("(" + std::to_string(i) + ")"), enabled));
    }

    std::map<std::pair<mirelo::BoxArray, int>, FakeBox> boxes_;
    std::map<std::pair<mirelo::ButtonArray, int>, FakeButton> buttons_;
    std::map<mirelo::TimerName, FakeTimer> timers_;
};

inline const char* MemberName(DISPID id) {
    switch (id) {
        case client::kDispidInterval: return "Interval";
        case client::kDispidAddress: return "Address";
        case client::kDispidGetChnlValue: return "GetChnlValue";
        case client::kDispidStart: return "Start";
        case client::kDispidStop: return "Stop";
        case client::kDispidChannelNumber: return "ChannelNumber";
    }
    return "?";
}

inline const char* TypeName(VARTYPE vt) {
    switch (vt) {
        case VT_I2: return "I2";
        case VT_I4: return "I4";
        case VT_BSTR: return "BSTR";
        case VT_R8: return "R8";
    }
    return "other";
}

// A _DVandrel that logs every call as "<name> <put|get|call> <member> [<argument type> <value>]"
// and answers from its fields. failAt makes the n-th call (counted from 1 across all members)
// fail with failure.
class RecordingVandrel final : public base::ComObject<RecordingVandrel, base::Lifetime::Heap, IDispatch> {
public:
    RecordingVandrel(Log* log, std::string name) : log_(log), name_(std::move(name)) {}

    LONG interval = 2160, address = 356, channelNumber = 8;
    VARTYPE channelNumberType = VT_I4;  // the type a get of ChannelNumber answers with
    std::map<LONG, LONG> values;        // GetChnlValue answers, as VT_I2 unless wider
    VARIANT_BOOL startResult = VARIANT_TRUE;
    int calls = 0;
    int failAt = 0;
    HRESULT failure = E_FAIL;
    bool badFlags = false;  // a call arrived with flags or named arguments it should not have

    STDMETHODIMP GetTypeInfoCount(UINT* n) noexcept override {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override {
        *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override {
        // The tool calls by DISPID only.
        log_->push_back(name_ + " GetIDsOfNames");
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* p, VARIANT* result, EXCEPINFO*,
                        UINT*) noexcept override try {
        return Record(id, flags, p, result);
    }
    CATCH_RETURN()

private:
    [[nodiscard]] HRESULT Record(DISPID id, WORD flags, DISPPARAMS* p, VARIANT* result) {
        std::string entry = name_;
        const bool put = flags == DISPATCH_PROPERTYPUT;
        if (put) {
            entry += " put ";
            badFlags |= p->cNamedArgs != 1 || p->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT;
        } else if (flags == DISPATCH_PROPERTYGET) {
            entry += " get ";
            badFlags |= p->cNamedArgs != 0;
        } else if (flags == DISPATCH_METHOD) {
            entry += " call ";
            badFlags |= p->cNamedArgs != 0;
        } else {
            entry += " flags?" + std::to_string(flags) + " ";
            badFlags = true;
        }
        entry += MemberName(id);
        LONG arg = 0;
        for (UINT i = 0; i < p->cArgs; ++i) {
            const VARIANT& v = p->rgvarg[i];
            entry += std::string(" ") + TypeName(v.vt) + " ";
            arg = v.vt == VT_I2 ? v.iVal : v.vt == VT_I4 ? v.lVal : 0;
            entry += std::to_string(arg);
        }
        log_->push_back(entry);
        if (++calls == failAt) return failure;

        if (result) ::VariantInit(result);
        switch (id) {
            case client::kDispidInterval: return Property(put, &interval, arg, result);
            case client::kDispidAddress: return Property(put, &address, arg, result);
            case client::kDispidChannelNumber:
                if (!put && result) {
                    result->vt = channelNumberType;
                    if (channelNumberType == VT_I2) {
                        result->iVal = static_cast<SHORT>(channelNumber);
                    } else {
                        result->lVal = channelNumber;
                    }
                    return S_OK;
                }
                return Property(put, &channelNumber, arg, result);
            case client::kDispidGetChnlValue: {
                if (!result) return S_OK;
                const LONG v = values.count(arg) ? values[arg] : 32767;
                if (v >= -32768 && v <= 32767) {
                    result->vt = VT_I2;
                    result->iVal = static_cast<SHORT>(v);
                } else {
                    result->vt = VT_I4;
                    result->lVal = v;
                }
                return S_OK;
            }
            case client::kDispidStart:
                if (result) {
                    result->vt = VT_BOOL;
                    result->boolVal = startResult;
                }
                return S_OK;
            case client::kDispidStop: return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

    [[nodiscard]] static HRESULT Property(bool put, LONG* field, LONG arg, VARIANT* result) {
        if (put) {
            *field = arg;
        } else if (result) {
            result->vt = VT_I4;
            result->lVal = *field;
        }
        return S_OK;
    }

    Log* log_;
    std::string name_;
};

}  // namespace testtool
