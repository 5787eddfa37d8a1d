// The control's recording: RecordFile, RecordLimit, RecordLost, Recording, over its
// engine::CycleRecorder.
#include "control/vandrel_ctrl.h"

#include <string>

#include "base/hresult.h"
#include "base/module_file.h"
#include "control/automation_values.h"

using vandrel::ClampToLong;
using vandrel::NewText;

HRESULT CVandrelCtrl::RecordFile(BSTR* path) noexcept { return NewText(recordFile_, path); }

// A path is taken as a full one, as the host's current folder had it when it was set.
HRESULT CVandrelCtrl::PutRecordFile(BSTR path) noexcept try {
    if (!path || !*path) {
        recorder_.Close();
        recordFile_.clear();
        return S_OK;
    }
    ::SetLastError(ERROR_SUCCESS);
    const std::wstring full = base::FullPath(path);
    RETURN_LAST_ERROR_IF(full.empty());
    RETURN_IF_FAILED(recorder_.Record(full, static_cast<size_t>(m_Sampler.GetBufferSize()), m_ChannelNumber,
                                      MeasureColumns()));
    recordFile_ = full;
    return S_OK;
}
CATCH_RETURN()

LONG CVandrelCtrl::RecordLimit() noexcept { return ClampToLong(recorder_.LimitBytes()); }

// Not a saved setting: the modified flag stays.
HRESULT CVandrelCtrl::PutRecordLimit(LONG bytes) noexcept {
    recorder_.SetLimitBytes(static_cast<uint64_t>(bytes));
    return S_OK;
}

LONG CVandrelCtrl::RecordLost() noexcept { return ClampToLong(recorder_.Lost()); }

bool CVandrelCtrl::Recording() noexcept { return recorder_.Recording(); }
