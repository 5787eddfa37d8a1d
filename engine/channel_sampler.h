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
// whole; the ring also keeps the run's totals of cycles delivered and lost. The status and the last
// error are one atomic pair; every change of the status also goes into a StatusLog
// (engine/status_log.h) for the host to take in order. An observer hears that there is news. The
// run's health (rate, longest gap, failed attempts) is kept by the sampling thread in atomics. Each
// cycle is also scaled and judged against the channels' limits before it is published
// (engine/measurements.h), so an alarm change is queued before the host can hear of its cycle.
// Status, LastError, CycleCount and the health figures may be read from any thread.
//
// The pause between cycles is the best wait the system offers (engine/cycle_pause.h): a
// high-resolution timer where Windows has one, else, while a run's Interval is below
// kFineTimerBelowMs, a wait with 1 ms timer resolution asked for (Windows otherwise stretches a short
// pause to its 15.6 ms clock tick), given back when the Interval grows or the run ends. Precise
// timing, an atomic setting the thread reads before each pause, spins the end of short pauses.
//
// The sampler owns its thread, its stop event, its handle to the machine-wide port lock event and
// its cycle buffers. Its thread is never ended forcibly: every place where it can block or spin also
// watches the stop request, so Stop returns as soon as the thread has closed its cycle. A sampler
// whose stop event or first cycle buffer could not be created reports it through SetupResult and
// never starts; its owner should not keep it.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdint>

#include "base/unique_handle.h"
#include "engine/cycle_clock.h"
#include "engine/cycle_pause.h"
#include "engine/cycle_queue.h"
#include "engine/cycle_ring.h"
#include "engine/measurements.h"
#include "engine/run_health.h"
#include "engine/sampler_platform.h"
#include "engine/sampler_status.h"
#include "engine/status_log.h"
#include "engine/timer_period.h"

class CChannelSampler {
public:
    using Platform = engine::SamplerPlatform;

    // Below this Interval a run asks for 1 ms timer resolution, and precise timing applies.
    static constexpr DWORD kFineTimerBelowMs = engine::CyclePause::kFineTimerBelowMs;

    explicit CChannelSampler(const Platform& platform = Platform()) noexcept;
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
    // Whether short pauses are kept exact by a spin (engine/cycle_pause.h); off at first. A running
    // sampler takes a change before its next pause. Any thread.
    bool PreciseTiming() const noexcept { return precise_.load(std::memory_order_relaxed); }
    void SetPreciseTiming(bool precise) noexcept { precise_.store(precise, std::memory_order_relaxed); }

    // TRUE while a thread handle is held, also when the thread has already ended on its own.
    BOOL IsRunning() const noexcept { return ThreadHandle.valid() ? TRUE : FALSE; }

    // S_OK, or the error that kept the constructor from creating the stop event or the first cycle
    // buffer.
    [[nodiscard]] HRESULT SetupResult() const noexcept { return setupResult_; }

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
    // leaves the error. Report gives both of one moment. Any thread.
    engine::StatusReport Report() const noexcept;
    engine::SamplerStatus Status() const noexcept { return Report().status; }
    [[nodiscard]] HRESULT LastError() const noexcept { return Report().error; }
    // The status changes not yet forgotten, oldest first (see engine/status_log.h). Any thread.
    const engine::StatusLog& StatusChanges() const noexcept { return statusLog_; }
    void ForgetStatusChanges(uint64_t sequence) noexcept { statusLog_.Forget(sequence); }

    // The runs begun by a successful Start; 0 before the first. Host's thread.
    uint64_t Run() const noexcept { return run_; }
    // Complete cycles since Start: the number of the newest one, 0 for none. Any thread.
    uint64_t CycleCount() const noexcept { return ring_.Newest(); }
    // Milliseconds since the newest cycle of this run was published, on the clock that decides
    // staleness for GetChnlValue; -1 when there is none.
    LONG NewestCycleAgeMs() const noexcept;
    // The run's health (engine/run_health.h), any thread: its rate, its longest gap between two
    // cycles and its failed cycle attempts (a stop cutting a cycle short is no failure).
    const engine::RunHealth& Health() const noexcept { return health_; }

    // Copies the newest cycle of this run; false when there is none.
    bool ReadNewestCycle(engine::Cycle& out) noexcept { return ring_.ReadNewest(out); }
    // Copies up to max unread cycles oldest-first without taking them, and takes what such a copy
    // found (see CycleRing::Peek and Take): a reader that cannot keep its copies leaves them
    // unread. The cycles stay readable after Stop, until the next successful Start.
    engine::ReadBatch PeekCycles(engine::Cycle* out, size_t max) noexcept { return ring_.Peek(out, max); }
    void TakeCycles(const engine::ReadBatch& batch) noexcept { ring_.Take(batch); }
    // Peek and take in one; lost receives how many cycles were overwritten unread before out[0].
    size_t DrainCycles(engine::Cycle* out, size_t max, uint64_t& lost) noexcept {
        return ring_.Drain(out, max, lost);
    }
    // How many cycles a drain could return now (more may arrive meanwhile).
    size_t UnreadCycles() noexcept { return ring_.Unread(); }
    // This run's cycles lost unread: reported by a drain, or overwritten and not yet reported.
    uint64_t LostCycles() noexcept { return ring_.Lost(); }

    // The ring's capacity in cycles, kMinBufferCycles to kMaxBufferCycles, kDefaultBufferCycles at
    // first: E_INVALIDARG outside, E_OUTOFMEMORY, and the capacity stays. Allocates here; a running
    // sampler switches with its next cycle, keeping the newest cycles that fit (any unread cycles
    // that do not are counted as lost).
    LONG GetBufferSize() const noexcept { return static_cast<LONG>(ring_.Capacity()); }
    [[nodiscard]] HRESULT SetBufferSize(LONG cycles) noexcept;

    // While a tap is set, every cycle published is also pushed into it, and the end of each run
    // (engine/cycle_queue.h); null for none. Any thread; returns once the sampling thread no longer
    // uses the tap set before, so that its owner may free it.
    void SetTap(engine::CycleQueue* tap) noexcept;
    // A watcher (a chart) gets every cycle and end as the tap does, into a queue of its own, so that
    // it neither takes cycles from the host's reads nor slows the recorder: a watcher that falls
    // behind drops from its own queue only. AddWatcher is false when kMaxWatchers already watch.
    // RemoveWatcher returns once the sampling thread no longer uses the queue. Any thread.
    static constexpr size_t kMaxWatchers = 8;
    [[nodiscard]] bool AddWatcher(engine::CycleQueue* queue) noexcept;
    void RemoveWatcher(engine::CycleQueue* queue) noexcept;
    // The channels' rules and alarms, judged with every cycle (engine/measurements.h). Any thread.
    engine::Measurements& Measured() noexcept { return measurements_; }
    const engine::Measurements& Measured() const noexcept { return measurements_; }

    // Sets the error half of the status pair (a recorder's failure), leaving the status. Any thread.
    void NoteError(HRESULT error) noexcept;

    // Sets the observer (null for none); HRESULT_FROM_WIN32(ERROR_INVALID_STATE) while a thread
    // handle is held. The observer must outlive the sampler's running: stop or destroy the sampler
    // before it goes. Destruction tells it nothing.
    [[nodiscard]] HRESULT SetObserver(engine::SamplerObserver* observer) noexcept;

private:
    // What one pass over the board's slots brought.
    struct BoardRead {
        int bytes = 0;
        // The budget was spent before the first slot was polled (Interval 0): nothing was tried.
        bool nothingTried = false;
    };

    static DWORD WINAPI ThreadEntry(LPVOID param) noexcept;
    void SampleLoop() noexcept;
    // Reads one cycle's bytes from the board into buffer within the budget.
    BoardRead ReadBoardCycle(uint8_t (&buffer)[16]) noexcept;
    // Polls the status port until two successive reads show ready; false when the cycle's budget (of
    // Interval ms from cycleStart, on the budget's clock) is spent or a stop was requested first.
    // polled tells whether the port was read at all.
    bool WaitReady(int64_t cycleStart, bool& polled) noexcept;
    int64_t BudgetClock() const noexcept;
    void Publish(const uint8_t (&buffer)[16], LONG channels) noexcept;
    // Hands the tap a cycle with its measured values, or the end of the run (both null). Sampling
    // thread.
    void Tap(const engine::Cycle* cycle, const engine::MeasuredValues* measured) noexcept;
    // Returns once the sampling thread is not pushing into a tap it loaded before.
    void WaitOutTap() const noexcept;
    void ReportFailedCycle(int bytes, bool tookLock) noexcept;
    // Ends the thread and gives up the port lock handle; the status is left to the caller.
    void EndThread() noexcept;
    BOOL FailStart(HRESULT error) noexcept;
    // Publishes the pair; a new status also goes to the status log and the observer.
    void SetReport(engine::SamplerStatus status, HRESULT error) noexcept;
    void SetStatus(engine::SamplerStatus status) noexcept { Change(status, nullptr); }
    // Sets the status and, when error is given, the error; else keeps the error.
    void Change(engine::SamplerStatus status, const HRESULT* error) noexcept;

    std::atomic<int16_t> Values[8];
    std::atomic<LONG> Interval;
    std::atomic<LONG> Address;
    std::atomic<LONG> ChannelNumber;
    std::atomic<DWORD> LastUpdateTick;
    base::UniqueThread ThreadHandle;
    DWORD ThreadId;
    base::UniqueEvent StopEvent;
    base::UniqueEvent PortLockEvent;

    const Platform platform_;
    HRESULT setupResult_ = S_OK;
    engine::CycleRing ring_;
    // Started by Start, then read and rebased by the sampling thread alone.
    engine::CycleClock clock_;
    // The status in the low 32 bits, the last error in the high 32.
    std::atomic<uint64_t> report_{0};
    engine::StatusLog statusLog_;
    uint64_t run_ = 0;
    // Changed only while no thread runs.
    engine::SamplerObserver* observer_ = nullptr;
    // Set by Stop before it signals StopEvent; lets the status poll see the request without a
    // kernel call per poll.
    std::atomic<bool> stopRequested_{false};

    engine::RunHealth health_;
    int64_t frequency_ = 1000;  // the performance counter's counts a second, set by Start
    int64_t countsPerMs_ = 1;   // and a millisecond
    std::atomic<bool> precise_{false};
    engine::Measurements measurements_;
    // The recorder's queue first, then the watchers', and whether the sampling thread is pushing
    // into those it loaded.
    std::atomic<engine::CycleQueue*> taps_[1 + kMaxWatchers] = {};
    std::atomic<bool> tapping_{false};
};
