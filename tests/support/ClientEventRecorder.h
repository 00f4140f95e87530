#pragma once
// An event handler that records every ClientEvent that reaches it (queued with AddPendingEvent and then
// dispatched by the pump, or processed directly), in order of arrival.

#include <cstdint>
#include <string>
#include <vector>

#include <wx/event.h>

#include "core/ClientEvent.h"

namespace bcxtest {

struct RecordedClientEvent {
    int id;
    int32_t value;
    std::string text;  // UTF-8
};

class ClientEventRecorder : public wxEvtHandler {
public:
    ClientEventRecorder();
    ~ClientEventRecorder() override;

    const std::vector<RecordedClientEvent>& Events() const { return mEvents; }
    // The events with the given id, in order.
    std::vector<RecordedClientEvent> WithId(int id) const;
    size_t Count(int id) const;
    void Clear() { mEvents.clear(); }

private:
    void OnClientEvent(ClientEvent& event);

    std::vector<RecordedClientEvent> mEvents;
};

} // namespace bcxtest
