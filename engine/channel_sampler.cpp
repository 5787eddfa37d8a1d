#include "engine/channel_sampler.h"

#include <iterator>

#include "base/hresult.h"
#include "directport/directport.h"
#include "engine/sample_math.h"
#include "trace/trace.h"

namespace {

constexpr wchar_t kPortLockName[] = L"Global\\TRUV.Vandrel.IOEvent";
constexpr char kFlagFile[] = "C:\\TRUV_Debug.flag";
constexpr LONG kDefaultInterval = 2160;
constexpr LONG kDefaultAddress = 356;
constexpr LONG kDefaultChannels = 8;
constexpr int kBufferBytes = 16;
// The pause after a cycle that could not try a single slot because its budget was spent before the
// first (Interval 0). The raised-priority thread would otherwise spin on its stop check and lock
// wait; such a cycle reads nothing, so its rate only costs: under Wine each one takes about 0.1 ms of
// CPU in three kernel calls, and 1 ms pauses still came to 7 % of a core.
// The same pause follows a cycle that took part of the board's frame and gave up the rest: the board
// begins a new frame after 10 ms without a read, and after a shorter pause the next cycle would take
// the old frame's remaining bytes, its words mixing two frames. Every other cycle pauses its Interval.
constexpr DWORD kLongPauseMs = 10;

bool IsReady(INT status) noexcept { return (status & 1) == 0; }

uint64_t Pack(engine::StatusReport report) noexcept {
    return static_cast<uint32_t>(report.status) |
           (static_cast<uint64_t>(static_cast<uint32_t>(report.error)) << 32);
}

// The trace is switched on by the presence of the flag file when a sampler is built. The file is
// opened exclusively, so a file that another process holds open counts as absent. Nothing here
// throws (the trace's entry points are noexcept), so there is nothing to catch.
void ActivateTraceIfFlagged() noexcept {
    base::UniqueFile flag(
        ::CreateFileA(kFlagFile, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (flag) TraceOpen();
}

}  // namespace

CChannelSampler::CChannelSampler(const Platform& platform) noexcept
    : Interval(kDefaultInterval),
      Address(kDefaultAddress),
      ChannelNumber(kDefaultChannels),
      LastUpdateTick(0),
      ThreadId(0),
      platform_(platform) {
    ActivateTraceIfFlagged();
    for (auto& slot : Values) slot.store(-1, std::memory_order_relaxed);
    StopEvent.reset(platform_.createEvent(nullptr, FALSE, FALSE, nullptr));
    if (!StopEvent) setupResult_ = base::HResultFromLastError();
    if (SUCCEEDED(setupResult_)) setupResult_ = SetBufferSize(engine::kDefaultBufferCycles);
}

CChannelSampler::~CChannelSampler() { EndThread(); }

void CChannelSampler::SetChannelNumber(LONG value) noexcept {
    if (value == 1 || value == 4 || value == 8) ChannelNumber.store(value, std::memory_order_relaxed);
}

SHORT CChannelSampler::GetChnlValue(LONG nChnlIndex) const noexcept {
    if (nChnlIndex < 0 || nChnlIndex >= GetChannelNumber()) return engine::kNoValue;
    const uint32_t limit = engine::StalenessLimit(static_cast<uint32_t>(GetInterval()));
    const DWORD last = LastUpdateTick.load(std::memory_order_acquire);
    if (engine::TickDiff(last, platform_.tick()) > limit) return engine::kNoValue;
    return engine::DecodeChannelWord(
        static_cast<uint16_t>(Values[nChnlIndex].load(std::memory_order_relaxed)));
}

LONG CChannelSampler::NewestCycleAgeMs() const noexcept {
    // The tick is stored before the cycle's number, so a cycle of this run brings its own tick.
    if (CycleCount() == 0) return -1;
    const uint32_t age = engine::TickDiff(LastUpdateTick.load(std::memory_order_acquire), platform_.tick());
    return age > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<LONG>(age);
}

engine::StatusReport CChannelSampler::Report() const noexcept {
    const uint64_t packed = report_.load(std::memory_order_acquire);
    return {static_cast<engine::SamplerStatus>(static_cast<int32_t>(packed & 0xFFFFFFFFu)),
            static_cast<HRESULT>(static_cast<uint32_t>(packed >> 32))};
}

HRESULT CChannelSampler::SetBufferSize(LONG cycles) noexcept {
    if (cycles < 0) return E_INVALIDARG;
    RETURN_IF_FAILED(ring_.Resize(static_cast<size_t>(cycles)));
    if (!ThreadHandle) ring_.Settle();
    return S_OK;
}

HRESULT CChannelSampler::SetObserver(engine::SamplerObserver* observer) noexcept {
    if (ThreadHandle) return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
    observer_ = observer;
    return S_OK;
}

BOOL CChannelSampler::Start() noexcept {
    if (ThreadHandle) return FailStart(engine::kErrorAlreadyRunning);
    // Without a stop event the thread could neither pause nor be stopped; without a cycle buffer
    // it could not publish.
    if (FAILED(setupResult_)) return FailStart(engine::kErrorSetupFailed);

    // A handle that a failed Start left open is given up before the event is opened again.
    PortLockEvent.reset();
    HANDLE lock = ::CreateEventW(nullptr, FALSE, TRUE, kPortLockName);
    const HRESULT lockResult = lock ? S_OK : base::HResultFromLastError();
    const bool existed = lock && ::GetLastError() == ERROR_ALREADY_EXISTS;
    PortLockEvent.reset(lock);
    TraceStatus(existed ? "Get TRUV.Vandrel.IOEvent" : "Build TRUV.Vandrel.IOEvent");
    if (!PortLockEvent) {
        TraceStatus("failed\n");
        return FailStart(lockResult);
    }
    TraceStatus("success\n");

    stopRequested_.store(false, std::memory_order_relaxed);
    DWORD id = 0;
    // Suspended until the new run is set up: once running, the thread may publish at once.
    ThreadHandle.reset(platform_.createThread(nullptr, 0, ThreadEntry, this, CREATE_SUSPENDED, &id));
    if (!ThreadHandle) return FailStart(base::HResultFromLastError());
    ThreadId = id;
    ::SetThreadPriority(ThreadHandle.get(), THREAD_PRIORITY_HIGHEST);

    ++run_;
    ring_.Reset();
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    health_.Reset(frequency.QuadPart);
    frequency_ = std::max<int64_t>(frequency.QuadPart, 1000);
    countsPerMs_ = frequency_ / 1000;
    measurements_.BeginRun(run_);
    clock_.Start(engine::CounterNow(), frequency.QuadPart, engine::SystemTimeNow());
    SetReport(engine::SamplerStatus::kWaitingForFirstCycle, S_OK);
    ::ResumeThread(ThreadHandle.get());
    return TRUE;
}

BOOL CChannelSampler::FailStart(HRESULT error) noexcept {
    if (error != engine::kErrorAlreadyRunning) {
        SetReport(engine::SamplerStatus::kStartFailed, error);
        return FALSE;
    }
    // A sampler that is running already goes on as it was: only the error half changes, and the
    // sampling thread may change the status meanwhile.
    NoteError(error);
    return FALSE;
}

void CChannelSampler::Stop() noexcept {
    EndThread();
    ring_.Settle();
    SetStatus(engine::SamplerStatus::kStopped);
}

void CChannelSampler::EndThread() noexcept {
    if (ThreadHandle) {
        stopRequested_.store(true, std::memory_order_relaxed);
        ::SetEvent(StopEvent.get());
        // No time-out and no forced end: the thread watches the request in its pause, in its lock
        // wait and between status polls, so it ends within one poll. A killed thread could leave
        // the trace queue's lock or the heap's lock taken for good.
        ::WaitForSingleObject(ThreadHandle.get(), INFINITE);
        // The thread normally consumed the signal; one that had ended on its own did not.
        ::ResetEvent(StopEvent.get());
        ThreadHandle.reset();
    }
    PortLockEvent.reset();
}

DWORD WINAPI CChannelSampler::ThreadEntry(LPVOID param) noexcept {
    auto* self = static_cast<CChannelSampler*>(param);
    self->SampleLoop();
    self->Tap(nullptr, nullptr);
    return 0;
}

void CChannelSampler::SetTap(engine::CycleQueue* tap) noexcept {
    taps_[0].store(tap, std::memory_order_seq_cst);
    WaitOutTap();
}

bool CChannelSampler::AddWatcher(engine::CycleQueue* queue) noexcept {
    for (size_t i = 1; i < std::size(taps_); ++i) {
        engine::CycleQueue* empty = nullptr;
        if (taps_[i].compare_exchange_strong(empty, queue, std::memory_order_seq_cst)) return true;
    }
    return false;
}

void CChannelSampler::RemoveWatcher(engine::CycleQueue* queue) noexcept {
    for (size_t i = 1; i < std::size(taps_); ++i) {
        engine::CycleQueue* held = queue;
        taps_[i].compare_exchange_strong(held, nullptr, std::memory_order_seq_cst);
    }
    WaitOutTap();
}

void CChannelSampler::WaitOutTap() const noexcept {
    // The sampling thread raises its flag before it loads the taps: once the flag is seen down, any
    // later push loads the new ones.
    while (tapping_.load(std::memory_order_seq_cst)) ::SwitchToThread();
}

void CChannelSampler::Tap(const engine::Cycle* cycle, const engine::MeasuredValues* measured) noexcept {
    tapping_.store(true, std::memory_order_seq_cst);
    for (auto& slot : taps_) {
        engine::CycleQueue* tap = slot.load(std::memory_order_seq_cst);
        if (!tap) continue;
        if (cycle) {
            tap->Push(*cycle, *measured);
        } else {
            tap->EndRun();
        }
    }
    tapping_.store(false, std::memory_order_release);
}

void CChannelSampler::NoteError(HRESULT error) noexcept {
    uint64_t packed = report_.load(std::memory_order_relaxed);
    while (!report_.compare_exchange_weak(
        packed, (packed & 0xFFFFFFFFu) | (static_cast<uint64_t>(static_cast<uint32_t>(error)) << 32),
        std::memory_order_acq_rel)) {}
}

void CChannelSampler::SampleLoop() noexcept {
    uint8_t buffer[kBufferBytes] = {};
    engine::CyclePause pauses(platform_, StopEvent.get(), stopRequested_, frequency_);
    // The first cycle neither pauses nor waits for the lock; later ones use the Interval of the
    // cycle before.
    DWORD pause = 0;
    DWORD lockWait = 0;
    for (;;) {
        pauses.Prepare(static_cast<DWORD>(GetInterval()), PreciseTiming());
        // Stop check, which is also the pause between cycles. A failed wait ends the thread as a
        // stop request would.
        if (!pauses.Wait(pause)) return;

        // Turn at the board: wait for the port lock, but go on without it after the time-out. The
        // stop event comes first, so a stop request wins over a free lock.
        const HANDLE handles[2] = {StopEvent.get(), PortLockEvent.get()};
        const DWORD turn = ::WaitForMultipleObjects(2, handles, FALSE, lockWait);
        if (turn == WAIT_OBJECT_0) return;

        const BoardRead read = ReadBoardCycle(buffer);
        const LONG channels = GetChannelNumber();
        if (read.bytes == 2 * channels) {
            TraceData("%dchnl over", static_cast<int>(channels));
            Publish(buffer, channels);
        } else if (!stopRequested_.load(std::memory_order_relaxed)) {
            ReportFailedCycle(read.bytes, turn == WAIT_OBJECT_0 + 1);
        }
        TraceData("\n");
        lockWait = static_cast<DWORD>(GetInterval());
        const bool frameLeftOpen = read.bytes > 0 && read.bytes < 2 * channels;
        pause = (read.nothingTried || frameLeftOpen) && lockWait < kLongPauseMs ? kLongPauseMs : lockWait;
        // Released whether or not the wait took it: a lock left taken elsewhere frees up this way.
        ::SetEvent(PortLockEvent.get());
    }
}

CChannelSampler::BoardRead CChannelSampler::ReadBoardCycle(uint8_t (&buffer)[16]) noexcept {
    const int64_t cycleStart = BudgetClock();
    BoardRead read;
    for (int slot = 0; slot < 2 * GetChannelNumber() && slot < kBufferBytes; ++slot) {
        if (stopRequested_.load(std::memory_order_relaxed)) break;
        bool polled = false;
        if (!WaitReady(cycleStart, polled)) {  // budget spent: the slot is given up
            read.nothingTried = read.nothingTried || (slot == 0 && !polled);
            continue;
        }
        ++read.bytes;
        const uint8_t byte = static_cast<uint8_t>(DP_InpB(engine::DataPort(GetAddress())) & 0xFF);
        buffer[slot] = byte;
        TraceData("%d ", static_cast<int>(byte));
    }
    return read;
}

int64_t CChannelSampler::BudgetClock() const noexcept {
    LARGE_INTEGER now;
    platform_.counter(&now);
    return now.QuadPart;
}

bool CChannelSampler::WaitReady(int64_t cycleStart, bool& polled) noexcept {
    // As the pause does, a negative Interval counts as the DWORD it is (-1: no end).
    const uint64_t budgetMs = static_cast<DWORD>(GetInterval());
    const uint64_t budget = budgetMs > static_cast<uint64_t>(INT64_MAX / countsPerMs_)
                                ? static_cast<uint64_t>(INT64_MAX)
                                : budgetMs * static_cast<uint64_t>(countsPerMs_);
    for (;;) {
        if (stopRequested_.load(std::memory_order_relaxed)) return false;
        if (static_cast<uint64_t>(BudgetClock() - cycleStart) >= budget) return false;
        polled = true;
        if (!IsReady(DP_InpB(GetAddress()))) continue;
        if (!IsReady(DP_InpB(GetAddress()))) continue;
        return true;
    }
}

void CChannelSampler::Publish(const uint8_t (&buffer)[16], LONG channels) noexcept {
    engine::Cycle cycle;
    for (int k = 0; k < 8; ++k) {
        const uint16_t raw = engine::RawWord(buffer[2 * k], buffer[2 * k + 1]);
        Values[k].store(static_cast<int16_t>(raw), std::memory_order_relaxed);
        if (k < channels) cycle.values[k] = engine::DecodeChannelWord(raw);
    }
    LastUpdateTick.store(platform_.tick(), std::memory_order_release);

    const int64_t counter = engine::CounterNow();
    cycle.number = ring_.Newest() + 1;
    cycle.time = clock_.Stamp(counter, engine::SystemTimeNow());
    cycle.channels = channels;
    // Judged before the cycle is published: an alarm it raises is queued before the host can
    // hear of the cycle.
    engine::MeasuredValues measured;
    measurements_.Judge(cycle, static_cast<uint64_t>(counter / countsPerMs_), &measured);
    ring_.Publish(cycle);
    Tap(&cycle, &measured);
    health_.NoteCycle(counter);
    SetStatus(engine::SamplerStatus::kSampling);
    if (observer_) observer_->OnSamplerNews();
}

// The lock goes first: while another sampler has the board, this one finds it busy or half read.
void CChannelSampler::ReportFailedCycle(int bytes, bool tookLock) noexcept {
    using engine::SamplerStatus;
    const HRESULT error = !tookLock    ? engine::kErrorPortLockNotObtained
                          : bytes == 0 ? engine::kErrorBoardNotReady
                                       : engine::kErrorCycleIncomplete;
    const SamplerStatus status = !tookLock    ? SamplerStatus::kPortLockNotObtained
                                 : bytes == 0 ? SamplerStatus::kBoardNotReady
                                              : SamplerStatus::kCycleIncomplete;
    health_.NoteFailure();
    SetReport(status, error);
}

// On the one thread that may change the status at the time: the sampling thread while it runs, the
// host's while none does.
void CChannelSampler::SetReport(engine::SamplerStatus status, HRESULT error) noexcept {
    Change(status, &error);
}

// A recorder's NoteError may come at any moment: the pair is replaced by a compare-and-swap, so that
// a status that keeps the error keeps also one noted meanwhile.
void CChannelSampler::Change(engine::SamplerStatus status, const HRESULT* error) noexcept {
    uint64_t packed = report_.load(std::memory_order_relaxed);
    uint64_t next;
    do {
        const HRESULT kept = static_cast<HRESULT>(static_cast<uint32_t>(packed >> 32));
        next = Pack({status, error ? *error : kept});
    } while (!report_.compare_exchange_weak(packed, next, std::memory_order_acq_rel));
    if (static_cast<engine::SamplerStatus>(static_cast<int32_t>(packed & 0xFFFFFFFFu)) == status) return;
    statusLog_.Push(
        {status, static_cast<HRESULT>(static_cast<uint32_t>(next >> 32)), run_, ring_.Newest(), 0});
    if (observer_) observer_->OnSamplerNews();
}
