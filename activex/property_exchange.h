// Property exchange: one description of a control's persistent values, run in one of three
// directions. A control's ExchangeProperties names each value once, in order; the exchange object
// decides whether that saves it, loads it or puts its default back.
//
// Streams hold the values as consecutive little-endian 32-bit words in exchange order (no names): a
// long is one word, a double its 8 bytes, a text a word with its length in UTF-16 units followed by
// the units and zero bytes up to a whole word. Property bags hold them by name as VT_I4, VT_R8 and
// VT_BSTR. Used on the control's apartment thread.
#pragma once

#include <ocidl.h>

#include <string>
#include <variant>
#include <vector>

namespace activex {

class PropExchange {
public:
    enum class Direction { kLoad, kSave, kReset };

    explicit PropExchange(Direction direction) noexcept : direction_(direction) {}
    virtual ~PropExchange() = default;
    PropExchange(const PropExchange&) = delete;
    PropExchange& operator=(const PropExchange&) = delete;

    bool Loading() const noexcept { return direction_ == Direction::kLoad; }

    // Save: writes value. Load: reads it; when the store has none, takes *defaultValue, or keeps
    // the value when there is no default. Reset: takes *defaultValue when there is one.
    [[nodiscard]] virtual HRESULT ExchangeLong(const wchar_t* name, LONG& value,
                                               const LONG* defaultValue) noexcept = 0;
    [[nodiscard]] HRESULT ExchangeULong(const wchar_t* name, ULONG& value,
                                        const ULONG* defaultValue) noexcept;
    // The same for a double (NaN and the sign of zero included) and for text (any UTF-16, embedded
    // nulls too).
    [[nodiscard]] virtual HRESULT ExchangeDouble(const wchar_t* name, double& value,
                                                 const double* defaultValue) noexcept = 0;
    [[nodiscard]] virtual HRESULT ExchangeText(const wchar_t* name, std::wstring& value,
                                               const wchar_t* defaultValue) noexcept = 0;

private:
    const Direction direction_;
};

// The longest text a stream holds, in UTF-16 units. A load refuses a longer length word as a damaged
// stream before allocating anything for it, so a save refuses such a text too (E_INVALIDARG), rather
// than write a document that cannot be read back.
constexpr ULONG kMaxStreamTextUnits = 1u << 20;

// Sequential words in a stream. A stream that ends early, or a text length over
// kMaxStreamTextUnits, fails the load with STG_E_READFAULT and leaves that value as it was.
class StreamExchange final : public PropExchange {
public:
    StreamExchange(Direction direction, IStream* stream) noexcept
        : PropExchange(direction), stream_(stream) {}
    [[nodiscard]] HRESULT ExchangeLong(const wchar_t* name, LONG& value,
                                       const LONG* defaultValue) noexcept override;
    [[nodiscard]] HRESULT ExchangeDouble(const wchar_t* name, double& value,
                                         const double* defaultValue) noexcept override;
    [[nodiscard]] HRESULT ExchangeText(const wchar_t* name, std::wstring& value,
                                       const wchar_t* defaultValue) noexcept override;

private:
    IStream* const stream_;
};

// Counts the bytes a stream save would write, and refuses what it would refuse.
class SizeExchange final : public PropExchange {
public:
    SizeExchange() noexcept : PropExchange(Direction::kSave) {}
    [[nodiscard]] HRESULT ExchangeLong(const wchar_t*, LONG&, const LONG*) noexcept override {
        bytes_ += sizeof(LONG);
        return S_OK;
    }
    [[nodiscard]] HRESULT ExchangeDouble(const wchar_t*, double&, const double*) noexcept override {
        bytes_ += sizeof(double);
        return S_OK;
    }
    [[nodiscard]] HRESULT ExchangeText(const wchar_t* name, std::wstring& value,
                                       const wchar_t* defaultValue) noexcept override;
    ULONG Bytes() const noexcept { return bytes_; }

private:
    ULONG bytes_ = 0;
};

// Named values in a property bag. On load, a value the bag lacks or cannot give as the type asked
// for counts as absent.
class BagExchange final : public PropExchange {
public:
    BagExchange(Direction direction, IPropertyBag* bag, IErrorLog* log) noexcept
        : PropExchange(direction), bag_(bag), log_(log) {}
    [[nodiscard]] HRESULT ExchangeLong(const wchar_t* name, LONG& value,
                                       const LONG* defaultValue) noexcept override;
    [[nodiscard]] HRESULT ExchangeDouble(const wchar_t* name, double& value,
                                         const double* defaultValue) noexcept override;
    [[nodiscard]] HRESULT ExchangeText(const wchar_t* name, std::wstring& value,
                                       const wchar_t* defaultValue) noexcept override;

private:
    IPropertyBag* const bag_;
    IErrorLog* const log_;
};

// The values of one exchange kept in memory, in exchange order: a save appends to values, a load
// takes them back in the same order, exactly. Puts a control's state aside and back around a load.
// A load past the end, or of a value kept as another type, fails with E_UNEXPECTED.
class ValuesExchange final : public PropExchange {
public:
    using Value = std::variant<LONG, double, std::wstring>;

    ValuesExchange(Direction direction, std::vector<Value>* values) noexcept
        : PropExchange(direction), values_(values) {}
    [[nodiscard]] HRESULT ExchangeLong(const wchar_t* name, LONG& value,
                                       const LONG* defaultValue) noexcept override;
    [[nodiscard]] HRESULT ExchangeDouble(const wchar_t* name, double& value,
                                         const double* defaultValue) noexcept override;
    [[nodiscard]] HRESULT ExchangeText(const wchar_t* name, std::wstring& value,
                                       const wchar_t* defaultValue) noexcept override;

private:
    template <class T>
    [[nodiscard]] HRESULT Exchange(T& value) noexcept;

    std::vector<Value>* const values_;
    size_t next_ = 0;
};

// Exchanges "_Version": a save writes version, a load or reset where the store has none takes it.
[[nodiscard]] HRESULT ExchangeVersion(PropExchange& px, ULONG version) noexcept;

class ResetExchange final : public PropExchange {
public:
    ResetExchange() noexcept : PropExchange(Direction::kReset) {}
    [[nodiscard]] HRESULT ExchangeLong(const wchar_t*, LONG& value,
                                       const LONG* defaultValue) noexcept override {
        if (defaultValue) value = *defaultValue;
        return S_OK;
    }
    [[nodiscard]] HRESULT ExchangeDouble(const wchar_t*, double& value,
                                         const double* defaultValue) noexcept override {
        if (defaultValue) value = *defaultValue;
        return S_OK;
    }
    [[nodiscard]] HRESULT ExchangeText(const wchar_t* name, std::wstring& value,
                                       const wchar_t* defaultValue) noexcept override;
};

}  // namespace activex
