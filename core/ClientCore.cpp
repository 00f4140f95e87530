#include "core/ClientCore.h"

#include <wx/timer.h>

#include "core/GameRecords.h"

#include "core/Crc32.h"
#include "platform/DatagramSocket.h"

namespace {

// The process-wide instance, and whether it was ever created (it is never created a second time).
ClientCore* gInstance = nullptr;
bool gCreated = false;
bool gDestroying = false;

} // namespace

wxBEGIN_EVENT_TABLE(ClientCore, wxEvtHandler)
    EVT_SOCKET(1000, ClientCore::OnSocketEvent)
    EVT_TIMER(1402, ClientCore::OnReconnectTimer)
    EVT_TIMER(1403, ClientCore::OnDeadlineTimer)
    EVT_CLIENT_EVENT(ClientEventGameSweep, ClientCore::OnGameSweep)
wxEND_EVENT_TABLE()

ClientCore* ClientCore::Get(bool destroy)
{
    if (destroy) {
        if (gInstance && !gDestroying) {
            // Delete first, clear afterwards: the hosts announce the end of their games through Get()
            // while they are being deleted.
            gDestroying = true;
            delete gInstance;
            gInstance = nullptr;
            gDestroying = false;
        }
        return nullptr;
    }
    if (!gInstance && !gCreated) {
        // Marked before the constructor runs: code reached from it sees null here and uses the object
        // under construction directly.
        gCreated = true;
        gInstance = new ClientCore();
    }
    return gInstance;
}

ClientCore::ClientCore()
{
    mIncoming.SetGrowStep(256);
    mSessions.reserve(100);
    mGames.reserve(100);

    LoadSettings();
    OpenDatagramSocket();
    InitConnection();
    ClearRefs();
    Crc32BuildTable();
}

ClientCore::~ClientCore()
{
    DeleteAllSessions();
    DeleteAllGames();
    FreeConnection();
    CloseDatagramSocket();
    DestroyGlobalConfig();
}

void ClientCore::ClearRefs()
{
    mListWord = 0;
    mSessionPort = 0;
}

void ClientCore::PostEvent(wxEvtHandler* target, int32_t id, int32_t value, const wxString& text)
{
    if (!target)
        return;
    ClientEvent event(id, value, text);
    target->AddPendingEvent(event);
}

void ClientCore::NotifySettingsChanged()
{
    PostEvent(mSettingsTarget, ClientEventSettings, 0, wxString());
}
