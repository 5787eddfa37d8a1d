#include "engine/cycle_recorder.h"

#include <algorithm>
#include <new>
#include <utility>

#include "base/cycle_csv.h"
#include "base/hresult.h"
#include "base/locks.h"

namespace engine {
namespace {

// What a record file begins with; a file that begins otherwise is someone else's.
constexpr char kHeaderStart[] = "cycle,time,";
// Longer than any row: a file whose last line is longer was not cut in a row of ours.
constexpr DWORD kTailBytes = 4096;

HRESULT ReadAt(HANDLE file, uint64_t offset, char* data, DWORD size) noexcept {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD read = 0;
    RETURN_LAST_ERROR_IF(!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ||
                         !::ReadFile(file, data, size, &read, nullptr));
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_HANDLE_EOF), read != size);
    return S_OK;
}

HRESULT CutAt(HANDLE file, uint64_t size) noexcept {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    RETURN_LAST_ERROR_IF(!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) || !::SetEndOfFile(file));
    return S_OK;
}

// A file that does not end a line: a record file whose last row was cut (a host killed while it
// wrote) loses that row in part, so that the next row starts a line of its own; any other file gets
// the end of its line. size is the file's, before and after.
HRESULT EndWithAWholeLine(HANDLE file, uint64_t& size) noexcept {
    if (size == 0) return S_OK;
    char last = 0;
    RETURN_IF_FAILED(ReadAt(file, size - 1, &last, 1));
    if (last == '\n') return S_OK;
    char head[sizeof kHeaderStart - 1] = {};
    const DWORD headSize = static_cast<DWORD>(std::min<uint64_t>(size, sizeof head));
    RETURN_IF_FAILED(ReadAt(file, 0, head, headSize));
    if (std::equal(head, head + headSize, kHeaderStart)) {
        char tail[kTailBytes];
        const DWORD tailSize = static_cast<DWORD>(std::min<uint64_t>(size, kTailBytes));
        RETURN_IF_FAILED(ReadAt(file, size - tailSize, tail, tailSize));
        const char* end =
            std::find(std::make_reverse_iterator(tail + tailSize), std::make_reverse_iterator(tail), '\n')
                .base();
        if (end != tail || tailSize == size) {
            size -= static_cast<uint64_t>(tail + tailSize - end);
            return CutAt(file, size);
        }
    }
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    DWORD written = 0;
    RETURN_LAST_ERROR_IF(!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ||
                         !::WriteFile(file, "\n", 1, &written, nullptr));
    size += written;
    return S_OK;
}

// Opens path to write at its end, created when missing; others may read it meanwhile. The file is
// read and written through the handle, so that a partial last line can be cut and a failed write
// taken back.
HRESULT OpenForAppend(const std::wstring& path, DWORD disposition, base::UniqueFile& file,
                      uint64_t& size) noexcept {
    file.reset(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    RETURN_LAST_ERROR_IF(!file);
    LARGE_INTEGER length = {};
    HRESULT hr = ::GetFileSizeEx(file.get(), &length) ? S_OK : base::HResultFromLastError();
    size = static_cast<uint64_t>(length.QuadPart);
    if (SUCCEEDED(hr)) hr = EndWithAWholeLine(file.get(), size);
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    if (SUCCEEDED(hr) && !::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN))
        hr = base::HResultFromLastError();
    if (FAILED(hr)) file.reset();
    return hr;
}

// "C:\data\run.csv" and 3: "C:\data\run-3.csv"; the extension stays last.
std::wstring Numbered(const std::wstring& path, unsigned sequence) {
    const size_t slash = path.find_last_of(L"\\/");
    const size_t dot = path.find_last_of(L'.');
    const size_t cut =
        dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash) ? dot : path.size();
    return path.substr(0, cut) + L"-" + std::to_wstring(sequence) + path.substr(cut);
}

}  // namespace

HRESULT CycleRecorder::Record(const std::wstring& path, size_t queueCycles, int channels,
                              const std::vector<std::string>& measures) noexcept try {
    // A writer that is no longer recording failed, and ends: its recording is over, and this call
    // begins one anew. One that fails from here on is told apart below by its thread alone.
    if (writer_ && !Recording()) Reap();
    if (writer_ && ::CompareStringOrdinal(path.c_str(), -1, path_.c_str(), -1, TRUE) == CSTR_EQUAL)
        return S_OK;
    base::UniqueFile file;
    uint64_t size = 0;
    RETURN_IF_FAILED(OpenForAppend(path, OPEN_ALWAYS, file, size));
    if (writer_) {
        // The cycles the queue has taken so far go to the file before.
        {
            base::SrwExclusiveLock hold(lock_);
            command_ = Command::kSwitch;
            cut_ = queue_->Taken();
            nextFile_ = std::move(file);
            nextPath_ = path;
            nextSize_ = size;
        }
        ::SetEvent(wake_.get());
        const HANDLE handles[2] = {done_.get(), writer_.get()};
        ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        {
            // A writer that failed before it took the command leaves the file here.
            base::SrwExclusiveLock hold(lock_);
            if (command_ == Command::kSwitch) {
                command_ = Command::kNone;
                file = std::move(nextFile_);
            }
        }
        if (!file) {
            path_ = path;
            return Recording() ? S_OK : error_.load(std::memory_order_acquire);
        }
        Reap();
    }
    return Begin(std::move(file), size, path, queueCycles, channels, measures);
}
CATCH_RETURN()

HRESULT CycleRecorder::Begin(base::UniqueFile file, uint64_t size, const std::wstring& path,
                             size_t queueCycles, int channels,
                             const std::vector<std::string>& measures) noexcept try {
    base::UniqueEvent wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    base::UniqueEvent done(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    RETURN_LAST_ERROR_IF(!wake || !done);
    auto queue = std::make_unique<CycleQueue>(queueCycles, wake.get());
    RETURN_HR_IF(E_OUTOFMEMORY, !queue->Valid());
    file_ = std::move(file);
    filePath_ = path;
    sequence_ = 1;
    size_ = size;
    channels_ = channels;
    measures_ = measures;
    std::fill(std::begin(levels_), std::end(levels_), AlarmLevel::kNormal);
    buffer_.clear();
    command_ = Command::kNone;
    error_.store(S_OK, std::memory_order_relaxed);
    writer_.reset(::CreateThread(nullptr, 0, &WriterEntry, this, CREATE_SUSPENDED, nullptr));
    if (!writer_) {
        const HRESULT error = base::HResultFromLastError();
        file_.reset();
        return error;
    }
    // Woken as it is, the writer must come before a sampling thread of the highest priority fills
    // a small queue.
    ::SetThreadPriority(writer_.get(), THREAD_PRIORITY_ABOVE_NORMAL);
    queue_ = std::move(queue);
    wake_ = std::move(wake);
    done_ = std::move(done);
    recording_.store(true, std::memory_order_release);
    ::ResumeThread(writer_.get());
    sampler_.SetTap(queue_.get());
    path_ = path;
    return S_OK;
}
CATCH_RETURN()

void CycleRecorder::Close() noexcept {
    if (!writer_) return;
    sampler_.SetTap(nullptr);
    {
        base::SrwExclusiveLock hold(lock_);
        command_ = Command::kClose;
        cut_ = queue_->Taken();
        remainder_ = queue_->Remainder();
    }
    ::SetEvent(wake_.get());
    Reap();
}

void CycleRecorder::Reap() noexcept {
    if (!writer_) return;
    ::WaitForSingleObject(writer_.get(), INFINITE);
    writer_.reset();
    lostBefore_ = queue_->Dropped();
    queue_.reset();
    recording_.store(false, std::memory_order_release);
    file_.reset();
    nextFile_.reset();
}

void CycleRecorder::Flush() noexcept {
    if (writer_) ::SetEvent(wake_.get());
}

void CycleRecorder::SetLimitBytes(uint64_t bytes) noexcept {
    limit_.store(bytes < kMinLimitBytes ? kMinLimitBytes : bytes, std::memory_order_relaxed);
}

uint64_t CycleRecorder::Lost() const noexcept { return queue_ ? queue_->Dropped() : lostBefore_; }

DWORD WINAPI CycleRecorder::WriterEntry(LPVOID param) noexcept {
    static_cast<CycleRecorder*>(param)->WriteLoop();
    return 0;
}

void CycleRecorder::WriteLoop() noexcept {
    for (;;) {
        if (!queue_->Due()) ::WaitForSingleObject(wake_.get(), kWritePeriodMs);
        Command command;
        uint64_t cut;
        {
            // A pass takes what was taken when it began: a switch asked meanwhile cuts before the
            // cycles published after it.
            base::SrwExclusiveLock hold(lock_);
            command = std::exchange(command_, Command::kNone);
            cut = command == Command::kNone ? queue_->Taken() : cut_;
        }
        if (!Drain(cut)) return;
        switch (command) {
            case Command::kNone: break;
            case Command::kSwitch: {
                if (!WriteOut()) return;
                base::SrwExclusiveLock hold(lock_);
                file_ = std::move(nextFile_);
                filePath_ = nextPath_;
                sequence_ = 1;
                size_ = nextSize_;
                break;
            }
            case Command::kClose: {
                QueueRemainder remainder;
                {
                    base::SrwExclusiveLock hold(lock_);
                    remainder = remainder_;
                }
                if (remainder.ends > 0 && !MarkEnds(remainder.endsLost, remainder.ends)) return;
                if (remainder.runLost > 0 && !Mark(remainder.runLast, remainder.runLost)) return;
                if (!WriteOut()) return;
                file_.reset();
                return;
            }
        }
        if (command == Command::kSwitch) ::SetEvent(done_.get());
        if (!WriteOut()) return;
    }
}

bool CycleRecorder::Drain(uint64_t cut) noexcept try {
    QueuedCycle entry;
    while (queue_->NextToRead() < cut && queue_->Pop(entry)) {
        const Cycle& c = entry.cycle;
        // The ends of runs before that found no room, then the gap before this cycle in its own run
        // (or before the end of the run this entry closes).
        if (entry.ends > 0 && !MarkEnds(entry.endsLost, entry.ends)) return false;
        if (entry.lostBefore > 0 && !Mark(c.number != 0 ? c.number - 1 : entry.runLast, entry.lostBefore))
            return false;
        if (c.number == 0) continue;  // the end of a run
        if (!AppendCycle(entry)) return false;
    }
    return true;
} catch (const std::bad_alloc&) {
    Fail(E_OUTOFMEMORY);
    return false;
}

namespace {

const char* LevelName(AlarmLevel level) noexcept {
    switch (level) {
        case AlarmLevel::kHighHigh: return "high-high";
        case AlarmLevel::kHigh: return "high";
        case AlarmLevel::kLow: return "low";
        case AlarmLevel::kLowLow: return "low-low";
        case AlarmLevel::kNormal: break;
    }
    return "normal";
}

}  // namespace

bool CycleRecorder::AppendCycle(const QueuedCycle& entry) noexcept try {
    const Cycle& c = entry.cycle;
    const bool measured = !measures_.empty();
    if (!Append(base::CsvRow(c.number, c.time, offsets_.At(c.time), c.values, c.channels,
                             measured ? entry.measured.scaled : nullptr),
                c.channels))
        return false;
    if (!measured) return true;
    // Every run begins normal.
    if (c.number == 1) std::fill(std::begin(levels_), std::end(levels_), AlarmLevel::kNormal);
    for (int k = 0; k < c.channels && k < kMeasuredChannels; ++k) {
        const AlarmLevel level = entry.measured.levels[k];
        if (level == levels_[k]) continue;
        levels_[k] = level;
        const std::string line = "# alarm ch" + std::to_string(k) + " " + LevelName(level) + " at cycle " +
                                 std::to_string(c.number) + ": " + base::CsvNumber(entry.measured.scaled[k]) +
                                 "\n";
        if (!Append(line, c.channels)) return false;
    }
    return true;
} catch (const std::bad_alloc&) {
    Fail(E_OUTOFMEMORY);
    return false;
}

bool CycleRecorder::Mark(uint64_t last, uint64_t count) noexcept try {
    return Append(base::CsvLostLine(last + 1 - count, count), channels_);
} catch (const std::bad_alloc&) {
    Fail(E_OUTOFMEMORY);
    return false;
}

bool CycleRecorder::MarkEnds(uint64_t count, uint64_t runs) noexcept try {
    return Append(base::CsvLostAtRunEndsLine(count, runs), channels_);
} catch (const std::bad_alloc&) {
    Fail(E_OUTOFMEMORY);
    return false;
}

// A new file begins with the header; a line that would take the file past the limit goes to the
// next file, unless it would be the first line there too.
bool CycleRecorder::Append(const std::string& line, int channels) noexcept try {
    if (channels > 0) channels_ = channels;
    const uint64_t pending = size_ + buffer_.size();
    if (pending > 0 && pending + line.size() > LimitBytes() && !RollOver()) return false;
    if (size_ + buffer_.size() == 0) {
        const int extra = measures_.empty() ? 0 : channels_;
        buffer_ += base::CsvHeader(channels_, measures_.data(), extra);
    }
    buffer_ += line;
    return true;
} catch (const std::bad_alloc&) {
    Fail(E_OUTOFMEMORY);
    return false;
}

bool CycleRecorder::RollOver() noexcept {
    if (!WriteOut()) return false;
    for (;;) {
        const std::wstring next = Numbered(filePath_, ++sequence_);
        base::UniqueFile file;
        uint64_t size = 0;
        const HRESULT hr = OpenForAppend(next, CREATE_NEW, file, size);
        if (SUCCEEDED(hr)) {
            base::SrwExclusiveLock hold(lock_);
            file_ = std::move(file);
            size_ = 0;
            return true;
        }
        if (hr != HRESULT_FROM_WIN32(ERROR_FILE_EXISTS) && hr != HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)) {
            Fail(hr);
            return false;
        }
    }
}

// Whole lines in one write: a host killed meanwhile leaves no row in part but the last line. What a
// failed write stored (a disk that filled during it) is cut off again.
bool CycleRecorder::WriteOut() noexcept {
    if (buffer_.empty()) return true;
    DWORD written = 0;
    const BOOL wrote = platform_.writeFile(file_.get(), buffer_.data(), static_cast<DWORD>(buffer_.size()),
                                           &written, nullptr);
    if (wrote && written == buffer_.size()) {
        size_ += written;
        buffer_.clear();
        return true;
    }
    const HRESULT error = wrote ? HRESULT_FROM_WIN32(ERROR_DISK_FULL) : base::HResultFromLastError();
    LOG_IF_FAILED(CutAt(file_.get(), size_));
    Fail(error);
    return false;
}

void CycleRecorder::Fail(HRESULT error) noexcept {
    error_.store(error, std::memory_order_release);
    sampler_.SetTap(nullptr);
    sampler_.NoteError(error);
    recording_.store(false, std::memory_order_release);
    buffer_.clear();
    base::SrwExclusiveLock hold(lock_);
    file_.reset();
}

}  // namespace engine
