#include "support/ClientEventRecorder.h"

#include "support/Text.h"

namespace bcxtest {

ClientEventRecorder::ClientEventRecorder()
{
    Bind(ClientEventType, &ClientEventRecorder::OnClientEvent, this);
}

ClientEventRecorder::~ClientEventRecorder()
{
    Unbind(ClientEventType, &ClientEventRecorder::OnClientEvent, this);
}

std::vector<RecordedClientEvent> ClientEventRecorder::WithId(int id) const
{
    std::vector<RecordedClientEvent> out;
    for (const RecordedClientEvent& event : mEvents)
        if (event.id == id)
            out.push_back(event);
    return out;
}

size_t ClientEventRecorder::Count(int id) const
{
    size_t n = 0;
    for (const RecordedClientEvent& event : mEvents)
        if (event.id == id)
            ++n;
    return n;
}

void ClientEventRecorder::OnClientEvent(ClientEvent& event)
{
    mEvents.push_back(RecordedClientEvent{event.GetId(), event.GetValue(), Utf8(event.GetText())});
}

} // namespace bcxtest
