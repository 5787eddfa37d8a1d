// What a sampler says about itself beyond its readings: its status, the result codes of its last
// error and the observer it notifies. Types and constants only, for any thread; the sampler owns
// the state, and the observer says on which thread each of its calls comes.
//
// The result codes are defined here once; the control's type library mirrors them, so their values
// never change. They use FACILITY_ITF from 0x0600 up, clear of the COM-defined codes below 0x0200
// and of the SELFREG_E_, CONNECT_E_ and PERPROP_E_ codes at 0x0200-0x020F.
#pragma once

#include <windows.h>

#include <cstdint>

namespace engine {

// Start refused: the sampler is running already. The status stays as it is.
inline constexpr HRESULT kErrorAlreadyRunning = static_cast<HRESULT>(0x80040601L);
// Start refused: the sampler's set-up failed (its stop event or its cycle buffer); SetupResult
// tells the Win32 error.
inline constexpr HRESULT kErrorSetupFailed = static_cast<HRESULT>(0x80040602L);
// A cycle attempt in which no byte arrived: nothing at Address, or a board that stayed busy.
inline constexpr HRESULT kErrorBoardNotReady = static_cast<HRESULT>(0x80040611L);
// A cycle attempt in which the board stopped being ready before every byte had arrived.
inline constexpr HRESULT kErrorCycleIncomplete = static_cast<HRESULT>(0x80040612L);
// A cycle attempt that failed after the wait for the port lock timed out: another sampler, maybe
// in another process, had the board.
inline constexpr HRESULT kErrorPortLockNotObtained = static_cast<HRESULT>(0x80040613L);

// The present state of a sampler. The values are part of the control's interface.
enum class SamplerStatus : int32_t {
    kStopped = 0,               // never started, or stopped
    kWaitingForFirstCycle = 1,  // started; no cycle attempt has ended yet
    kSampling = 2,              // the last cycle attempt was complete and published
    kBoardNotReady = 3,         // the last attempt failed with kErrorBoardNotReady
    kCycleIncomplete = 4,       // the last attempt failed with kErrorCycleIncomplete
    kPortLockNotObtained = 5,   // the last attempt failed with kErrorPortLockNotObtained
    kStartFailed = 6,           // the last Start failed for a cause other than kErrorAlreadyRunning
};

// The status and the last error of one moment, published together (CChannelSampler::Report).
struct StatusReport {
    SamplerStatus status = SamplerStatus::kStopped;
    HRESULT error = S_OK;
};

// Told that a sampler has news: a cycle was published, or its status changed (StatusLog holds the
// changes). Set on a stopped sampler (SetObserver) and owned by whoever set it, which keeps it alive
// until the sampler is stopped or destroyed. Called on the sampling thread, and on the host's thread
// inside Start and Stop, without a lock of the sampler's held; an implementation must return at once
// (post a message, set an event) and must not call back into the sampler's Start, Stop or
// SetObserver.
class SamplerObserver {
public:
    virtual void OnSamplerNews() noexcept = 0;

protected:
    ~SamplerObserver() = default;
};

}  // namespace engine
