// Pure arithmetic of the acquisition engine: tick differences, the staleness limit, port numbers
// and the decoding of the board's sign-and-magnitude words. No state, callable from any thread.
#pragma once

#include <cstdint>

namespace engine {

// The value GetChnlValue hands out when an index is invalid or the readings are stale.
inline constexpr int16_t kNoValue = 32767;

// Elapsed milliseconds from an earlier tick reading to a later one. When the counter wrapped in
// between, the engine counts (0xFFFFFFFF - earlier) + later, one less than the modular difference.
constexpr uint32_t TickDiff(uint32_t earlier, uint32_t now) noexcept {
    return now >= earlier ? now - earlier : (0xFFFFFFFFu - earlier) + now;
}

// Age beyond which published readings are stale: Interval x 30 + 50 ms, wrapping in 32 bits for
// very large intervals.
constexpr uint32_t StalenessLimit(uint32_t interval) noexcept { return interval * 30u + 50u; }

// The board's data port sits two above its status port (wrapping, never signed overflow).
constexpr int32_t DataPort(int32_t statusPort) noexcept {
    return static_cast<int32_t>(static_cast<uint32_t>(statusPort) + 2u);
}

// Channel k's raw word from one cycle: the first byte read is the low byte.
constexpr uint16_t RawWord(uint8_t low, uint8_t high) noexcept {
    return static_cast<uint16_t>(low | (high << 8));
}

// Sign and magnitude to a signed value: bit 15 the sign, bits 0-14 the magnitude.
constexpr int16_t DecodeChannelWord(uint16_t raw) noexcept {
    const int16_t magnitude = static_cast<int16_t>(raw & 0x7FFF);
    return (raw & 0x8000) ? static_cast<int16_t>(-magnitude) : magnitude;
}

}  // namespace engine
