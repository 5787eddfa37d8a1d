// The control's measurements: each channel's name, unit, scale and limits (engine::ChannelSet), the
// scaled values, the alarm states and the settings file. The rules live in the engine
// (engine/measurement_rules.h); the sampler judges every cycle by them (engine/measurements.h).
// Channels are numbered from 1 here, as a user counts them; the table checks the number.
#include "control/vandrel_ctrl.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "activex/dispatch.h"
#include "base/hresult.h"
#include "base/text.h"
#include "base/variant.h"
#include "control/automation_values.h"
#include "engine/sample_math.h"
#include "engine/settings_file.h"

using vandrel::ClampToLong;

namespace {

// A refusal of the rules: E_INVALIDARG with its sentence for the caller.
HRESULT Refuse(const wchar_t* why) noexcept { return activex::Refuse(E_INVALIDARG, why); }

void PutDouble(double value, VARIANT* result) noexcept {
    result->vt = VT_R8;
    result->dblVal = value;
}

// A limit: Null or Empty turn it off.
HRESULT LimitFrom(const VARIANT& value, double* limit) noexcept {
    const VARIANT* v = &value;
    while (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
    if (v->vt == VT_NULL || v->vt == VT_EMPTY) {
        *limit = engine::kNoLimit;
        return S_OK;
    }
    RETURN_IF_FAILED(activex::CoerceToDouble(value, limit));
    if (const wchar_t* why = engine::CheckLimit(*limit)) return Refuse(why);
    return S_OK;
}

}  // namespace

engine::ChannelSettings& CVandrelCtrl::Channel(LONG nChannel) noexcept {
    return channels_[static_cast<size_t>(nChannel - 1)];
}

HRESULT CVandrelCtrl::ChangeRules(LONG nChannel, const engine::ChannelRules& rules) noexcept {
    if (const wchar_t* why = engine::CheckLimitOrder(rules)) return Refuse(why);
    Channel(nChannel).rules = rules;
    m_Sampler.Measured().SetRules(static_cast<int>(nChannel - 1), rules);
    SetModifiedFlag();
    return S_OK;
}

HRESULT CVandrelCtrl::Label(LONG nChannel, std::wstring engine::ChannelSettings::*label,
                            VARIANT* result) noexcept {
    result->vt = VT_BSTR;
    return vandrel::NewText(Channel(nChannel).*label, &result->bstrVal);
}

HRESULT CVandrelCtrl::PutLabel(LONG nChannel, std::wstring engine::ChannelSettings::*label,
                               const VARIANT& value) noexcept try {
    base::Variant text;
    RETURN_IF_FAILED(activex::CoerceToText(value, &text));
    const BSTR b = text.get().bstrVal;
    const std::wstring taken(b ? b : L"", b ? ::SysStringLen(b) : 0);
    if (const wchar_t* why = engine::CheckName(taken)) return Refuse(why);
    Channel(nChannel).*label = taken;
    SetModifiedFlag();
    return S_OK;
}
CATCH_RETURN()

HRESULT CVandrelCtrl::ChannelGain(LONG nChannel, VARIANT* result) noexcept {
    PutDouble(Channel(nChannel).rules.gain, result);
    return S_OK;
}

HRESULT CVandrelCtrl::PutChannelGain(LONG nChannel, const VARIANT& value) noexcept {
    engine::ChannelRules rules = Channel(nChannel).rules;
    RETURN_IF_FAILED(activex::CoerceToDouble(value, &rules.gain));
    if (const wchar_t* why = engine::CheckGain(rules.gain)) return Refuse(why);
    return ChangeRules(nChannel, rules);
}

HRESULT CVandrelCtrl::ChannelOffset(LONG nChannel, VARIANT* result) noexcept {
    PutDouble(Channel(nChannel).rules.offset, result);
    return S_OK;
}

HRESULT CVandrelCtrl::PutChannelOffset(LONG nChannel, const VARIANT& value) noexcept {
    engine::ChannelRules rules = Channel(nChannel).rules;
    RETURN_IF_FAILED(activex::CoerceToDouble(value, &rules.offset));
    if (const wchar_t* why = engine::CheckOffset(rules.offset)) return Refuse(why);
    return ChangeRules(nChannel, rules);
}

HRESULT CVandrelCtrl::Calibrate(LONG nChannel, double dRaw1, double dValue1, double dRaw2, double dValue2,
                                VARIANT*) noexcept {
    engine::ChannelRules rules = Channel(nChannel).rules;
    if (const wchar_t* why =
            engine::TwoPointScale(dRaw1, dValue1, dRaw2, dValue2, &rules.gain, &rules.offset))
        return Refuse(why);
    return ChangeRules(nChannel, rules);
}

HRESULT CVandrelCtrl::ZeroChannel(LONG nChannel, VARIANT* result) noexcept {
    double mean = 0;
    if (nChannel > m_ChannelNumber || !m_Sampler.Measured().MeanRaw(static_cast<int>(nChannel - 1), &mean))
        return activex::Refuse(
            HRESULT_FROM_WIN32(ERROR_INVALID_STATE),
            L"ZeroChannel needs a cycle of this run that sampled the channel: call Start and "
            L"wait for a cycle first.");
    engine::ChannelRules rules = Channel(nChannel).rules;
    rules.offset = engine::ZeroOffset(rules.gain, mean);
    RETURN_IF_FAILED(ChangeRules(nChannel, rules));
    PutDouble(rules.offset, result);
    return S_OK;
}

HRESULT CVandrelCtrl::ChannelValue(LONG nChannel, VARIANT* result) noexcept {
    const SHORT raw = m_Sampler.GetChnlValue(nChannel - 1);
    if (raw == engine::kNoValue) {
        result->vt = VT_NULL;
        return S_OK;
    }
    PutDouble(Channel(nChannel).rules.Scale(raw), result);
    return S_OK;
}

HRESULT CVandrelCtrl::Limit(LONG nChannel, double engine::ChannelRules::*limit, VARIANT* result) noexcept {
    const double value = Channel(nChannel).rules.*limit;
    if (std::isnan(value)) {
        result->vt = VT_NULL;
    } else {
        PutDouble(value, result);
    }
    return S_OK;
}

HRESULT CVandrelCtrl::PutLimit(LONG nChannel, double engine::ChannelRules::*limit,
                               const VARIANT& value) noexcept {
    engine::ChannelRules rules = Channel(nChannel).rules;
    RETURN_IF_FAILED(LimitFrom(value, &(rules.*limit)));
    return ChangeRules(nChannel, rules);
}

HRESULT CVandrelCtrl::AlarmDeadband(LONG nChannel, VARIANT* result) noexcept {
    PutDouble(Channel(nChannel).rules.deadband, result);
    return S_OK;
}

HRESULT CVandrelCtrl::PutAlarmDeadband(LONG nChannel, const VARIANT& value) noexcept {
    engine::ChannelRules rules = Channel(nChannel).rules;
    RETURN_IF_FAILED(activex::CoerceToDouble(value, &rules.deadband));
    if (const wchar_t* why = engine::CheckDeadband(rules.deadband)) return Refuse(why);
    return ChangeRules(nChannel, rules);
}

HRESULT CVandrelCtrl::AlarmDelay(LONG nChannel, VARIANT* result) noexcept {
    result->vt = VT_I4;
    result->lVal = static_cast<LONG>(Channel(nChannel).rules.onDelayMs);
    return S_OK;
}

HRESULT CVandrelCtrl::PutAlarmDelay(LONG nChannel, const VARIANT& value) noexcept {
    engine::ChannelRules rules = Channel(nChannel).rules;
    double ms = 0;
    RETURN_IF_FAILED(activex::CoerceToDouble(value, &ms));
    if (const wchar_t* why = engine::CheckOnDelay(ms)) return Refuse(why);
    rules.onDelayMs = static_cast<uint32_t>(ms);
    return ChangeRules(nChannel, rules);
}

HRESULT CVandrelCtrl::AlarmLatch(LONG nChannel, VARIANT* result) noexcept {
    result->vt = VT_BOOL;
    result->boolVal = Channel(nChannel).rules.latching ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT CVandrelCtrl::PutAlarmLatch(LONG nChannel, const VARIANT& value) noexcept {
    engine::ChannelRules rules = Channel(nChannel).rules;
    LONG latch = 0;
    RETURN_IF_FAILED(activex::CoerceToLong(value, &latch));
    rules.latching = latch != 0;
    return ChangeRules(nChannel, rules);
}

HRESULT CVandrelCtrl::AlarmState(LONG nChannel, VARIANT* result) noexcept {
    result->vt = VT_I4;
    result->lVal = static_cast<LONG>(m_Sampler.Measured().Shown(static_cast<int>(nChannel - 1)));
    return S_OK;
}

HRESULT CVandrelCtrl::AcknowledgeAlarm(LONG nChannel, VARIANT*) noexcept {
    for (int k = 0; k < engine::kMeasuredChannels; ++k) {
        if (nChannel == 0 || nChannel == k + 1) m_Sampler.Measured().Acknowledge(k);
    }
    RequestEvents();
    return S_OK;
}

LONG CVandrelCtrl::AlarmsLost() noexcept { return ClampToLong(m_Sampler.Measured().Lost()); }

HRESULT CVandrelCtrl::SaveSettings(BSTR sPath, VARIANT*) noexcept try {
    std::wstring why;
    const HRESULT hr = engine::SaveSettingsFile(sPath ? sPath : L"", channels_, &why);
    return FAILED(hr) ? activex::Refuse(hr, why) : S_OK;
}
CATCH_RETURN()

HRESULT CVandrelCtrl::LoadSettings(BSTR sPath, VARIANT*) noexcept try {
    std::wstring why;
    engine::ChannelSet loaded = channels_;
    const HRESULT hr = engine::LoadSettingsFile(sPath ? sPath : L"", &loaded, &why);
    if (FAILED(hr)) return activex::Refuse(hr, why);
    TakeChannels(loaded);
    SetModifiedFlag();
    return S_OK;
}
CATCH_RETURN()

void CVandrelCtrl::TakeChannels(const engine::ChannelSet& channels) noexcept {
    channels_ = channels;
    for (int k = 0; k < engine::kMeasuredChannels; ++k) m_Sampler.Measured().SetRules(k, channels_[k].rules);
}

bool CVandrelCtrl::HasChannelSettings() const noexcept {
    return std::any_of(channels_.begin(), channels_.end(),
                       [](const engine::ChannelSettings& c) { return !c.IsDefault(); });
}

HRESULT CVandrelCtrl::ExchangeChannels(activex::PropExchange& px) noexcept try {
    static const double kOne = 1.0;
    static const double kZero = 0.0;
    static const double kOff = engine::kNoLimit;
    static const LONG kNone = 0;
    engine::ChannelSet channels = channels_;
    for (size_t k = 0; k < channels.size(); ++k) {
        engine::ChannelSettings& c = channels[k];
        engine::ChannelRules& r = c.rules;
        const std::wstring prefix = L"Channel" + std::to_wstring(k + 1);
        const auto name = [&](const wchar_t* key) { return prefix + key; };
        LONG delay = static_cast<LONG>(r.onDelayMs);
        LONG latch = r.latching ? 1 : 0;
        RETURN_IF_FAILED(px.ExchangeText(name(L"Name").c_str(), c.name, L""));
        RETURN_IF_FAILED(px.ExchangeText(name(L"Unit").c_str(), c.unit, L""));
        RETURN_IF_FAILED(px.ExchangeDouble(name(L"Gain").c_str(), r.gain, &kOne));
        RETURN_IF_FAILED(px.ExchangeDouble(name(L"Offset").c_str(), r.offset, &kZero));
        RETURN_IF_FAILED(px.ExchangeDouble(name(L"HighHigh").c_str(), r.highHigh, &kOff));
        RETURN_IF_FAILED(px.ExchangeDouble(name(L"High").c_str(), r.high, &kOff));
        RETURN_IF_FAILED(px.ExchangeDouble(name(L"Low").c_str(), r.low, &kOff));
        RETURN_IF_FAILED(px.ExchangeDouble(name(L"LowLow").c_str(), r.lowLow, &kOff));
        RETURN_IF_FAILED(px.ExchangeDouble(name(L"Deadband").c_str(), r.deadband, &kZero));
        RETURN_IF_FAILED(px.ExchangeLong(name(L"OnDelay").c_str(), delay, &kNone));
        RETURN_IF_FAILED(px.ExchangeLong(name(L"Latch").c_str(), latch, &kNone));
        if (!px.Loading()) continue;
        // A document edited by hand may break a rule: the channel's rules take their defaults, as a
        // value the store cannot give does, and the rest of the document loads.
        if (engine::CheckName(c.name)) c.name.clear();
        if (engine::CheckName(c.unit)) c.unit.clear();
        if (engine::CheckRules(r) || engine::CheckOnDelay(delay)) {
            r = engine::ChannelRules();
            continue;
        }
        r.onDelayMs = static_cast<uint32_t>(delay);
        r.latching = latch != 0;
    }
    if (px.Loading()) TakeChannels(channels);
    return S_OK;
}
CATCH_RETURN()

// The names of the record file's scaled columns; none while every channel has its defaults, so that
// such a control writes the plain file.
std::vector<std::string> CVandrelCtrl::MeasureColumns() const {
    std::vector<std::string> names;
    if (!HasChannelSettings()) return names;
    for (int k = 0; k < engine::kMeasuredChannels; ++k) {
        const engine::ChannelSettings& c = channels_[static_cast<size_t>(k)];
        std::wstring name = c.name.empty() ? L"ch" + std::to_wstring(k) : c.name;
        if (!c.unit.empty()) {
            name += L" [" + c.unit + L"]";
        } else if (c.name.empty()) {
            name += L" scaled";
        }
        names.push_back(base::Utf8(name));
    }
    return names;
}
