// The persistence part of a control: IPersistStreamInit, IPersistStorage and IPersistPropertyBag over
// one description of the control's values (its PropertySet, by property exchange), and the modified
// flag. A load that fails part-way puts back the values it had already taken. Holds the flag. Called
// on the control's apartment thread.
#pragma once

#include <ocidl.h>

#include "activex/control_parts.h"
#include "activex/property_exchange.h"
#include "base/com_object.h"

namespace activex {

class PersistencePart final
    : public base::ComObject<PersistencePart, base::Lifetime::Part, IPersistStreamInit, IPersistStorage,
                             IPersistPropertyBag, base::Via<IPersist, IPersistStreamInit>>,
      public ModifiedFlag {
public:
    PersistencePart(IUnknown& owner, const CLSID& clsid, PropertySet& values) noexcept
        : ComObject(owner), clsid_(clsid), values_(values) {}

    // ModifiedFlag
    bool IsModified() const noexcept override { return modified_; }
    void SetModified() noexcept override { modified_ = true; }

    // IPersist, IPersistStreamInit, IPersistStorage, IPersistPropertyBag
    STDMETHODIMP GetClassID(CLSID* clsid) noexcept override;
    STDMETHODIMP IsDirty() noexcept override;
    STDMETHODIMP Load(IStream* stream) noexcept override;
    STDMETHODIMP Save(IStream* stream, BOOL clearDirty) noexcept override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) noexcept override;
    STDMETHODIMP InitNew() noexcept override;
    STDMETHODIMP InitNew(IStorage* storage) noexcept override;
    STDMETHODIMP Load(IStorage* storage) noexcept override;
    STDMETHODIMP Save(IStorage* storage, BOOL sameAsLoad) noexcept override;
    STDMETHODIMP SaveCompleted(IStorage* storage) noexcept override;
    STDMETHODIMP HandsOffStorage() noexcept override;
    STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) noexcept override;
    STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) noexcept override;

private:
    [[nodiscard]] HRESULT LoadFrom(PropExchange& px) noexcept;
    [[nodiscard]] HRESULT SaveTo(PropExchange& px, BOOL clearDirty) noexcept;

    const CLSID& clsid_;
    PropertySet& values_;
    bool modified_ = false;
};

}  // namespace activex
