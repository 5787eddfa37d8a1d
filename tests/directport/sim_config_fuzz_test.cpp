// The simulated boards' description on random text. The generator writes each board from the
// grammar, valid or with one kind of fault, and knows what it wrote: a valid text must parse to
// exactly those boards, any other text must be refused. A few malformed values also go through the
// environment at load, where they must give one line of complaint and the default boards.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "directport/sim_config.h"
#include "harness/child_process.h"
#include "tests/support/fuzz_support.h"

using directport::BoardConfig;
using directport::BoardMode;
using testsupport::FuzzRandom;

namespace {

std::string Blanks(FuzzRandom& r) {
    static const char* const kBlanks[] = {"", "", "", " ", "\t", "  \t"};
    return r.Pick(kBlanks);
}

std::string Number(FuzzRandom& r, uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, r.OneIn(2) ? "%lu" : (r.OneIn(2) ? "0x%lX" : "0x%lx"),
                  static_cast<unsigned long>(value));
    return text;
}

// A number token that the parser must refuse for a field that holds at most max.
std::string BadNumber(FuzzRandom& r, uint64_t max) {
    static const char* const kBad[] = {"",   "-5",   "0x",           "12a", "1 2",
                                       "+3", "0x1G", "\xEF\xBC\x91", "1.5", "x10"};
    if (r.OneIn(3)) return std::to_string(max + 1 + r.Below(1000));
    return r.Pick(kBad);
}

struct Written {
    std::string text;
    bool valid = true;
    std::vector<BoardConfig> boards;
};

void WriteBoard(FuzzRandom& r, Written* w) {
    BoardConfig board;
    const bool faulty = r.OneIn(6);
    const int fault = faulty ? static_cast<int>(r.Below(7)) : -1;
    bool faultWritten = fault >= 0 && fault <= 2;  // the others need a words list or an option
    std::string text = Blanks(r);
    board.address = r.OneIn(2) ? 356 + r.Below(64) : r.Next();
    text += fault == 0 ? BadNumber(r, 0xFFFFFFFFu) : Number(r, board.address);
    text += Blanks(r) + (fault == 1 ? (r.OneIn(2) ? "" : ";") : ":") + Blanks(r);
    switch (fault == 2 ? 3 : r.Below(3)) {
        case 0:
            board.mode = BoardMode::kWave;
            text += "wave";
            break;
        case 1:
            board.mode = BoardMode::kBusy;
            text += "busy";
            break;
        case 2: {
            board.mode = BoardMode::kWords;
            text += "words=";
            const int count = fault == 3 ? (r.OneIn(2) ? 7 : 9) : 8;
            faultWritten = faultWritten || fault == 3 || fault == 4;
            for (int k = 0; k < count; ++k) {
                board.words[k % 8] = static_cast<uint16_t>(r.Next());
                if (k) text += "/";
                text += Blanks(r) +
                        (fault == 4 && k == 5 ? BadNumber(r, 0xFFFF) : Number(r, board.words[k % 8])) +
                        Blanks(r);
            }
            break;
        }
        default: {
            static const char* const kModes[] = {"sine", "Wave", "words", "words =1", "", "busy busy"};
            text += r.Pick(kModes);
            break;
        }
    }
    const UINT options = r.Below(3);
    for (UINT i = 0; i < options; ++i) {
        board.stall = static_cast<int>(r.Below(40));
        text += Blanks(r) + "," + Blanks(r);
        faultWritten = faultWritten || fault == 5 || fault == 6;
        if (fault == 5 && i == 0) {
            static const char* const kOptions[] = {"stall", "stall=", "speed=3", "stall =3", ""};
            text += r.Pick(kOptions);
        } else {
            text += "stall=" +
                    (fault == 6 ? BadNumber(r, 0x7FFFFFFF) : Number(r, static_cast<uint32_t>(board.stall)));
        }
    }
    w->text += text + Blanks(r);
    if (faultWritten) w->valid = false;
    w->boards.push_back(board);
}

Written WriteConfig(FuzzRandom& r) {
    Written w;
    const UINT boards = r.Below(4);
    if (boards == 0) {
        w.text = Blanks(r);
        return w;
    }
    for (UINT b = 0; b < boards; ++b) {
        if (b) w.text += ";";
        WriteBoard(r, &w);
    }
    if (r.OneIn(20)) {
        w.text += r.OneIn(2) ? ";" : ";;";  // an empty board
        w.valid = false;
    }
    return w;
}

bool SameBoards(const std::vector<BoardConfig>& a, const std::vector<BoardConfig>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].address != b[i].address || a[i].mode != b[i].mode || a[i].stall != b[i].stall) return false;
        for (int k = 0; k < 8 && a[i].mode == BoardMode::kWords; ++k) {
            if (a[i].words[k] != b[i].words[k]) return false;
        }
    }
    return true;
}

}  // namespace

TEST(SimConfigFuzz, ParsesWhatTheGrammarAllowsAndRefusesTheRest) {
    testsupport::FuzzRun run(5, "CONFIGS", 50000);
    uint64_t accepted = 0;
    for (uint64_t n = 0; run.More(n); ++n) {
        const Written w = WriteConfig(run.random);
        const auto parsed = directport::ParseConfig(w.text);
        const bool ok = w.valid ? parsed && SameBoards(*parsed, w.boards) : !parsed;
        accepted += parsed.has_value();
        if (!ok) {
            run.Failed();
            ADD_FAILURE() << "\"" << w.text << "\": written as " << (w.valid ? "valid" : "invalid") << ", "
                          << (parsed ? "parsed to " + std::to_string(parsed->size()) + " boards" : "refused");
        }
    }
    run.Summary("Board settings", "texts", {{"accepted", accepted}});
    EXPECT_GT(accepted, run.count / 4);
    EXPECT_LT(accepted, run.count - run.count / 20);
}

TEST(SimConfigFuzz, MalformedEnvironmentValuesGiveOneLineAndTheDefaults) {
    FuzzRandom r(testsupport::FuzzSetting("SEED", 20261208) + 6);
    std::vector<std::string> values = {"356:wave\n370:busy", "356:sine\r\nDirectPort: all fine",
                                       "\x01\x02\x7F", std::string(5000, 'x')};
    while (values.size() < 8) {
        std::string text;
        for (UINT i = 0, n = 1 + r.Below(40); i < n; ++i) text += static_cast<char>(1 + r.Below(255));
        if (directport::ParseConfig(text)) continue;
        values.push_back(text);
    }
    for (const std::string& value : values) {
        const auto child = harness::RunSelf("--child-read", "DIRECTPORT_SIM", value.c_str());
        ASSERT_EQ(0u, child.exitCode) << child.out;
        EXPECT_NE(std::string::npos, child.out.find("356=254 370=254 512=255")) << child.out;
        // The reading line and one line of complaint that names the fallback.
        size_t lines = 0;
        for (char c : child.out) lines += c == '\n';
        EXPECT_EQ(2u, lines) << child.out;
        EXPECT_NE(std::string::npos, child.out.find("; using \"356:wave;370:wave\"")) << child.out;
        for (char c : child.out) {
            EXPECT_TRUE(static_cast<unsigned char>(c) >= 32 || c == '\r' || c == '\n') << child.out;
        }
    }
}
