// Property exchange: one description of a control's persistent values, run in one of three
// directions. A control's ExchangeProperties names each value once, in order; the exchange object
// decides whether that saves it, loads it or puts its default back.
//
// Streams hold the values as consecutive little-endian 32-bit words in exchange order (no names);
// property bags hold them by name as VT_I4. Used on the control's apartment thread.
#pragma once

#include <ocidl.h>

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

private:
    const Direction direction_;
};

// Sequential words in a stream. A stream that ends early fails the load with STG_E_READFAULT.
class StreamExchange final : public PropExchange {
public:
    StreamExchange(Direction direction, IStream* stream) noexcept
        : PropExchange(direction), stream_(stream) {}
    [[nodiscard]] HRESULT ExchangeLong(const wchar_t* name, LONG& value,
                                       const LONG* defaultValue) noexcept override;

private:
    IStream* const stream_;
};

// Counts the bytes a stream save would write.
class SizeExchange final : public PropExchange {
public:
    SizeExchange() noexcept : PropExchange(Direction::kSave) {}
    [[nodiscard]] HRESULT ExchangeLong(const wchar_t*, LONG&, const LONG*) noexcept override {
        bytes_ += sizeof(LONG);
        return S_OK;
    }
    ULONG Bytes() const noexcept { return bytes_; }

private:
    ULONG bytes_ = 0;
};

// Named values in a property bag. On load, a value the bag lacks or cannot give as a number counts
// as absent.
class BagExchange final : public PropExchange {
public:
    BagExchange(Direction direction, IPropertyBag* bag, IErrorLog* log) noexcept
        : PropExchange(direction), bag_(bag), log_(log) {}
    [[nodiscard]] HRESULT ExchangeLong(const wchar_t* name, LONG& value,
                                       const LONG* defaultValue) noexcept override;

private:
    IPropertyBag* const bag_;
    IErrorLog* const log_;
};

// The values of one exchange kept in memory, in exchange order: a save appends to values, a load
// takes them back in the same order. Puts a control's state aside and back around a load.
class ValuesExchange final : public PropExchange {
public:
    ValuesExchange(Direction direction, std::vector<LONG>* values) noexcept
        : PropExchange(direction), values_(values) {}
    [[nodiscard]] HRESULT ExchangeLong(const wchar_t* name, LONG& value,
                                       const LONG* defaultValue) noexcept override;

private:
    std::vector<LONG>* const values_;
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
};

}  // namespace activex
