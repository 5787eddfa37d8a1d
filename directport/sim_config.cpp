#include "directport/sim_config.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "base/text.h"

namespace directport {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// A whole token as an unsigned number, decimal or 0x hex, no larger than max.
std::optional<uint32_t> ParseNumber(std::string_view s, uint32_t max) {
    return base::ParseWholeNumber(Trim(s), max);
}

std::vector<std::string_view> Split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    for (;;) {
        const size_t at = s.find(sep);
        parts.push_back(s.substr(0, at));
        if (at == std::string_view::npos) return parts;
        s.remove_prefix(at + 1);
    }
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

std::optional<BoardConfig> ParseBoard(std::string_view text) {
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    BoardConfig board;
    const auto address = ParseNumber(text.substr(0, colon), 0xFFFFFFFFu);
    if (!address) return std::nullopt;
    board.address = *address;

    const auto fields = Split(text.substr(colon + 1), ',');
    const std::string_view mode = Trim(fields[0]);
    if (mode == "wave") {
        board.mode = BoardMode::kWave;
    } else if (mode == "busy") {
        board.mode = BoardMode::kBusy;
    } else if (mode == "count") {
        board.mode = BoardMode::kCount;
    } else if (StartsWith(mode, "words=")) {
        board.mode = BoardMode::kWords;
        const auto words = Split(mode.substr(6), '/');
        if (words.size() != 8) return std::nullopt;
        for (size_t k = 0; k < 8; ++k) {
            const auto w = ParseNumber(words[k], 0xFFFF);
            if (!w) return std::nullopt;
            board.words[k] = static_cast<uint16_t>(*w);
        }
    } else {
        return std::nullopt;
    }
    for (size_t i = 1; i < fields.size(); ++i) {
        const std::string_view option = Trim(fields[i]);
        if (!StartsWith(option, "stall=")) return std::nullopt;
        const auto n = ParseNumber(option.substr(6), 0x7FFFFFFF);
        if (!n) return std::nullopt;
        board.stall = static_cast<int>(*n);
    }
    return board;
}

}  // namespace

std::optional<std::vector<BoardConfig>> ParseConfig(std::string_view text) {
    std::vector<BoardConfig> boards;
    if (Trim(text).empty()) return boards;
    for (std::string_view part : Split(text, ';')) {
        auto board = ParseBoard(Trim(part));
        if (!board) return std::nullopt;
        boards.push_back(*board);
    }
    return boards;
}

uint16_t EncodeSignMagnitude(int value) {
    if (value > 32767) value = 32767;
    if (value < -32767) value = -32767;
    return value < 0 ? static_cast<uint16_t>(0x8000 | -value) : static_cast<uint16_t>(value);
}

uint16_t CountWord(uint64_t frame) { return static_cast<uint16_t>(frame & 0x7FFF); }

uint16_t WaveWord(int channel, uint64_t ms) {
    // Each channel its own shape and period (4 to 11 s), all swinging over the full signed range.
    constexpr double kPi = 3.14159265358979323846;
    const double period = 4000.0 + 1000.0 * channel;
    const double phase = std::fmod(static_cast<double>(ms) / period + channel / 8.0, 1.0);
    double unit;  // -1 .. 1
    switch (channel % 4) {
        case 0: unit = std::sin(2 * kPi * phase); break;
        case 1: unit = phase < 0.5 ? 4 * phase - 1 : 3 - 4 * phase; break;  // triangle
        case 2: unit = 2 * phase - 1; break;                                // sawtooth
        default: unit = std::sin(2 * kPi * phase) * std::cos(6 * kPi * phase); break;
    }
    return EncodeSignMagnitude(static_cast<int>(std::lround(unit * 32767.0)));
}

}  // namespace directport
