// CycleRecorder: every cycle of a sampler appended to a CSV file (base/cycle_csv.h) by a writer
// thread of its own, so that neither the sampling thread (which never waits for a disk) nor the
// host's thread (which may be busy for minutes) stands between a cycle and the file.
//
// The sampler pushes each cycle into the recorder's queue (engine/cycle_queue.h), which holds up to
// the capacity given at the start of the recording; a writer that falls behind by more loses cycles,
// which are counted (Lost) and marked in the file where they are missing. The writer takes what
// waits as soon as a quarter of the queue is taken, and at least every kWritePeriodMs, so only a
// disk that stalls loses cycles. It writes whole lines in one write, so a host that is killed loses
// at most that much and leaves no partial row but the last line. A file that exists is appended to,
// after its last whole line: a partial last row (a host killed while it wrote) is cut off first. A
// new file gets a header line. Past the size limit the writer goes on in a new file named after the
// first with a sequence number ("run.csv", "run-2.csv", ...), skipping names that exist, never
// overwriting. With channel settings, the rows also carry the values scaled on the sampling thread,
// and each alarm change is a "# alarm" line after the row of its cycle. A write that fails takes
// back what it stored, so the file ends with its last whole write; it stops the recording
// (Recording turns false) and notes the error in the sampler's LastError; sampling goes on.
//
// Owned by the sampler's owner, which destroys it before the sampler. Everything runs on the host's
// thread but Recording and LimitBytes, which any thread may ask. The writer thread lives from the
// start of a recording to its end, or to a failed write; the host tells the two apart by the thread
// alone, so a write that fails while the host switches files cannot leave two writers.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/local_time.h"
#include "base/unique_handle.h"
#include "engine/channel_sampler.h"
#include "engine/cycle_queue.h"

namespace engine {

// What a recorder asks of the system; tests substitute their own.
struct RecorderPlatform {
    // Writes to the file (WriteFile's contract): a slow, a full or a failing disk.
    BOOL(WINAPI* writeFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) = ::WriteFile;
    // The time zone's offset for a cycle's time (asked again for every row while it fails).
    base::OffsetLookup zoneOffset = &base::SystemZoneOffset;
};

class CycleRecorder {
public:
    static constexpr uint64_t kDefaultLimitBytes = 100ull << 20;
    static constexpr uint64_t kMinLimitBytes = 4096;
    static constexpr DWORD kWritePeriodMs = 100;

    explicit CycleRecorder(CChannelSampler& sampler,
                           const RecorderPlatform& platform = RecorderPlatform()) noexcept
        : sampler_(sampler), platform_(platform), offsets_(platform.zoneOffset) {}
    ~CycleRecorder() { Close(); }
    CycleRecorder(const CycleRecorder&) = delete;
    CycleRecorder& operator=(const CycleRecorder&) = delete;

    // Records every cycle from now on into path, a full path: the file is opened here (appended to,
    // or created), so that one that cannot be opened is refused with the system's error and
    // nothing changes. While recording already, the cycles published before the call go to the
    // file before, the later ones to this one; after a failed write, the call starts a recording
    // anew, as when there was none. queueCycles is how many cycles may wait for the
    // disk, from the start of a recording on; channels names the header's columns when no cycle
    // does. measures, when not empty, names a scaled column for each channel (UTF-8): the rows then
    // carry the values scaled as the sampler judged them, and a "# alarm" line after each row whose
    // cycle changed a channel's alarm level. Taken at the start of a recording; a switch keeps them.
    [[nodiscard]] HRESULT Record(const std::wstring& path, size_t queueCycles, int channels,
                                 const std::vector<std::string>& measures = {}) noexcept;
    // Writes what waits, marks what was lost, closes the file and ends the recording; returns when
    // the file is complete. Nothing when not recording.
    void Close() noexcept;
    // Asks the writer to write what waits now (the run has stopped).
    void Flush() noexcept;

    // The path given to the recording under way, or to the last one; empty before any. Host.
    const std::wstring& Path() const noexcept { return path_; }
    uint64_t LimitBytes() const noexcept { return limit_.load(std::memory_order_relaxed); }
    // kMinLimitBytes at least; the file under way rolls over when it next grows past it.
    void SetLimitBytes(uint64_t bytes) noexcept;
    bool Recording() const noexcept { return recording_.load(std::memory_order_acquire); }
    // The cycles the queue dropped in the recording under way, or in the last one. Host.
    uint64_t Lost() const noexcept;

private:
    enum class Command { kNone, kSwitch, kClose };

    [[nodiscard]] HRESULT Begin(base::UniqueFile file, uint64_t size, const std::wstring& path,
                                size_t queueCycles, int channels,
                                const std::vector<std::string>& measures) noexcept;
    static DWORD WINAPI WriterEntry(LPVOID param) noexcept;
    void WriteLoop() noexcept;
    // Formats the entries up to cut (a queue index) into the buffer, rolling over as the file grows.
    bool Drain(uint64_t cut) noexcept;
    bool Append(const std::string& line, int channels) noexcept;
    // The row of a cycle, and the alarm lines of the levels it changed.
    bool AppendCycle(const QueuedCycle& entry) noexcept;
    // The lost cycles numbered up to last.
    bool Mark(uint64_t last, uint64_t count) noexcept;
    bool MarkEnds(uint64_t count, uint64_t runs) noexcept;
    bool WriteOut() noexcept;
    bool RollOver() noexcept;
    void Fail(HRESULT error) noexcept;
    // Ends the writer thread of a recording that failed, and lets go of its queue.
    void Reap() noexcept;

    CChannelSampler& sampler_;
    const RecorderPlatform platform_;
    std::atomic<uint64_t> limit_{kDefaultLimitBytes};
    std::atomic<bool> recording_{false};
    std::atomic<HRESULT> error_{S_OK};  // why the writer failed
    std::wstring path_;
    uint64_t lostBefore_ = 0;  // the count of the last recording, once its queue is gone

    std::unique_ptr<CycleQueue> queue_;
    base::UniqueThread writer_;
    base::UniqueEvent wake_;
    base::UniqueEvent done_;  // the writer took the command

    // The command handed to the writer, under lock_.
    SRWLOCK lock_ = SRWLOCK_INIT;
    Command command_ = Command::kNone;
    uint64_t cut_ = 0;
    QueueRemainder remainder_;
    base::UniqueFile nextFile_;
    std::wstring nextPath_;
    uint64_t nextSize_ = 0;

    // The writer's own.
    base::UniqueFile file_;
    std::wstring filePath_;  // the first file of the recording's path; rollover names follow it
    unsigned sequence_ = 1;
    uint64_t size_ = 0;
    int channels_ = 0;
    std::vector<std::string> measures_;
    AlarmLevel levels_[kMeasuredChannels] = {};  // after the last row written
    std::string buffer_;
    base::LocalOffsets offsets_;
};

}  // namespace engine
