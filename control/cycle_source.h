// How a chart finds the Vandrel control it is bound to and watches its cycles: a private interface
// that the acquisition control answers, known only inside this module (a container's extender
// passes a QueryInterface for it on to the control). Both objects live in the apartment of the
// host's thread and call each other only there.
//
// CycleSourcePart is the part of the acquisition control that answers it; the control holds it by
// value and its FindMore finds it.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "base/com_object.h"
#include "engine/cycle_queue.h"
#include "engine/measurement_rules.h"

struct ICycleSource : public IUnknown {
    // Every cycle and end of a run of the control's sampler also goes into queue, until Unwatch;
    // false when the control already feeds as many watchers as it can.
    virtual bool STDMETHODCALLTYPE Watch(engine::CycleQueue* queue) noexcept = 0;
    // Returns once the sampling thread no longer uses queue.
    virtual void STDMETHODCALLTYPE Unwatch(engine::CycleQueue* queue) noexcept = 0;
    // The channels' names, units and rules, as the control's members set them now.
    virtual const engine::ChannelSet& STDMETHODCALLTYPE Channels() noexcept = 0;
};
// {73BBF083-56CB-4950-9F53-492BE94D4BDB}
__CRT_UUID_DECL(ICycleSource, 0x73BBF083, 0x56CB, 0x4950, 0x9F, 0x53, 0x49, 0x2B, 0xE9, 0x4D, 0x4B, 0xDB)

// What the part asks of its control.
class CycleFeed {
public:
    [[nodiscard]] virtual bool AddWatcher(engine::CycleQueue* queue) noexcept = 0;
    virtual void RemoveWatcher(engine::CycleQueue* queue) noexcept = 0;
    virtual const engine::ChannelSet& WatchedChannels() noexcept = 0;

protected:
    ~CycleFeed() = default;
};

class CycleSourcePart final : public base::ComObject<CycleSourcePart, base::Lifetime::Part, ICycleSource> {
public:
    CycleSourcePart(IUnknown& owner, CycleFeed& feed) noexcept : ComObject(owner), feed_(feed) {}

    bool STDMETHODCALLTYPE Watch(engine::CycleQueue* queue) noexcept override {
        return feed_.AddWatcher(queue);
    }
    void STDMETHODCALLTYPE Unwatch(engine::CycleQueue* queue) noexcept override {
        feed_.RemoveWatcher(queue);
    }
    const engine::ChannelSet& STDMETHODCALLTYPE Channels() noexcept override {
        return feed_.WatchedChannels();
    }

private:
    CycleFeed& feed_;
};
