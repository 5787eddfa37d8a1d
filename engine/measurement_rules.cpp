#include "engine/measurement_rules.h"

namespace engine {

namespace {

// NaN equals NaN: a limit that is off equals another that is off.
bool Same(double a, double b) noexcept { return a == b || (std::isnan(a) && std::isnan(b)); }

int Severity(AlarmLevel level) noexcept {
    const int n = static_cast<int>(level);
    return n < 0 ? -n : n;
}

// The limits in the order of AlarmTracker's arrays, and their severity.
constexpr AlarmLevel kLevels[4] = {AlarmLevel::kHighHigh, AlarmLevel::kHigh, AlarmLevel::kLow,
                                   AlarmLevel::kLowLow};
constexpr int kSeverity[4] = {2, 1, 1, 2};

}  // namespace

bool ChannelRules::Judges() const noexcept {
    return !std::isnan(highHigh) || !std::isnan(high) || !std::isnan(low) || !std::isnan(lowLow);
}

bool ChannelRules::operator==(const ChannelRules& other) const noexcept {
    return Same(gain, other.gain) && Same(offset, other.offset) && Same(highHigh, other.highHigh) &&
           Same(high, other.high) && Same(low, other.low) && Same(lowLow, other.lowLow) &&
           Same(deadband, other.deadband) && onDelayMs == other.onDelayMs && latching == other.latching;
}

bool ChannelSettings::IsDefault() const noexcept {
    return name.empty() && unit.empty() && rules == ChannelRules{};
}

bool ChannelSettings::operator==(const ChannelSettings& other) const noexcept {
    return name == other.name && unit == other.unit && rules == other.rules;
}

const wchar_t* CheckGain(double gain) noexcept {
    return std::isfinite(gain) && gain != 0 ? nullptr : L"The gain must be a finite number other than 0.";
}

const wchar_t* CheckOffset(double offset) noexcept {
    return std::isfinite(offset) ? nullptr : L"The offset must be a finite number.";
}

const wchar_t* CheckLimit(double limit) noexcept {
    return std::isfinite(limit) || std::isnan(limit) ? nullptr
                                                     : L"A limit must be a finite number, or empty for none.";
}

const wchar_t* CheckDeadband(double deadband) noexcept {
    return std::isfinite(deadband) && deadband >= 0 ? nullptr
                                                    : L"The deadband must be a finite number, 0 or more.";
}

const wchar_t* CheckName(const std::wstring& text) noexcept {
    return text.size() <= kMaxNameLength ? nullptr
                                         : L"A channel's name or unit holds at most 255 characters.";
}

const wchar_t* CheckOnDelay(double ms) noexcept {
    return ms >= 0 && ms <= 86'400'000 && ms == std::floor(ms)
               ? nullptr
               : L"The on-delay must be a whole number of milliseconds from 0 to 86400000 (a day).";
}

const wchar_t* CheckLimitOrder(const ChannelRules& rules) noexcept {
    // Lowest first; every pair of limits that are set, the lower one must not be above the higher.
    const double limits[4] = {rules.lowLow, rules.low, rules.high, rules.highHigh};
    static const wchar_t* const kTexts[4][4] = {
        {nullptr, L"The low-low limit is above the low limit.", L"The low-low limit is above the high limit.",
         L"The low-low limit is above the high-high limit."},
        {nullptr, nullptr, L"The low limit is above the high limit.",
         L"The low limit is above the high-high limit."},
        {nullptr, nullptr, nullptr, L"The high limit is above the high-high limit."},
        {}};
    for (int i = 0; i < 4; ++i) {
        for (int j = i + 1; j < 4; ++j) {
            if (limits[i] > limits[j]) return kTexts[i][j];  // false when either is NaN
        }
    }
    return nullptr;
}

const wchar_t* CheckRules(const ChannelRules& rules) noexcept {
    for (const wchar_t* text :
         {CheckGain(rules.gain), CheckOffset(rules.offset), CheckLimit(rules.highHigh),
          CheckLimit(rules.high), CheckLimit(rules.low), CheckLimit(rules.lowLow),
          CheckDeadband(rules.deadband), CheckOnDelay(rules.onDelayMs), CheckLimitOrder(rules)}) {
        if (text) return text;
    }
    return nullptr;
}

const wchar_t* TwoPointScale(double raw1, double value1, double raw2, double value2, double* gain,
                             double* offset) noexcept {
    if (!gain || !offset) return L"There is no place for the gain and offset.";
    if (!std::isfinite(raw1) || !std::isfinite(value1) || !std::isfinite(raw2) || !std::isfinite(value2))
        return L"The two points must be finite numbers.";
    if (raw1 == raw2) return L"The two raw values are equal: they give no gain.";
    const double newGain = (value2 - value1) / (raw2 - raw1);
    if (newGain == 0) return L"The two values are equal: the gain would be 0.";
    const double newOffset = value1 - newGain * raw1;
    if (!std::isfinite(newGain) || !std::isfinite(newOffset))
        return L"The two points give a gain or offset too large for a number.";
    *gain = newGain;
    *offset = newOffset;
    return nullptr;
}

bool AlarmTracker::Judge(const ChannelRules& rules, double value, uint64_t nowMs) noexcept {
    if (std::isnan(value)) return false;
    const double limits[4] = {rules.highHigh, rules.high, rules.low, rules.lowLow};
    const double deadband = rules.deadband > 0 ? rules.deadband : 0.0;  // NaN or below 0: none
    int best = -1;
    for (int i = 0; i < 4; ++i) {
        const double limit = limits[i];
        const bool highSide = i < 2;
        if (std::isnan(limit)) {
            beyond_[i] = raised_[i] = false;
            continue;
        }
        if (raised_[i]) {
            const bool back = highSide ? value < limit - deadband : value > limit + deadband;
            if (back) beyond_[i] = raised_[i] = false;
        } else if (highSide ? value >= limit : value <= limit) {
            if (!beyond_[i]) {
                beyond_[i] = true;
                beyondSince_[i] = nowMs;
            }
            if (nowMs >= beyondSince_[i] + rules.onDelayMs) {
                raised_[i] = true;
                raisedAt_[i] = nowMs;
            }
        } else {
            beyond_[i] = false;  // left before its delay ended: the delay starts again
        }
        if (!raised_[i]) continue;
        if (best < 0 || kSeverity[i] > kSeverity[best] ||
            (kSeverity[i] == kSeverity[best] && raisedAt_[i] > raisedAt_[best]))
            best = i;
    }
    active_ = best < 0 ? AlarmLevel::kNormal : kLevels[best];
    const AlarmLevel shown = rules.latching && Severity(shown_) >= Severity(active_) ? shown_ : active_;
    if (shown == shown_) return false;
    shown_ = shown;
    return true;
}

bool AlarmTracker::Acknowledge() noexcept {
    if (shown_ == active_) return false;
    shown_ = active_;
    return true;
}

void AlarmTracker::Reset() noexcept { *this = AlarmTracker{}; }

}  // namespace engine
