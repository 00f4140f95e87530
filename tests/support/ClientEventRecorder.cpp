#include "support/ClientEventRecorder.h"

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
    wxScopedCharBuffer utf8 = event.GetText().utf8_str();
    mEvents.push_back(RecordedClientEvent{event.GetId(), event.GetValue(), std::string(utf8.data(), utf8.length())});
}

} // namespace bcxtest
