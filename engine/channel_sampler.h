// CChannelSampler: the acquisition engine of one control instance.
//
// Owned by value by its control. The host's thread calls every public operation; Start gives the
// sampler a sampling thread that reads the board through DP_InpB once per Interval and publishes
// complete sets of readings. The published values and their time stamp are the only state both
// threads touch: the sampling thread stores them (values first, then the tick, with release
// order), GetChnlValue loads them, each 16-bit slot whole, without a lock. The settings are atomics
// as well, so a setter called while the thread runs is no data race; the control itself changes
// them only while the sampler is stopped.
//
// The sampler owns its thread, its stop event and its handle to the machine-wide port lock event.
// Its thread is never ended forcibly: every place where it can block or spin also watches the stop
// request, so Stop returns as soon as the thread has closed its cycle. A sampler whose stop event
// could not be created reports it through SetupResult and never starts; its owner should not keep it.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "base/unique_handle.h"

class CChannelSampler {
public:
    // Source of the millisecond tick counter; tests substitute their own clock.
    using TickSource = DWORD(WINAPI*)();
    // Creates the stop event (CreateEventA's contract); tests substitute one that fails.
    using EventCreator = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR);
    // The sampling thread's pause between cycles, a wait on the stop event (WaitForSingleObject's
    // contract); tests substitute one that notes the pause asked for.
    using PauseWait = DWORD(WINAPI*)(HANDLE, DWORD);

    explicit CChannelSampler(TickSource tickSource = ::GetTickCount,
                             EventCreator createEvent = ::CreateEventA,
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

    // S_OK, or the error that kept the constructor from creating the stop event.
    HRESULT SetupResult() const noexcept { return setupResult_; }

    // Opens the port lock and creates the sampling thread; FALSE when running, when the set-up
    // failed, or on failure.
    BOOL Start() noexcept;
    // Ends the sampling thread and gives up the port lock handle; a no-op on an idle sampler apart
    // from closing a port lock handle that a failed Start left open.
    void Stop() noexcept;

    // The latest reading of channel nChnlIndex, or 32767 for a bad index or stale readings.
    SHORT GetChnlValue(LONG nChnlIndex) const noexcept;

    DWORD GetThreadId() const noexcept { return ThreadId; }

private:
    static DWORD WINAPI ThreadEntry(LPVOID param) noexcept;
    void SampleLoop() noexcept;
    // Reads one cycle's bytes into buffer within the budget; returns how many bytes arrived.
    int ReadCycle(uint8_t (&buffer)[16]) noexcept;
    // Polls the status port until two successive reads show ready; false when the cycle's budget is
    // spent or a stop was requested first.
    bool WaitReady(DWORD cycleStart) noexcept;
    void Publish(const uint8_t (&buffer)[16]) noexcept;

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
    const PauseWait pauseWait_;
    HRESULT setupResult_ = S_OK;
    // Set by Stop before it signals StopEvent; lets the status poll see the request without a
    // kernel call per poll.
    std::atomic<bool> stopRequested_{false};
};
