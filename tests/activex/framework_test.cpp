// The framework's plain parts on their own: the module's factory list, property exchange in its
// three directions, and dialog templates.
#include <gtest/gtest.h>

#include <objbase.h>
#include <ocidl.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "activex/dialog_template.h"
#include "activex/module.h"
#include "activex/property_exchange.h"
#include "base/com_object.h"
#include "base/com_ptr.h"
#include "base/hresult.h"
#include "base/variant.h"
#include "tests/support/hresult_matchers.h"
#include "tests/support/property_bag.h"

namespace {

// --- a module with classes of the test's own -----------------------------------------------------

const CLSID kFirst = {0x11111111, 0x1111, 0x1111, {1, 1, 1, 1, 1, 1, 1, 1}};
const CLSID kSecond = {0x22222222, 0x2222, 0x2222, {2, 2, 2, 2, 2, 2, 2, 2}};

class Widget final : public base::ComObject<Widget, activex::ModuleLifetime, IPersist> {
public:
    STDMETHODIMP GetClassID(CLSID* clsid) noexcept override {
        *clsid = kFirst;
        return S_OK;
    }
};

std::vector<std::string> g_registryCalls;
bool g_secondFails = false;

[[nodiscard]] HRESULT UpdateFirst(HINSTANCE, BOOL add) noexcept {
    g_registryCalls.push_back(add ? "first+" : "first-");
    return S_OK;
}

[[nodiscard]] HRESULT UpdateSecond(HINSTANCE, BOOL add) noexcept {
    g_registryCalls.push_back(add ? "second+" : "second-");
    return g_secondFails ? E_ACCESSDENIED : S_OK;
}

[[nodiscard]] HRESULT CreateWidget(REFIID riid, void** ppv) noexcept {
    return base::CreateObject<Widget>(riid, ppv);
}

std::vector<int> g_cleanups;
void CleanupA() noexcept { g_cleanups.push_back(1); }
void CleanupB() noexcept { g_cleanups.push_back(2); }

}  // namespace

TEST(FrameworkModule, FactoriesServeOnlyWhileTheModuleIsInitialised) {
    const activex::ClassEntry classes[] = {
        {&kFirst, &CreateWidget, &UpdateFirst},
        {&CLSID_NULL, &CreateWidget, nullptr},
    };
    activex::Module module(classes);
    base::ComPtr<IClassFactory> factory;
    EXPECT_HR(CLASS_E_CLASSNOTAVAILABLE, module.GetClassObject(kFirst, IID_IClassFactory, factory.put_void()))
        << "not yet initialised";
    ASSERT_TRUE(module.Init(::GetModuleHandleW(nullptr)));
    EXPECT_EQ(::GetModuleHandleW(nullptr), activex::Module::Instance());
    EXPECT_HR(CLASS_E_CLASSNOTAVAILABLE,
              module.GetClassObject(CLSID_NULL, IID_IClassFactory, factory.put_void()));
    ASSERT_HR(S_OK, module.GetClassObject(kFirst, IID_IClassFactory, factory.put_void()));

    base::ComPtr<IPersist> widget;
    ASSERT_HR(S_OK, factory->CreateInstance(nullptr, IID_IPersist, widget.put_void()));
    EXPECT_EQ(1, activex::Module::ObjectCount());
    EXPECT_HR(S_FALSE, module.CanUnloadNow());
    widget.reset();
    EXPECT_EQ(0, activex::Module::ObjectCount());
    EXPECT_HR(S_FALSE, module.CanUnloadNow()) << "the factory is still held";
    factory.reset();
    EXPECT_HR(S_OK, module.CanUnloadNow());

    module.Exit(true);
    EXPECT_HR(CLASS_E_CLASSNOTAVAILABLE, module.GetClassObject(kFirst, IID_IClassFactory, factory.put_void()))
        << "revoked";
}

TEST(FrameworkModule, RegistryUpdatesWalkTheListAndStopAtTheFirstFailure) {
    const activex::ClassEntry classes[] = {
        {&kSecond, &CreateWidget, &UpdateSecond},
        {&kFirst, &CreateWidget, &UpdateFirst},
    };
    activex::Module module(classes);
    g_registryCalls.clear();
    g_secondFails = false;
    EXPECT_HR(S_OK, module.UpdateRegistry(TRUE));
    EXPECT_HR(S_OK, module.UpdateRegistry(FALSE));
    EXPECT_EQ((std::vector<std::string>{"second+", "first+", "second-", "first-"}), g_registryCalls);
    g_registryCalls.clear();
    g_secondFails = true;
    EXPECT_HR(E_ACCESSDENIED, module.UpdateRegistry(TRUE)) << "the first failure's own error";
    EXPECT_EQ((std::vector<std::string>{"second+"}), g_registryCalls);
}

TEST(FrameworkModule, ExitFromALiveProcessRunsTheCleanupsInReverse) {
    const activex::ClassEntry classes[] = {{&kFirst, &CreateWidget, nullptr}};
    activex::Module module(classes);
    g_cleanups.clear();
    activex::AtModuleExit(&CleanupA);
    activex::AtModuleExit(&CleanupB);
    module.Exit(true);
    EXPECT_TRUE(g_cleanups.empty()) << "nothing is given back while the process ends";
    module.Exit(false);
    EXPECT_EQ((std::vector<int>{2, 1}), g_cleanups);
    module.Exit(false);
    EXPECT_EQ(2u, g_cleanups.size()) << "only once";
}

// --- creation with a set-up that can fail --------------------------------------------------------

namespace {

std::vector<std::string> g_gadgetCalls;

// Records its set-up, its first QueryInterface and its destruction; its set-up gives what it is told.
class Gadget final : public base::ComObject<Gadget, activex::ModuleLifetime, IPersist> {
public:
    explicit Gadget(HRESULT setup) noexcept : setup_(setup) {}
    ~Gadget() override { g_gadgetCalls.push_back("destroyed"); }
    [[nodiscard]] HRESULT FinalConstruct() noexcept override {
        g_gadgetCalls.push_back("FinalConstruct");
        return setup_;
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        g_gadgetCalls.push_back("QueryInterface");
        return ComObject::QueryInterface(riid, ppv);
    }
    STDMETHODIMP GetClassID(CLSID* clsid) noexcept override {
        *clsid = kSecond;
        return S_OK;
    }

private:
    const HRESULT setup_;
};

void* const kUntouched = reinterpret_cast<void*>(0x1234);

}  // namespace

TEST(FrameworkCreation, SetUpRunsBeforeTheFirstQueryInterface) {
    g_gadgetCalls.clear();
    void* out = kUntouched;
    ASSERT_HR(S_OK, base::CreateObject<Gadget>(IID_IPersist, &out, S_OK));
    ASSERT_NE(nullptr, out);
    EXPECT_EQ((std::vector<std::string>{"FinalConstruct", "QueryInterface"}), g_gadgetCalls);
    EXPECT_EQ(1, activex::Module::ObjectCount());
    static_cast<IPersist*>(out)->Release();
    EXPECT_EQ(0, activex::Module::ObjectCount());
}

TEST(FrameworkCreation, FailedSetUpIsTheCreatorsErrorAndFreesTheObject) {
    for (HRESULT failure : {E_OUTOFMEMORY, HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES), E_ACCESSDENIED}) {
        g_gadgetCalls.clear();
        void* out = kUntouched;
        EXPECT_HR(failure, base::CreateObject<Gadget>(IID_IPersist, &out, failure));
        EXPECT_EQ(nullptr, out);
        EXPECT_EQ((std::vector<std::string>{"FinalConstruct", "destroyed"}), g_gadgetCalls)
            << "no interface is handed out of an object that failed its set-up";
        EXPECT_EQ(0, activex::Module::ObjectCount());
    }
    g_gadgetCalls.clear();
    void* out = kUntouched;
    EXPECT_HR(E_NOINTERFACE, base::CreateObject<Gadget>(IID_IStream, &out, S_OK));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ((std::vector<std::string>{"FinalConstruct", "QueryInterface", "destroyed"}), g_gadgetCalls);
}

namespace {

template <class Throw>
[[nodiscard]] HRESULT Guarded(Throw&& body) noexcept try {
    body();
    return S_OK;
}
CATCH_RETURN()

}  // namespace

TEST(FrameworkCreation, CaughtExceptionsMapToOneHresultEach) {
    EXPECT_HR(S_OK, Guarded([] {}));
    EXPECT_HR(E_OUTOFMEMORY, Guarded([] { throw std::bad_alloc(); }));
    EXPECT_HR(E_UNEXPECTED, Guarded([] { throw std::length_error("too long"); }));
    EXPECT_HR(E_UNEXPECTED, Guarded([] { throw 42; }));
}

// --- property exchange ---------------------------------------------------------------------------

TEST(FrameworkExchange, StreamWordsInExchangeOrder) {
    base::ComPtr<IStream> stream;
    ASSERT_HR(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
    activex::StreamExchange save(activex::PropExchange::Direction::kSave, stream.get());
    LONG a = -2;
    ULONG b = 0xFFFFFFFFu;
    EXPECT_HR(S_OK, save.ExchangeLong(L"a", a, nullptr));
    EXPECT_HR(S_OK, save.ExchangeULong(L"b", b, nullptr));

    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    activex::StreamExchange load(activex::PropExchange::Direction::kLoad, stream.get());
    LONG a2 = 0;
    ULONG b2 = 0, c2 = 7;
    const ULONG def = 5;
    EXPECT_HR(S_OK, load.ExchangeLong(L"a", a2, nullptr));
    EXPECT_HR(S_OK, load.ExchangeULong(L"b", b2, nullptr));
    EXPECT_HR(STG_E_READFAULT, load.ExchangeULong(L"c", c2, &def)) << "the stream ended";
    EXPECT_EQ(-2, a2);
    EXPECT_EQ(0xFFFFFFFFu, b2);
    EXPECT_EQ(7u, c2) << "unchanged by a failed read";
}

TEST(FrameworkExchange, ResetTakesDefaultsWhereThereAreAny) {
    activex::ResetExchange reset;
    LONG withDefault = 1, without = 2;
    const LONG def = 9;
    EXPECT_HR(S_OK, reset.ExchangeLong(L"x", withDefault, &def));
    EXPECT_HR(S_OK, reset.ExchangeLong(L"y", without, nullptr));
    EXPECT_EQ(9, withDefault);
    EXPECT_EQ(2, without);
    activex::SizeExchange size;
    ULONG unsignedValue = 3;
    EXPECT_HR(S_OK, size.ExchangeLong(L"x", withDefault, nullptr));
    EXPECT_HR(S_OK, size.ExchangeULong(L"y", unsignedValue, nullptr));
    EXPECT_EQ(8u, size.Bytes());
}

TEST(FrameworkExchange, BagValuesByNameWithDefaultsForTheMissing) {
    testsupport::FakePropertyBag bag;
    activex::BagExchange save(activex::PropExchange::Direction::kSave, &bag, nullptr);
    LONG x = 1234;
    EXPECT_HR(S_OK, save.ExchangeLong(L"x", x, nullptr));
    ASSERT_EQ(1u, bag.values.size());
    EXPECT_EQ(VT_I4, bag.values[0].value.vt());
    bag.Add(L"bad", base::Variant(L"not a number"));

    activex::BagExchange load(activex::PropExchange::Direction::kLoad, &bag, nullptr);
    LONG loaded = 0, missing = 5, missingWithDefault = 5, bad = 6;
    const LONG def = 77;
    EXPECT_HR(S_OK, load.ExchangeLong(L"x", loaded, &def));
    EXPECT_HR(S_OK, load.ExchangeLong(L"none", missing, nullptr));
    EXPECT_HR(S_OK, load.ExchangeLong(L"none", missingWithDefault, &def));
    EXPECT_HR(S_OK, load.ExchangeLong(L"bad", bad, nullptr));
    EXPECT_EQ(1234, loaded);
    EXPECT_EQ(5, missing);
    EXPECT_EQ(77, missingWithDefault);
    EXPECT_EQ(6, bad) << "a value that is no number counts as absent";
}

namespace {

using Direction = activex::PropExchange::Direction;

// A channel's values of every kind, with a long after them all so that their order shows.
struct Mixed {
    LONG first = 0;
    double off = 0, negativeZero = 0, tiny = 0;
    std::wstring unit, empty = L"sentinel";
    LONG last = 0;
};

[[nodiscard]] HRESULT ExchangeMixed(activex::PropExchange& px, Mixed& m) noexcept {
    RETURN_IF_FAILED(px.ExchangeLong(L"first", m.first, nullptr));
    RETURN_IF_FAILED(px.ExchangeDouble(L"off", m.off, nullptr));
    RETURN_IF_FAILED(px.ExchangeDouble(L"negativeZero", m.negativeZero, nullptr));
    RETURN_IF_FAILED(px.ExchangeDouble(L"tiny", m.tiny, nullptr));
    RETURN_IF_FAILED(px.ExchangeText(L"unit", m.unit, nullptr));
    RETURN_IF_FAILED(px.ExchangeText(L"empty", m.empty, nullptr));
    return px.ExchangeLong(L"last", m.last, nullptr);
}

// Doubles by their bits, so that a NaN equals itself and -0.0 differs from 0.0.
auto Exactly(const Mixed& m) {
    const auto bits = [](double d) {
        uint64_t b = 0;
        std::memcpy(&b, &d, sizeof b);
        return b;
    };
    return std::make_tuple(m.first, bits(m.off), bits(m.negativeZero), bits(m.tiny), m.unit, m.empty, m.last);
}

void Rewind(IStream* stream) {
    const LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
}

std::vector<BYTE> BytesOf(IStream* stream) {
    Rewind(stream);
    std::vector<BYTE> bytes(64);
    ULONG got = 0;
    stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got);
    bytes.resize(got);
    return bytes;
}

}  // namespace

TEST(FrameworkExchange, EveryKindGivesBackLongsDoublesAndTextExactlyInOrder) {
    base::ComPtr<IStream> stream;
    ASSERT_HR(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
    testsupport::FakePropertyBag bag;
    std::vector<activex::ValuesExchange::Value> kept;
    activex::StreamExchange streamSave(Direction::kSave, stream.get()),
        streamLoad(Direction::kLoad, stream.get());
    activex::BagExchange bagSave(Direction::kSave, &bag, nullptr), bagLoad(Direction::kLoad, &bag, nullptr);
    activex::ValuesExchange keep(Direction::kSave, &kept), restore(Direction::kLoad, &kept);
    const struct {
        const char* kind;
        activex::PropExchange& save;
        activex::PropExchange& load;
    } kinds[] = {{"stream", streamSave, streamLoad}, {"bag", bagSave, bagLoad}, {"values", keep, restore}};
    const Mixed kSaved = {-2, std::numeric_limits<double>::quiet_NaN(), -0.0, 1e-300, L"m\u00B0C", L"", 7};
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.kind);
        Mixed saved = kSaved, loaded;
        ASSERT_HR(S_OK, ExchangeMixed(k.save, saved));
        Rewind(stream.get());
        ASSERT_HR(S_OK, ExchangeMixed(k.load, loaded));
        EXPECT_EQ(Exactly(kSaved), Exactly(loaded));
    }
    EXPECT_EQ(VT_R8, bag.Find(L"off")->value.vt());
    EXPECT_EQ(VT_BSTR, bag.Find(L"unit")->value.vt());

    activex::SizeExchange size;
    Mixed sized = kSaved;
    ASSERT_HR(S_OK, ExchangeMixed(size, sized));
    EXPECT_EQ(4u + 3 * 8 + (4 + 8) + 4 + 4, size.Bytes());
    EXPECT_EQ(size.Bytes(), BytesOf(stream.get()).size());
}

// A double is its 8 bytes, a text of odd length is padded to a whole word. A damaged document fails
// the load and leaves the value as it was; a text too long to load back is not saved either.
TEST(FrameworkExchange, StreamWordsOfDoublesAndTextAndTheirDamage) {
    const std::vector<BYTE> words = {0, 0, 0, 0, 0, 0, 0xF8, 0x3F, 3, 0, 0, 0, 'k', 0, 'P', 0, 'a', 0, 0, 0};
    base::ComPtr<IStream> stream;
    ASSERT_HR(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
    activex::StreamExchange save(Direction::kSave, stream.get());
    double gain = 1.5;
    std::wstring unit = L"kPa";
    ASSERT_HR(S_OK, save.ExchangeDouble(L"gain", gain, nullptr));
    ASSERT_HR(S_OK, save.ExchangeText(L"unit", unit, nullptr));
    EXPECT_EQ(words, BytesOf(stream.get()));

    const ULONG tooLong = activex::kMaxStreamTextUnits + 1;
    std::vector<BYTE> absurd(words.begin(), words.begin() + 12);
    std::memcpy(absurd.data() + 8, &tooLong, sizeof tooLong);
    absurd.resize(absurd.size() + 2 * (tooLong + 1), 'x');  // the units are all there
    const struct {
        std::vector<BYTE> bytes;
        double number;  // what the double holds after the load
    } damaged[] = {{{words.begin(), words.begin() + 7}, 7},
                   {{words.begin(), words.begin() + 10}, 1.5},
                   {{words.begin(), words.end() - 4}, 1.5},
                   {{words.begin(), words.end() - 2}, 1.5},
                   {absurd, 1.5}};
    for (const auto& d : damaged) {
        SCOPED_TRACE(d.bytes.size());
        stream->SetSize(ULARGE_INTEGER{});
        Rewind(stream.get());
        stream->Write(d.bytes.data(), static_cast<ULONG>(d.bytes.size()), nullptr);
        Rewind(stream.get());
        activex::StreamExchange load(Direction::kLoad, stream.get());
        double number = 7;
        std::wstring text = L"kept";
        HRESULT hr = load.ExchangeDouble(L"gain", number, nullptr);
        if (SUCCEEDED(hr)) hr = load.ExchangeText(L"unit", text, L"default");
        EXPECT_HR(STG_E_READFAULT, hr);
        EXPECT_EQ(d.number, number);
        EXPECT_EQ(L"kept", text);
    }

    std::wstring longest(tooLong, L'x');
    activex::SizeExchange size;
    EXPECT_HR(E_INVALIDARG, save.ExchangeText(L"unit", longest, nullptr));
    EXPECT_HR(E_INVALIDARG, size.ExchangeText(L"unit", longest, nullptr));
}

// A value the bag lacks, or cannot give as the type asked for, takes the default or, without one,
// stays as it was.
TEST(FrameworkExchange, BagWithoutDoublesOrTextGivesDefaults) {
    testsupport::FakePropertyBag bag;
    bag.Add(L"gain", base::Variant(L"not a number"));
    activex::BagExchange load(Direction::kLoad, &bag, nullptr);
    const double one = 1, off = std::numeric_limits<double>::quiet_NaN();
    double gain = 5, limit = 5;
    std::wstring unit = L"mV", name = L"kept";
    EXPECT_HR(S_OK, load.ExchangeDouble(L"gain", gain, &one));
    EXPECT_HR(S_OK, load.ExchangeDouble(L"limit", limit, &off));
    EXPECT_HR(S_OK, load.ExchangeText(L"unit", unit, L"V"));
    EXPECT_HR(S_OK, load.ExchangeText(L"name", name, nullptr));
    EXPECT_EQ(1, gain);
    EXPECT_TRUE(std::isnan(limit)) << limit;
    EXPECT_EQ(L"V", unit);
    EXPECT_EQ(L"kept", name);
}

// --- dialog templates ----------------------------------------------------------------------------

namespace {

// Builds a template word by word.
class TemplateWriter {
public:
    TemplateWriter& Word(WORD w) {
        bytes_.push_back(static_cast<BYTE>(w & 0xFF));
        bytes_.push_back(static_cast<BYTE>(w >> 8));
        return *this;
    }
    TemplateWriter& Dword(DWORD d) { return Word(LOWORD(d)).Word(HIWORD(d)); }
    TemplateWriter& Text(const wchar_t* s) {
        for (; *s; ++s) Word(static_cast<WORD>(*s));
        return Word(0);
    }
    TemplateWriter& Bytes(BYTE a, BYTE b) {
        bytes_.push_back(a);
        bytes_.push_back(b);
        return *this;
    }
    const std::vector<BYTE>& Written() const { return bytes_; }

private:
    std::vector<BYTE> bytes_;
};

std::vector<BYTE> ExtendedTemplate() {
    TemplateWriter w;
    w.Word(1).Word(0xFFFF).Dword(0).Dword(0).Dword(WS_CHILD | DS_SETFONT | DS_FIXEDSYS).Word(0);
    w.Word(0).Word(0).Word(250).Word(62);
    w.Word(0).Word(0xFFFF).Word(0x0081).Text(L"");  // no menu, class by ordinal, empty title
    w.Word(9).Word(400).Bytes(1, 134).Text(L"MS Shell Dlg");
    return w.Written();
}

}  // namespace

TEST(FrameworkDialogTemplate, ReadsExtendedAndClassicTemplates) {
    const auto ex = ExtendedTemplate();
    activex::DialogTemplateInfo info;
    ASSERT_TRUE(activex::ParseDialogTemplate(ex.data(), ex.size(), &info));
    EXPECT_EQ(static_cast<DWORD>(WS_CHILD | DS_SETFONT | DS_FIXEDSYS), info.style);
    EXPECT_EQ(250, info.cx);
    EXPECT_EQ(62, info.cy);
    EXPECT_EQ(9, info.pointSize);
    EXPECT_EQ(400, info.weight);
    EXPECT_EQ(1, info.italic);
    EXPECT_EQ(134, info.charset);
    EXPECT_EQ(L"MS Shell Dlg", info.typeface);

    TemplateWriter classic;
    classic.Dword(WS_POPUP).Dword(0).Word(0).Word(5).Word(6).Word(100).Word(50);
    classic.Text(L"menu").Word(0).Text(L"Title");
    activex::DialogTemplateInfo plain;
    ASSERT_TRUE(activex::ParseDialogTemplate(classic.Written().data(), classic.Written().size(), &plain));
    EXPECT_EQ(static_cast<DWORD>(WS_POPUP), plain.style);
    EXPECT_EQ(5, plain.x);
    EXPECT_EQ(100, plain.cx);
    EXPECT_EQ(0, plain.pointSize) << "no font without DS_SETFONT";
}

TEST(FrameworkDialogTemplate, RefusesEveryTruncation) {
    const auto ex = ExtendedTemplate();
    for (size_t size = 0; size < ex.size(); ++size) {
        activex::DialogTemplateInfo info;
        EXPECT_FALSE(activex::ParseDialogTemplate(ex.data(), size, &info)) << size << " bytes";
    }
}

TEST(FrameworkDialogTemplate, PixelSizeGrowsWithTheFont) {
    const auto ex = ExtendedTemplate();
    activex::DialogTemplateInfo info;
    ASSERT_TRUE(activex::ParseDialogTemplate(ex.data(), ex.size(), &info));
    const SIZE small = activex::DialogSizeInPixels(info);
    info.pointSize = 18;
    const SIZE large = activex::DialogSizeInPixels(info);
    EXPECT_GT(small.cx, 250 / 2);
    EXPECT_GT(large.cx, small.cx);
    EXPECT_GT(large.cy, small.cy);
}
