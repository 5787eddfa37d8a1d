// Description of the simulated boards and its parser (the DIRECTPORT_SIM syntax):
//   boards  := board { ";" board }          (an empty text means no boards at all)
//   board   := address ":" mode { "," option }
//   address := decimal | "0x" hex
//   mode    := "wave" | "busy" | "count" | "words=" w "/" w "/" ... (eight words, decimal or 0x hex)
//   option  := "stall=" count               (ready for the first count data bytes of a frame)
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace directport {

enum class BoardMode { kWave, kWords, kBusy, kCount };

struct BoardConfig {
    uint32_t address = 0;
    BoardMode mode = BoardMode::kWave;
    uint16_t words[8] = {};
    int stall = -1;  // -1: never stalls
};

inline constexpr std::string_view kDefaultConfig = "356:wave;370:wave";

// Parses a description; nullopt when it is malformed.
std::optional<std::vector<BoardConfig>> ParseConfig(std::string_view text);

// The raw 16-bit word of channel in wave mode at time ms: sign and magnitude, bit 15 the sign.
uint16_t WaveWord(int channel, uint64_t ms);

// Every word of a count board's frame: the frame's number (from 1) modulo 32768, sign bit clear.
uint16_t CountWord(uint64_t frame);

// A signed value from -32767 to 32767 as a sign-and-magnitude word.
uint16_t EncodeSignMagnitude(int value);

}  // namespace directport
