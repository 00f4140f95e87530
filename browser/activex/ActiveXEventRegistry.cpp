// Event types of control events, by name.

#include "browser/activex/ActiveXEventRegistry.h"

#include <map>
#include <memory>

#include "browser/activex/ActiveXTypes.h"

namespace {

typedef std::map<wxString, std::unique_ptr<wxEventType>, ActiveXNameLess> EventRegistry;

// Created on first use (event tables register during static initialisation), freed at exit.
EventRegistry& Registry()
{
    static EventRegistry registry;
    return registry;
}

} // namespace

const wxEventType& RegisterActiveXEvent(const wxString& name)
{
    std::unique_ptr<wxEventType>& entry = Registry()[name];
    if (!entry)
        entry = std::make_unique<wxEventType>(wxNewEventType());
    return *entry;
}

const wxEventType* FindActiveXEvent(const wxString& name)
{
    const auto found = Registry().find(name);
    return found == Registry().end() ? nullptr : found->second.get();
}
