#include "control/vandrel_ctrl.h"

#include <algorithm>
#include <iterator>

#include "activex/module.h"
#include "base/hresult.h"
#include "control/identity.h"
#include "control/resource.h"
#include "control/vandrel_prop_page.h"
#include "vandrel_h.h"

namespace {

activex::TypeLibCache g_typeLib(LIBID_VandrelLib, vandrel::kLibMajor, vandrel::kLibMinor);

const CLSID kPropertyPages[] = {vandrel::kPageClsid};

// The properties verb, named by the framework's string id; the module carries no such string.
const activex::Verb kVerbs[] = {
    {OLEIVERB_PROPERTIES, activex::kPropertiesVerbNameId, OLEVERBATTRIB_ONCONTAINERMENU},
};

const activex::ControlClass kClass = {
    CLSID_Vandrel,
    DIID__DVandrel,
    DIID__DVandrelEvents,
    g_typeLib,
    IDS_VANDREL,
    CVandrelCtrl::kMiscStatus,
    kPropertyPages,
    std::size(kPropertyPages),
    kVerbs,
    std::size(kVerbs),
};

}  // namespace

const activex::DispatchEntry<CVandrelCtrl> CVandrelCtrl::kDispatchMap[6] = {
    activex::DispProperty(1, L"Interval", L"Time Interval", &CVandrelCtrl::m_Interval,
                          &CVandrelCtrl::OnIntervalChanged),
    activex::DispProperty(2, L"Address", L"Status Address", &CVandrelCtrl::m_Address,
                          &CVandrelCtrl::OnAddressChanged),
    activex::DispMethod<&CVandrelCtrl::GetChnlValue, VT_I2>(3, L"GetChnlValue", L"Read Data"),
    activex::DispMethod<&CVandrelCtrl::Start, VT_BOOL>(4, L"Start", L"Start working"),
    activex::DispMethod<&CVandrelCtrl::Stop, VT_EMPTY>(5, L"Stop", L"Stop working"),
    activex::DispProperty(6, L"ChannelNumber", L"Chanel Count", &CVandrelCtrl::m_ChannelNumber,
                          &CVandrelCtrl::OnChannelNumberChanged),
};

HRESULT CVandrelCtrl::CreateInstance(REFIID riid, void** ppv) noexcept {
    return base::CreateObject<CVandrelCtrl>(riid, ppv);
}

CVandrelCtrl::CVandrelCtrl(CChannelSampler::EventCreator createEvent) noexcept
    : Control(kClass),
      m_Interval(0),
      m_Address(0),
      m_Sampler(::GetTickCount, createEvent),
      m_ChannelNumber(0) {
    // The load is not checked: without the bitmap, Draw paints nothing.
    m_Bitmap.reset(::LoadBitmapW(activex::Module::Instance(), MAKEINTRESOURCEW(IDB_VANDREL)));
    m_Interval = m_Sampler.GetInterval();
    m_Address = m_Sampler.GetAddress();
    m_ChannelNumber = m_Sampler.GetChannelNumber();
}

CVandrelCtrl::~CVandrelCtrl() = default;

// --- properties ----------------------------------------------------------------------------------

void CVandrelCtrl::ApplySetting(LONG& field, LONG (CChannelSampler::*get)() const noexcept,
                                void (CChannelSampler::*set)(LONG) noexcept) noexcept {
    if ((m_Sampler.*get)() != field) {
        if (m_Sampler.IsRunning()) {
            m_Sampler.Stop();
            (m_Sampler.*set)(field);
            m_Sampler.Start();
        } else {
            (m_Sampler.*set)(field);
        }
        // The sampler may have refused the value: the property shows what it holds.
        field = (m_Sampler.*get)();
    }
    SetModifiedFlag();
}

void CVandrelCtrl::OnIntervalChanged() noexcept {
    ApplySetting(m_Interval, &CChannelSampler::GetInterval, &CChannelSampler::SetInterval);
}

void CVandrelCtrl::OnAddressChanged() noexcept {
    ApplySetting(m_Address, &CChannelSampler::GetAddress, &CChannelSampler::SetAddress);
}

void CVandrelCtrl::OnChannelNumberChanged() noexcept {
    ApplySetting(m_ChannelNumber, &CChannelSampler::GetChannelNumber, &CChannelSampler::SetChannelNumber);
}

// --- methods -------------------------------------------------------------------------------------

SHORT CVandrelCtrl::GetChnlValue(LONG nChnlIndex) noexcept { return m_Sampler.GetChnlValue(nChnlIndex); }

BOOL CVandrelCtrl::Start() noexcept { return m_Sampler.Start(); }

void CVandrelCtrl::Stop() noexcept { m_Sampler.Stop(); }

// --- persistence and drawing ---------------------------------------------------------------------

HRESULT CVandrelCtrl::ExchangeProperties(activex::PropExchange& px) noexcept {
    RETURN_IF_FAILED(activex::ExchangeVersion(px, kVersion));
    return ControlBase::ExchangeProperties(px);
}

// The picture at its own size, at the top left corner of the bounds (a container that prints or
// snapshots the control passes where the control sits) and cut off at their edges.
void CVandrelCtrl::Draw(HDC dc, const RECT& bounds, const RECT&) noexcept {
    if (!dc || !m_Bitmap) return;
    BITMAP info;
    if (::GetObjectW(m_Bitmap.get(), sizeof info, &info) != sizeof info) return;
    // In 64 bits: a host's bounds may span more than a LONG holds.
    const LONGLONG width = std::min<LONGLONG>(info.bmWidth, LONGLONG{bounds.right} - bounds.left);
    const LONGLONG height = std::min<LONGLONG>(info.bmHeight, LONGLONG{bounds.bottom} - bounds.top);
    if (width <= 0 || height <= 0) return;
    base::UniqueMemoryDc memory(::CreateCompatibleDC(dc));
    if (!memory) return;
    HGDIOBJ old = ::SelectObject(memory.get(), m_Bitmap.get());
    ::BitBlt(dc, bounds.left, bounds.top, static_cast<int>(width), static_cast<int>(height), memory.get(), 0,
             0, SRCCOPY);
    ::SelectObject(memory.get(), old);
}
