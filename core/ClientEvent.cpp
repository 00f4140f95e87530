#include "core/ClientEvent.h"

wxDEFINE_EVENT(ClientEventType, ClientEvent);

ClientEvent::ClientEvent(int32_t id, int32_t value, const wxString& text)
    : wxEvent(id, ClientEventType), mText(text), mValue(value)
{
}

ClientEvent::ClientEvent(const ClientEvent& other)
    : wxEvent(other), mText(other.mText), mValue(other.mValue)
{
}

ClientEvent::~ClientEvent() = default;

wxEvent* ClientEvent::Clone() const
{
    return new ClientEvent(*this);
}
