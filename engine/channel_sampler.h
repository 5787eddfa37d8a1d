// CChannelSampler: the acquisition engine of one control instance.
//
// Owned by value by its control. The host's thread calls every public operation; Start gives the
// sampler a sampling thread that reads the board through DP_InpB once per Interval and publishes
// complete sets of readings. The published values and their time stamp are shared without a lock:
// the sampling thread stores them (values first, then the tick, with release order), GetChnlValue
// loads them, each 16-bit slot whole. The settings are atomics as well, so a setter called while
// the thread runs is no data race; the control itself changes them only while the sampler is
// stopped.
//
// Every complete cycle also gets a number (from 1 since Start) and a time and goes into a ring of
// the last cycles (engine/cycle_ring.h), where the host reads the newest cycle or drains them all,
// whole; the ring's slots are the only other state the threads share, with the status and the last
// error (engine/sampler_status.h), which are atomics. An observer hears of cycles and status
// changes. Status, LastError and CycleCount may be read from any thread.
//
// The sampler owns its thread, its stop event, its handle to the machine-wide port lock event and
// its cycle buffers. Its thread is never ended forcibly: every place where it can block or spin also
// watches the stop request, so Stop returns as soon as the thread has closed its cycle. A sampler
// whose stop event or first cycle buffer could not be created reports it through SetupResult and
// never starts; its owner should not keep it.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "base/unique_handle.h"
#include "engine/cycle_clock.h"
#include "engine/cycle_ring.h"
#include "engine/sampler_status.h"

class CChannelSampler {
public:
    // Source of the millisecond tick counter; tests substitute their own clock.
    using TickSource = DWORD(WINAPI*)();
    // Creates the stop event (CreateEventA's contract); tests substitute one that fails.
    using EventCreator = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR);
    // Creates the sampling thread (CreateThread's contract); tests substitute one that fails.
    using ThreadCreator = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID,
                                          DWORD, LPDWORD);
    // The sampling thread's pause between cycles, a wait on the stop event (WaitForSingleObject's
    // contract); tests substitute one that notes the pause asked for.
    using PauseWait = DWORD(WINAPI*)(HANDLE, DWORD);

    explicit CChannelSampler(TickSource tickSource = ::GetTickCount,
                             EventCreator createEvent = ::CreateEventA,
                             ThreadCreator createThread = ::CreateThread,
                             PauseWait pauseWait = ::WaitForSingleObject) noexcept;
    virtual ~CChannelSampler();

    CChannelSampler(const CChannelSampler&) = delete;
    CChannelSampler& operator=(const CChannelSampler&) = delete;

    LONG GetInterval() const noexcept { return Interval.load(std::memory_order_relaxed); }
    void SetInterval(LONG value) noexcept { Interval.store(value, std::memory_order_relaxed); }
    LONG GetAddress() const noexcept { return Address.load(std::memory_order_relaxed); }
    void SetAddress(LONG value) noexcept { Address.store(value, std::memory_order_relaxed); }
    LONG GetChannelNumber() const noexcept { return ChannelNumber.load(std::memory_order_relaxed); }
    // Only 1, 4 and 8 are taken; anything else is silently ignored.
    void SetChannelNumber(LONG value) noexcept;

    // TRUE while a thread handle is held, also when the thread has already ended on its own.
    BOOL IsRunning() const noexcept { return ThreadHandle.valid() ? TRUE : FALSE; }

    // S_OK, or the error that kept the constructor from creating the stop event or the first cycle
    // buffer.
    HRESULT SetupResult() const noexcept { return setupResult_; }

    // Opens the port lock and creates the sampling thread; FALSE when running, when the set-up
    // failed, or on failure. Each refusal sets LastError: engine::kErrorAlreadyRunning (the status
    // stays), engine::kErrorSetupFailed, or the Win32 error of the port lock event or of the thread
    // (the status becomes kStartFailed). Success sets LastError to S_OK, the status to
    // kWaitingForFirstCycle, forgets the cycles of the run before and numbers cycles from 1 again.
    BOOL Start() noexcept;
    // Ends the sampling thread and gives up the port lock handle; otherwise a no-op on an idle
    // sampler apart from closing a port lock handle that a failed Start left open. The status
    // becomes kStopped; the cycles of the run stay readable.
    void Stop() noexcept;

    // The latest reading of channel nChnlIndex, or 32767 for a bad index or stale readings.
    SHORT GetChnlValue(LONG nChnlIndex) const noexcept;

    DWORD GetThreadId() const noexcept { return ThreadId; }

    // What the sampler is doing, and the last error that Start or a failed cycle attempt set. A
    // failed attempt sets both; the next complete cycle sets the status back to kSampling and
    // leaves the error. Any thread; the error matches a status read before it.
    engine::SamplerStatus Status() const noexcept { return status_.load(std::memory_order_acquire); }
    HRESULT LastError() const noexcept { return lastError_.load(std::memory_order_relaxed); }

    // Complete cycles since Start: the number of the newest one, 0 for none. Any thread.
    uint64_t CycleCount() const noexcept { return ring_.Newest(); }
    // Milliseconds since the newest cycle of this run was published, on the clock that decides
    // staleness for GetChnlValue; -1 when there is none.
    LONG NewestCycleAgeMs() const noexcept;
    // Copies the newest cycle of this run; false when there is none.
    bool ReadNewestCycle(engine::Cycle& out) noexcept { return ring_.ReadNewest(out); }
    // Copies up to max unread cycles oldest-first and returns how many; lost receives how many
    // cycles were overwritten unread since the last drain, all older than out[0]. The cycles stay
    // readable after Stop, until the next successful Start.
    size_t DrainCycles(engine::Cycle* out, size_t max, uint64_t& lost) noexcept {
        return ring_.Drain(out, max, lost);
    }
    // How many cycles a drain could return now (more may arrive meanwhile).
    size_t UnreadCycles() noexcept { return ring_.Unread(); }

    // The ring's capacity in cycles, kMinBufferCycles to kMaxBufferCycles, kDefaultBufferCycles at
    // first: E_INVALIDARG outside, E_OUTOFMEMORY, and the capacity stays. Allocates here; a running
    // sampler switches with its next cycle, keeping the newest cycles that fit (any unread cycles
    // that do not are counted as lost).
    LONG GetBufferSize() const noexcept { return static_cast<LONG>(ring_.Capacity()); }
    HRESULT SetBufferSize(LONG cycles) noexcept;

    // Sets the observer (null for none); HRESULT_FROM_WIN32(ERROR_INVALID_STATE) while a thread
    // handle is held. The observer must outlive the sampler's running: stop or destroy the sampler
    // before it goes. Destruction tells it nothing.
    HRESULT SetObserver(engine::SamplerObserver* observer) noexcept;

private:
    static DWORD WINAPI ThreadEntry(LPVOID param) noexcept;
    void SampleLoop() noexcept;
    // Reads one cycle's bytes into buffer within the budget; returns how many bytes arrived.
    int ReadCycle(uint8_t (&buffer)[16]) noexcept;
    // Polls the status port until two successive reads show ready; false when the cycle's budget is
    // spent or a stop was requested first.
    bool WaitReady(DWORD cycleStart) noexcept;
    void Publish(const uint8_t (&buffer)[16], LONG channels) noexcept;
    void ReportFailedCycle(int bytes, bool tookLock) noexcept;
    // Ends the thread and gives up the port lock handle; the status is left to the caller.
    void EndThread() noexcept;
    BOOL FailStart(HRESULT error) noexcept;
    void SetStatus(engine::SamplerStatus status) noexcept;

    std::atomic<int16_t> Values[8];
    std::atomic<LONG> Interval;
    std::atomic<LONG> Address;
    std::atomic<LONG> ChannelNumber;
    std::atomic<DWORD> LastUpdateTick;
    base::UniqueThread ThreadHandle;
    DWORD ThreadId;
    base::UniqueEvent StopEvent;
    base::UniqueEvent PortLockEvent;

    const TickSource tick_;
    const ThreadCreator createThread_;
    const PauseWait pauseWait_;
    HRESULT setupResult_ = S_OK;
    engine::CycleRing ring_;
    // Started by Start, then read and rebased by the sampling thread alone.
    engine::CycleClock clock_;
    std::atomic<engine::SamplerStatus> status_{engine::SamplerStatus::kStopped};
    std::atomic<HRESULT> lastError_{S_OK};
    // Changed only while no thread runs.
    engine::SamplerObserver* observer_ = nullptr;
    // Set by Stop before it signals StopEvent; lets the status poll see the request without a
    // kernel call per poll.
    std::atomic<bool> stopRequested_{false};
};
