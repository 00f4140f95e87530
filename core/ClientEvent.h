#pragma once
// The program's notification event. ClientCore and the LAN game hosts queue it on the handlers that want
// to hear about a change; the event id names the notification:
//
//   1000  relay connection state      value: the new RelayState   text: status line
//   1001  re-decide the offered games value: 0                    text: empty
//   1004  news record arrived         value: 0                    text: empty
//   1010  game list changed           value: game id when added   text: game name when added
//   1011  one game's row or offer     value: game id              text: empty
//   1012  download progress           value: game id              text: empty
//   1020  settings changed            value: 0                    text: empty
//
// The text is a display string (status lines, game names for the list).

#include <cstdint>

#include <wx/event.h>
#include <wx/string.h>

enum ClientEventId : int {
    ClientEventRelayState = 1000,
    ClientEventGameSweep = 1001,
    ClientEventNews = 1004,
    ClientEventGameList = 1010,
    ClientEventGameRow = 1011,
    ClientEventDownload = 1012,
    ClientEventSettings = 1020,
};

class ClientEvent;

// The one process-wide event type of ClientEvent, allocated from the toolkit's event-type counter when
// the program starts.
wxDECLARE_EVENT(ClientEventType, ClientEvent);

class ClientEvent : public wxEvent {
public:
    ClientEvent(int32_t id = 0, int32_t value = 0, const wxString& text = wxString());
    ClientEvent(const ClientEvent& other);
    ~ClientEvent() override;

    // A new heap copy; the toolkit clones an event when it is queued.
    wxEvent* Clone() const override;

    const wxString& GetText() const { return mText; }
    int32_t GetValue() const { return mValue; }
    void SetText(const wxString& text) { mText = text; }
    void SetValue(int32_t value) { mValue = value; }

private:
    wxString mText;
    int32_t mValue;
};

typedef void (wxEvtHandler::*ClientEventFunction)(ClientEvent&);
#define ClientEventHandler(func) wxEVENT_HANDLER_CAST(ClientEventFunction, func)

// Static event-table entry: routes ClientEventType with the given id to func.
#define EVT_CLIENT_EVENT(id, func) wx__DECLARE_EVT1(ClientEventType, id, ClientEventHandler(func))
