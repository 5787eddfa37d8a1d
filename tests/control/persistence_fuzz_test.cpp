// Saved state from a hostile or broken container, in bulk: streams and storages with random,
// truncated, oversized and wrong-version data, streams that fail part-way, and property bags that
// fail or answer with other types. Every load gives a documented answer; a failed load leaves the
// control as it was (its saved form unchanged) and usable, and nothing leaks.
#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <vector>

#include "base/com_object.h"
#include "base/com_ptr.h"
#include "base/variant.h"
#include "harness/process_usage.h"
#include "tests/control/vandrel_ocx.h"
#include "tests/support/call_site.h"
#include "tests/support/fuzz_support.h"
#include "tests/support/sim_helpers.h"
#include "tests/support/hresult_matchers.h"

using base::ComPtr;
using harness::CountOpenHandles;
using testsupport::FuzzRandom;
using testsupport::FuzzSetting;
using namespace testsupport;
using namespace client;  // DISPIDs

namespace {

// A read-only stream over bytes that can fail with a chosen error once failAt bytes are read.
class ByteStream final : public base::ComObject<ByteStream, base::Lifetime::Scoped, IStream,
                                                base::Via<ISequentialStream, IStream>> {
public:
    ByteStream(std::vector<BYTE> bytes, size_t failAt, HRESULT failure)
        : bytes_(std::move(bytes)), failAt_(failAt), failure_(failure) {}

    STDMETHODIMP Read(void* buffer, ULONG size, ULONG* read) noexcept override {
        if (read) *read = 0;
        if (pos_ >= failAt_) return failure_;
        const size_t n = std::min<size_t>({size, bytes_.size() - pos_, failAt_ - pos_});
        std::memcpy(buffer, bytes_.data() + pos_, n);
        pos_ += n;
        if (read) *read = static_cast<ULONG>(n);
        return n == size ? S_OK : S_FALSE;
    }
    STDMETHODIMP Write(const void*, ULONG, ULONG*) noexcept override { return STG_E_ACCESSDENIED; }
    STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP SetSize(ULARGE_INTEGER) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) noexcept override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Commit(DWORD) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Revert() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Stat(STATSTG*, DWORD) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Clone(IStream**) noexcept override { return E_NOTIMPL; }

private:
    std::vector<BYTE> bytes_;
    size_t pos_ = 0;
    const size_t failAt_;
    const HRESULT failure_;
};

// A property bag that answers each read its own way: a failure, a number, or another type.
class HostileBag final : public base::ComObject<HostileBag, base::Lifetime::Scoped, IPropertyBag> {
public:
    explicit HostileBag(FuzzRandom& r) : r_(r) {}
    STDMETHODIMP Read(LPCOLESTR, VARIANT* value, IErrorLog*) noexcept override {
        switch (r_.Below(16)) {
            case 0: return E_INVALIDARG;
            case 1: return E_FAIL;
            case 2:
                // A sloppy bag: fails but leaves a string behind for the caller.
                value->vt = VT_BSTR;
                value->bstrVal = ::SysAllocString(L"left over");
                return E_FAIL;
            case 3:
                value->vt = VT_BSTR;
                value->bstrVal =
                    r_.OneIn(4) ? ::SysAllocStringLen(nullptr, 100000) : ::SysAllocString(L"abc");
                if (value->bstrVal && ::SysStringLen(value->bstrVal) == 100000) {
                    for (UINT i = 0; i < 100000; ++i) value->bstrVal[i] = L'7';
                }
                return S_OK;
            case 4:
                value->vt = VT_BSTR;
                value->bstrVal = ::SysAllocString(L" 1234 ");
                return S_OK;
            case 5:
                value->vt = VT_R8;
                value->dblVal = r_.OneIn(2) ? 1e300 : std::numeric_limits<double>::quiet_NaN();
                return S_OK;
            case 6:
                value->vt = VT_BYREF | VT_I4;
                value->plVal = nullptr;
                return S_OK;
            case 7:
                value->vt = VT_DISPATCH;
                value->pdispVal = nullptr;
                return S_OK;
            case 8: value->vt = VT_EMPTY; return S_OK;
            case 9:
                value->vt = VT_BYREF | VT_VARIANT;
                value->pvarVal = value;  // a reference to itself
                return S_OK;
            case 10:
                value->vt = VT_ARRAY | VT_I4;
                value->parray = nullptr;
                return S_OK;
            case 11: return S_OK;  // success, and the VT_I4 asked for left with whatever it held
            default:
                value->vt = VT_I4;
                value->lVal = static_cast<LONG>(r_.Next());
                return S_OK;
        }
    }
    STDMETHODIMP Write(LPCOLESTR, VARIANT*) noexcept override { return E_NOTIMPL; }

private:
    FuzzRandom& r_;
};

std::vector<BYTE> SavedForm(IUnknown* ctrl, testsupport::CallSite caller = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(caller);
    ComPtr<IPersistStreamInit> persist;
    ComPtr<IStream> stream;
    EXPECT_HR(S_OK, ctrl->QueryInterface(IID_IPersistStreamInit, persist.put_void()));
    EXPECT_HR(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
    if (!persist || !stream) return {};
    EXPECT_HR(S_OK, persist->Save(stream.get(), FALSE));
    STATSTG stat = {};
    stream->Stat(&stat, STATFLAG_NONAME);
    std::vector<BYTE> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG read = 0;
    stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
    return bytes;
}

std::vector<BYTE> RandomBytes(FuzzRandom& r, const std::vector<BYTE>& valid) {
    std::vector<BYTE> bytes;
    switch (r.Below(5)) {
        case 0:  // random
            bytes.resize(r.Below(40));
            for (auto& b : bytes) b = static_cast<BYTE>(r.Next());
            break;
        case 1:  // truncated
            bytes.assign(valid.begin(), valid.begin() + r.Below(static_cast<UINT>(valid.size())));
            break;
        case 2:  // oversized
            bytes = valid;
            bytes.resize(valid.size() + 1 + r.Below(5000), static_cast<BYTE>(r.Next()));
            break;
        default: {  // another version, or random words in the right places
            bytes = valid;
            const UINT word = r.Below(static_cast<UINT>(valid.size() / 4));
            const DWORD value = r.OneIn(2) ? r.Next() : (r.Below(4) << 16);
            std::memcpy(bytes.data() + word * 4, &value, 4);
            break;
        }
    }
    return bytes;
}

bool IsDocumentedLoadResult(HRESULT hr, HRESULT injected) {
    return hr == S_OK || hr == STG_E_READFAULT || hr == E_POINTER || hr == STG_E_FILENOTFOUND ||
           (injected != S_OK && hr == injected);
}

// The control still answers: a setting can be changed and read back, and a reading comes back.
void ExpectUsable(IDispatch* ctrl, const char* after,
                  testsupport::CallSite caller = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(caller);
    const LONG interval = GetLong(ctrl, kDispidInterval);
    EXPECT_HR(S_OK, Put(ctrl, kDispidInterval, I4(interval + 1))) << after;
    EXPECT_EQ(interval + 1, GetLong(ctrl, kDispidInterval)) << after;
    EXPECT_HR(S_OK, Put(ctrl, kDispidInterval, I4(interval))) << after;
    EXPECT_EQ(32767, GetChnlValue(ctrl, 0)) << after << ": no reading before a start";
}

}  // namespace

TEST(PersistenceFuzz, HostileSavedStateGetsDocumentedAnswersAndFailedLoadsChangeNothing) {
    SimBoards sim("356:wave");
    auto ctrl = CreateControl();
    ASSERT_TRUE(ctrl);
    ComPtr<IPersistStreamInit> streamInit;
    ComPtr<IPersistStorage> storage;
    ComPtr<IPersistPropertyBag> bagInit;
    ASSERT_HR(S_OK, ctrl->QueryInterface(IID_IPersistStreamInit, streamInit.put_void()));
    ASSERT_HR(S_OK, ctrl->QueryInterface(IID_IPersistStorage, storage.put_void()));
    ASSERT_HR(S_OK, ctrl->QueryInterface(IID_IPersistPropertyBag, bagInit.put_void()));
    ASSERT_HR(S_OK, streamInit->InitNew());
    const std::vector<BYTE> valid = SavedForm(ctrl.get());
    ASSERT_EQ(16u, valid.size());

    const uint64_t seed = FuzzSetting("SEED", 20261208) + 2;
    const uint64_t loads = FuzzSetting("CALLS", 50000) / 10;
    FuzzRandom r(seed);
    std::map<HRESULT, uint64_t> results;
    int failures = 0;
    auto check = [&](bool ok, uint64_t n, const char* what, HRESULT hr) {
        if (ok) return;
        ++failures;
        ADD_FAILURE() << "load " << n << ": " << what << ", hr 0x" << std::hex << hr;
    };

    auto run = [&](uint64_t count) {
        for (uint64_t n = 0; n < count && failures < 20; ++n) {
            const std::vector<BYTE> before = SavedForm(ctrl.get());
            const bool dirtyBefore = IsDirty(ctrl.get());
            HRESULT hr = S_OK;
            HRESULT injected = S_OK;
            std::vector<BYTE> bytes;
            switch (r.Below(3)) {
                case 0: {
                    bytes = RandomBytes(r, valid);
                    const bool fails = r.OneIn(4);
                    const HRESULT kErrors[] = {E_FAIL, STG_E_ACCESSDENIED, STG_E_READFAULT, E_UNEXPECTED};
                    injected = fails ? r.Pick(kErrors) : S_OK;
                    ByteStream stream(bytes, fails ? r.Below(20) : SIZE_MAX, injected);
                    hr = streamInit->Load(r.OneIn(100) ? nullptr : &stream);
                    check(stream.RefCount() == 1, n, "the stream was kept", hr);
                    break;
                }
                case 1: {
                    bytes = RandomBytes(r, valid);
                    ComPtr<ILockBytes> lockBytes;
                    ComPtr<IStorage> file;
                    EXPECT_HR(S_OK, ::CreateILockBytesOnHGlobal(nullptr, TRUE, lockBytes.put()));
                    EXPECT_HR(S_OK, ::StgCreateDocfileOnILockBytes(
                                        lockBytes.get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                        0, file.put()));
                    if (!file) break;
                    if (!r.OneIn(10)) {
                        ComPtr<IStream> contents;
                        EXPECT_HR(S_OK,
                                  file->CreateStream(r.OneIn(10) ? L"contents " : L"Contents",
                                                     STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                                     0, contents.put()));
                        if (contents && !bytes.empty()) {
                            contents->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
                        }
                    }
                    hr = storage->Load(r.OneIn(100) ? nullptr : file.get());
                    break;
                }
                default: {
                    HostileBag bag(r);
                    hr = bagInit->Load(r.OneIn(100) ? nullptr : &bag, nullptr);
                    check(bag.RefCount() == 1, n, "the bag was kept", hr);
                    check(hr == S_OK || hr == E_POINTER, n, "a bag load must take what it can", hr);
                    break;
                }
            }
            ++results[hr];
            check(IsDocumentedLoadResult(hr, injected), n, "undocumented result", hr);
            if (FAILED(hr)) {
                check(SavedForm(ctrl.get()) == before, n, "a failed load changed the saved state", hr);
                check(IsDirty(ctrl.get()) == dirtyBefore, n, "a failed load changed the modified flag", hr);
            } else {
                check(!IsDirty(ctrl.get()), n, "a load left the control modified", hr);
            }
            if (n % 256 == 0) ExpectUsable(ctrl.get(), "after loads");
            // Back to a known state now and then, so that failed loads also meet fresh values.
            if (r.OneIn(8)) streamInit->InitNew();
        }
    };
    // A first run brings in what the storage and string code keep for good; the counts are taken
    // around the second.
    run(200);
    const DWORD handlesBefore = CountOpenHandles();
    const SIZE_T heapBefore = testsupport::HeapBytesInUse();
    run(loads);
    const DWORD handlesAfter = CountOpenHandles();
    const SIZE_T heapAfter = testsupport::HeapBytesInUse();

    std::printf("Saved state: seed %llu, %llu loads\n", static_cast<unsigned long long>(seed),
                static_cast<unsigned long long>(loads));
    for (const auto& [hr, count] : results) {
        std::printf("  0x%08lX  %llu\n", static_cast<unsigned long>(hr),
                    static_cast<unsigned long long>(count));
    }
    std::printf("  handles %lu -> %lu, heap bytes in use %llu -> %llu\n", handlesBefore, handlesAfter,
                static_cast<unsigned long long>(heapBefore), static_cast<unsigned long long>(heapAfter));
    EXPECT_EQ(handlesBefore, handlesAfter);
    EXPECT_LT(heapAfter, heapBefore + 64 * 1024);

    // Still a working control: it samples.
    ExpectUsable(ctrl.get(), "at the end");
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(20)));
    EXPECT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    EXPECT_TRUE(WaitUntil([&] { return GetChnlValue(ctrl.get(), 0) != 32767; }));
    Stop(ctrl.get());
}
