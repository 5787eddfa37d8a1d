#include "engine/cycle_recorder.h"

#include <new>
#include <utility>

#include "base/cycle_csv.h"
#include "base/hresult.h"
#include "base/locks.h"

namespace engine {
namespace {

// Opens path for appending (created when missing); others may read it meanwhile.
base::UniqueFile OpenForAppend(const std::wstring& path, DWORD disposition, uint64_t* size) noexcept {
    base::UniqueFile file(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, disposition,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER length = {};
    if (file && !::GetFileSizeEx(file.get(), &length)) file.reset();
    *size = static_cast<uint64_t>(length.QuadPart);
    return file;
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

HRESULT CycleRecorder::Record(const std::wstring& path, size_t queueCycles, int channels) noexcept try {
    // A recording that failed left its writer to be reaped; the one under way goes on into path.
    if (!Recording()) Reap();
    if (Recording() && ::CompareStringOrdinal(path.c_str(), -1, path_.c_str(), -1, TRUE) == CSTR_EQUAL)
        return S_OK;
    uint64_t size = 0;
    base::UniqueFile file = OpenForAppend(path, OPEN_ALWAYS, &size);
    RETURN_LAST_ERROR_IF(!file);
    if (Recording()) {
        // The cycles the queue has taken so far go to the file before.
        base::SrwExclusiveLock hold(lock_);
        command_ = Command::kSwitch;
        cut_ = queue_->Taken();
        nextFile_ = std::move(file);
        nextPath_ = path;
    } else {
        auto queue = std::make_unique<CycleQueue>(queueCycles);
        RETURN_HR_IF(E_OUTOFMEMORY, !queue->Valid());
        base::UniqueEvent wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
        base::UniqueEvent done(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
        RETURN_LAST_ERROR_IF(!wake || !done);
        file_ = std::move(file);
        filePath_ = path;
        sequence_ = 1;
        size_ = size;
        channels_ = channels;
        lastNumber_ = 0;
        buffer_.clear();
        command_ = Command::kNone;
        writer_.reset(::CreateThread(nullptr, 0, &WriterEntry, this, CREATE_SUSPENDED, nullptr));
        if (!writer_) {
            const HRESULT error = base::HResultFromLastError();
            file_.reset();
            return error;
        }
        queue_ = std::move(queue);
        wake_ = std::move(wake);
        done_ = std::move(done);
        recording_.store(true, std::memory_order_release);
        ::ResumeThread(writer_.get());
        sampler_.SetTap(queue_.get());
        path_ = path;
        return S_OK;
    }
    ::SetEvent(wake_.get());
    // A writer that fails meanwhile does not take the command: then the new file stays unused.
    const HANDLE handles[2] = {done_.get(), writer_.get()};
    ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    path_ = path;
    return Recording() ? S_OK : error_.load(std::memory_order_acquire);
}
CATCH_RETURN()

void CycleRecorder::Close() noexcept {
    if (!writer_) return;
    sampler_.SetTap(nullptr);
    {
        base::SrwExclusiveLock hold(lock_);
        command_ = Command::kClose;
        cut_ = queue_->Taken();
        trailingDrops_ = queue_->PendingDrops();
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
        ::WaitForSingleObject(wake_.get(), kWritePeriodMs);
        Command command;
        uint64_t cut;
        {
            base::SrwExclusiveLock hold(lock_);
            command = std::exchange(command_, Command::kNone);
            cut = command == Command::kNone ? UINT64_MAX : cut_;
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
                LARGE_INTEGER length = {};
                ::GetFileSizeEx(file_.get(), &length);
                size_ = static_cast<uint64_t>(length.QuadPart);
                break;
            }
            case Command::kClose: {
                uint64_t trailing;
                {
                    base::SrwExclusiveLock hold(lock_);
                    trailing = trailingDrops_;
                }
                if (trailing > 0 && !Mark(lastNumber_ + 1, trailing)) return;
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
        // The end of a run before, then the gap before this cycle in its own run (or before the end
        // of the run this entry closes).
        if (entry.lostAtRunEnd > 0 && !Mark(lastNumber_ + 1, entry.lostAtRunEnd)) return false;
        if (entry.lostBefore > 0) {
            const bool inRun = c.number > entry.lostBefore;
            if (!Mark(inRun ? c.number - entry.lostBefore : lastNumber_ + 1, entry.lostBefore)) return false;
        }
        if (c.number == 0) continue;  // the end of a run
        if (!Append(base::CsvRow(c.number, c.time, offsets_.At(c.time), c.values, c.channels), c.channels))
            return false;
        lastNumber_ = c.number;
    }
    return true;
} catch (const std::bad_alloc&) {
    Fail(E_OUTOFMEMORY);
    return false;
}

bool CycleRecorder::Mark(uint64_t first, uint64_t count) noexcept try {
    return Append(base::CsvLostLine(first, count), channels_);
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
    if (size_ + buffer_.size() == 0) buffer_ += base::CsvHeader(channels_);
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
        uint64_t size = 0;
        base::UniqueFile file = OpenForAppend(next, CREATE_NEW, &size);
        if (file) {
            base::SrwExclusiveLock hold(lock_);
            file_ = std::move(file);
            size_ = 0;
            return true;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            Fail(HRESULT_FROM_WIN32(error));
            return false;
        }
    }
}

// Whole lines in one write: a host killed meanwhile leaves no row in part but the last line.
bool CycleRecorder::WriteOut() noexcept {
    if (buffer_.empty()) return true;
    DWORD written = 0;
    if (!platform_.writeFile(file_.get(), buffer_.data(), static_cast<DWORD>(buffer_.size()), &written,
                             nullptr) ||
        written != buffer_.size()) {
        Fail(written != buffer_.size() && ::GetLastError() == ERROR_SUCCESS
                 ? HRESULT_FROM_WIN32(ERROR_DISK_FULL)
                 : base::HResultFromLastError());
        return false;
    }
    size_ += written;
    buffer_.clear();
    return true;
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
