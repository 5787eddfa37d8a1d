// The simulated boards behind DP_InpB. One process-wide board set guarded by one SRW lock; a read
// holds it only for the few instructions of one answer.
#define DIRECTPORT_BUILD
#include "directport/directport.h"

#include <cstdio>
#include <deque>
#include <new>
#include <string>
#include <vector>

#include "base/locks.h"
#include "base/runtime.h"
#include "base/text.h"
#include "directport/sim_config.h"

namespace {

using directport::BoardConfig;
using directport::BoardMode;

constexpr BYTE kReady = 0xFE;  // bit 0 clear; the other bits set to show they are not looked at
constexpr BYTE kBusy = 0x01;
constexpr BYTE kFloating = 0xFF;  // no board: the bus floats high
constexpr int kFrameBytes = 16;
constexpr uint64_t kNewCycleGapMs = 10;

struct Board {
    BoardConfig config;
    std::deque<BYTE> script;  // status bytes queued by a test
    BYTE frame[kFrameBytes] = {};
    int position = kFrameBytes;  // next byte of frame; kFrameBytes: a new frame begins
    uint64_t frames = 0;         // frames begun since the board was configured
    uint64_t lastAccessUs = 0;   // last read of either port
    DWORD lastReader = 0;
};

SRWLOCK g_lock = SRWLOCK_INIT;
std::vector<Board> g_boards;
std::vector<BoardConfig> g_loadConfig;  // what DPSIM_Reset goes back to
std::vector<DPSIM_ACCESS> g_log;
size_t g_logCapacity = 0;
LONGLONG g_readCount = 0;
LARGE_INTEGER g_qpcFrequency;

uint64_t NowUs() noexcept {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart / g_qpcFrequency.QuadPart) * 1000000u +
           static_cast<uint64_t>(now.QuadPart % g_qpcFrequency.QuadPart) * 1000000u /
               static_cast<uint64_t>(g_qpcFrequency.QuadPart);
}

// All or nothing: the boards stay as they were when memory runs out.
void UseBoards(const std::vector<BoardConfig>& configs) {
    std::vector<Board> boards(configs.size());
    for (size_t i = 0; i < configs.size(); ++i) boards[i].config = configs[i];
    g_boards.swap(boards);
}

void Complain(const char* text) noexcept {
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
    ::OutputDebugStringA(text);
    ::OutputDebugStringA("\n");
}

// Reads DIRECTPORT_SIM once, at load; a malformed value is reported and the defaults apply.
void LoadEnvironmentConfig() {
    char buffer[4096];
    const DWORD n = ::GetEnvironmentVariableA("DIRECTPORT_SIM", buffer, sizeof buffer);
    std::string_view text = directport::kDefaultConfig;
    if (n > 0 && n < sizeof buffer) {
        text = std::string_view(buffer, n);
    } else if (n >= sizeof buffer) {
        Complain(("DirectPort: DIRECTPORT_SIM is too long; using \"" +
                  std::string(directport::kDefaultConfig) + "\"")
                     .c_str());
    }
    auto parsed = directport::ParseConfig(text);
    if (!parsed) {
        Complain(("DirectPort: malformed DIRECTPORT_SIM \"" + base::PrintableAscii(text) + "\"; using \"" +
                  std::string(directport::kDefaultConfig) + "\"")
                     .c_str());
        parsed = directport::ParseConfig(directport::kDefaultConfig);
    }
    g_loadConfig = *parsed;
    UseBoards(g_loadConfig);
}

// A new frame begins after 16 bytes, when the board was left alone for 10 ms (a sampler polls
// without pausing within a cycle, so only a new cycle leaves such a gap), and when another thread
// reads (another sampler's cycle).
bool StartsNewFrame(const Board& b, uint64_t nowUs, DWORD reader) noexcept {
    return b.position >= kFrameBytes || nowUs - b.lastAccessUs >= kNewCycleGapMs * 1000 ||
           reader != b.lastReader;
}

uint16_t FrameWord(const Board& b, int channel, uint64_t nowUs) noexcept {
    switch (b.config.mode) {
        case BoardMode::kWave: return directport::WaveWord(channel, nowUs / 1000);
        case BoardMode::kCount: return directport::CountWord(b.frames);
        default: return b.config.words[channel];
    }
}

void FillFrame(Board& b, uint64_t nowUs) noexcept {
    ++b.frames;
    for (int k = 0; k < 8; ++k) {
        const uint16_t word = FrameWord(b, k, nowUs);
        b.frame[2 * k] = static_cast<BYTE>(word & 0xFF);
        b.frame[2 * k + 1] = static_cast<BYTE>(word >> 8);
    }
}

BYTE StatusAnswer(Board& b, uint64_t nowUs, DWORD reader) noexcept {
    if (!b.script.empty()) {
        const BYTE s = b.script.front();
        b.script.pop_front();
        return s;
    }
    if (b.config.mode == BoardMode::kBusy) return kBusy;
    if (b.config.stall >= 0) {
        const int next = StartsNewFrame(b, nowUs, reader) ? 0 : b.position;
        if (next >= b.config.stall) return kBusy;
    }
    return kReady;
}

BYTE ReadStatus(Board& b, uint64_t nowUs, DWORD reader) noexcept {
    const BYTE status = StatusAnswer(b, nowUs, reader);
    if (StartsNewFrame(b, nowUs, reader)) b.position = kFrameBytes;
    b.lastAccessUs = nowUs;
    b.lastReader = reader;
    return status;
}

BYTE ReadData(Board& b, uint64_t nowUs, DWORD reader) noexcept {
    if (StartsNewFrame(b, nowUs, reader)) {
        b.position = 0;
        FillFrame(b, nowUs);
    }
    b.lastAccessUs = nowUs;
    b.lastReader = reader;
    return b.frame[b.position++];
}

BYTE Answer(uint32_t port, uint64_t nowUs, DWORD reader) noexcept {
    for (Board& b : g_boards) {
        if (port == b.config.address) return ReadStatus(b, nowUs, reader);
    }
    for (Board& b : g_boards) {
        if (port == b.config.address + 2u) return ReadData(b, nowUs, reader);
    }
    return kFloating;
}

}  // namespace

INT WINAPI DP_InpB(INT nPort) noexcept {
    const DWORD reader = ::GetCurrentThreadId();
    base::SrwExclusiveLock lock(g_lock);
    const uint64_t nowUs = NowUs();
    const BYTE value = Answer(static_cast<uint32_t>(nPort), nowUs, reader);
    ++g_readCount;
    if (g_log.size() < g_logCapacity) {  // within what DPSIM_StartLog reserved: no allocation
        g_log.push_back({reader, ::GetTickCount(), static_cast<LONGLONG>(nowUs), nPort, value});
    }
    return value;
}

void DPSIM_Reset(void) noexcept {
    base::SrwExclusiveLock lock(g_lock);
    try {
        UseBoards(g_loadConfig);
    } catch (const std::bad_alloc&) {
        Complain("DirectPort: DPSIM_Reset: out of memory; the boards stay as they were");
    }
    g_log.clear();
    g_log.shrink_to_fit();
    g_logCapacity = 0;
    g_readCount = 0;
}

int DPSIM_Configure(const char* config) noexcept try {
    if (!config) return 0;
    const auto parsed = directport::ParseConfig(config);
    if (!parsed) return 0;
    base::SrwExclusiveLock lock(g_lock);
    UseBoards(*parsed);
    return 1;
} catch (const std::bad_alloc&) {
    return 0;
}

int DPSIM_ScriptStatus(LONG address, const BYTE* bytes, int count) noexcept try {
    if (count < 0 || (count > 0 && !bytes)) return 0;
    base::SrwExclusiveLock lock(g_lock);
    for (Board& b : g_boards) {
        if (b.config.address == static_cast<uint32_t>(address)) {
            b.script.insert(b.script.end(), bytes, bytes + count);
            return 1;
        }
    }
    return 0;
} catch (const std::bad_alloc&) {
    return 0;
}

void DPSIM_StartLog(int capacity) noexcept {
    base::SrwExclusiveLock lock(g_lock);
    g_log.clear();
    g_logCapacity = 0;
    try {
        g_log.reserve(capacity > 0 ? static_cast<size_t>(capacity) : 0);
        g_logCapacity = capacity > 0 ? static_cast<size_t>(capacity) : 0;
    } catch (const std::bad_alloc&) {
        Complain("DirectPort: DPSIM_StartLog: no memory for the log; not recording");
    }
}

int DPSIM_ReadLog(DPSIM_ACCESS* out, int max) noexcept {
    base::SrwExclusiveLock lock(g_lock);
    if (!out) return static_cast<int>(g_log.size());
    if (max <= 0) return 0;
    const size_t n = g_log.size() < static_cast<size_t>(max) ? g_log.size() : static_cast<size_t>(max);
    for (size_t i = 0; i < n; ++i) out[i] = g_log[i];
    return static_cast<int>(n);
}

LONGLONG DPSIM_ReadCount(void) noexcept {
    base::SrwExclusiveLock lock(g_lock);
    return g_readCount;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) noexcept {
    if (reason == DLL_PROCESS_ATTACH) {
        ::QueryPerformanceFrequency(&g_qpcFrequency);
        try {
            LoadEnvironmentConfig();
        } catch (...) {
            return FALSE;
        }
        base::KeepModuleLoadedWhereUnloadingLeaks(instance);
    }
    // reserved is null when the library is freed from a live process.
    if (reason == DLL_PROCESS_DETACH && !reserved) base::ReleaseRuntimeReserve();
    return TRUE;
}
