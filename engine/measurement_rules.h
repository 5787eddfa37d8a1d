// The rules that turn a channel's raw count into a measurement and judge it against limits: the
// scale (gain and offset, a two-point calibration, a zero), the limits with their deadband, on-delay
// and latch, and the alarm level they give. Plain values and pure functions, no system calls.
// AlarmTracker is one channel's state, owned by whoever judges that channel's values.
//
// The alarm rules, per channel (a limit that is NaN is off):
// - A value is beyond a high limit when value >= limit, beyond a low one when value <= limit: a
//   value exactly on a limit is beyond it.
// - A level raises when the value has been beyond its limit in every cycle for at least onDelayMs
//   (counted from the first such cycle; 0: at once). Each level keeps its own count, so a value that
//   jumps from normal to beyond high-high raises high-high directly (after the delay), skipping high.
// - A raised level clears when the value comes back past its limit by more than the deadband
//   (value < limit - deadband for a high level, value > limit + deadband for a low one); until
//   then it stays, so a value chattering inside the deadband neither clears nor raises again.
//   Clearing has no delay. When high-high clears but high still holds, the level drops to high.
// - Without a latch the shown level is the active one. With a latch the shown level is the most
//   severe one raised since the last acknowledge: it does not fall when the value comes back, only
//   when acknowledged, and then to the active level. A level more severe than the latched one
//   replaces it; one as severe does not. Severity: high-high and low-low above high and low above
//   normal.
// - A value that leaves before its on-delay ends raises nothing and leaves no latch. The deadband
//   holds only a raised level: while a delay runs the value must stay beyond the limit (on it is
//   beyond), else that delay starts again at the next cycle that is beyond.
// - When high and low levels are both raised (only limits that overlap the deadband allow it), the
//   more severe one is active; of two as severe, the one raised last (the high one when both
//   raised in the same cycle).
// - A value that is NaN (no measurement) is beyond no limit and changes nothing: no level raises or
//   clears, the delays under way go on, and Judge answers false, as if the cycle had not been.
// - A deadband below 0 or NaN counts as 0 and a limit turned off (NaN) drops its level at the next
//   judged value (CheckRules refuses the first two anyway).
#pragma once

#include <windows.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace engine {

inline constexpr int kMeasuredChannels = 8;
inline constexpr double kNoLimit = std::numeric_limits<double>::quiet_NaN();

// The level of a channel's alarm; the numbers are the type library's.
enum class AlarmLevel : int { kLowLow = -2, kLow = -1, kNormal = 0, kHigh = 1, kHighHigh = 2 };

// The numbers one channel's values are scaled and judged by; plain data the sampling thread copies.
struct ChannelRules {
    double gain = 1.0;
    double offset = 0.0;
    double highHigh = kNoLimit;
    double high = kNoLimit;
    double low = kNoLimit;
    double lowLow = kNoLimit;
    double deadband = 0.0;
    uint32_t onDelayMs = 0;
    bool latching = false;

    double Scale(int16_t raw) const noexcept { return raw * gain + offset; }
    // Whether any limit is set.
    bool Judges() const noexcept;
    bool operator==(const ChannelRules& other) const noexcept;  // NaN limits equal each other
};

// One channel's settings: what it is called, its unit (any text) and its rules.
struct ChannelSettings {
    std::wstring name;
    std::wstring unit;
    ChannelRules rules;

    // Whether nothing was set: no name, no unit, the default rules.
    bool IsDefault() const noexcept;
    bool operator==(const ChannelSettings& other) const noexcept;
};

using ChannelSet = std::array<ChannelSettings, kMeasuredChannels>;

// Checks: nullptr when the value is taken, else a sentence for the user saying what is wrong (a
// constant text). Each checks only what it names.
const wchar_t* CheckGain(double gain) noexcept;          // finite and not 0
const wchar_t* CheckOffset(double offset) noexcept;      // finite
const wchar_t* CheckLimit(double limit) noexcept;        // finite, or NaN for none
const wchar_t* CheckDeadband(double deadband) noexcept;  // finite and >= 0
const wchar_t* CheckOnDelay(double ms) noexcept;         // whole, >= 0 and <= 86,400,000 (a day)
// A name or a unit: up to kMaxNameLength characters, so that a column, a legend or a document stays
// within bounds whatever a caller or a file hands over.
inline constexpr size_t kMaxNameLength = 255;
const wchar_t* CheckName(const std::wstring& text) noexcept;
// The order of the limits that are set: lowLow <= low <= high <= highHigh (equal is taken).
const wchar_t* CheckLimitOrder(const ChannelRules& rules) noexcept;
// Every check above, for a whole channel (names and units take any text).
const wchar_t* CheckRules(const ChannelRules& rules) noexcept;

// Gain and offset through two (raw, value) points; the text of the refusal when the raws are equal,
// a number is not finite, or the result's gain is 0 or not finite; nothing changes then.
const wchar_t* TwoPointScale(double raw1, double value1, double raw2, double value2, double* gain,
                             double* offset) noexcept;

// The offset that makes a channel whose raw values average meanRaw read 0.
inline double ZeroOffset(double gain, double meanRaw) noexcept { return -gain * meanRaw; }

// One channel's alarm state. Judge is called once per cycle with that cycle's scaled value and a
// millisecond time that never goes back; Acknowledge by the same owner. Not thread-safe.
class AlarmTracker {
public:
    // Judges one value; true when the shown level changed (then Shown() is the new one).
    bool Judge(const ChannelRules& rules, double value, uint64_t nowMs) noexcept;
    // Drops a latched level to the active one; true when the shown level changed.
    bool Acknowledge() noexcept;
    // Forgets everything: normal, no latch, no delay under way (a new run, new rules).
    void Reset() noexcept;

    AlarmLevel Shown() const noexcept { return shown_; }
    AlarmLevel Active() const noexcept { return active_; }

private:
    AlarmLevel active_ = AlarmLevel::kNormal;
    AlarmLevel shown_ = AlarmLevel::kNormal;
    // Since when the value has been beyond each limit, in order highHigh, high, low, lowLow; valid
    // while the matching flag is set.
    uint64_t beyondSince_[4] = {};
    bool beyond_[4] = {};
    // Whether each level is raised (then held by the deadband), and since when.
    bool raised_[4] = {};
    uint64_t raisedAt_[4] = {};
};

}  // namespace engine
