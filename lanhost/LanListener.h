#pragma once
// The way in for the local Warcraft III: the session-port listener on which it joins, the poll of the
// datagram socket that answers its game searches, and the joined connections that have not yet named a
// game. The games list page owns one and routes its session-port, client-socket and search-timer events
// here. GUI thread only; nothing waits on a socket.

#include <cstdint>
#include <functional>
#include <memory>

#include <wx/event.h>
#include <wx/socket.h>
#include <wx/timer.h>

#include "lanhost/LanClient.h"

class CountingServerSocket;
class LanGameHost;

class LanListener : public wxEvtHandler {
public:
    static constexpr int kServerSocketId = 1200;
    static constexpr int kClientSocketId = 1201;
    static constexpr int kSearchTimerId = 1100;
    static constexpr int kSearchIntervalMs = 1000;
    // Consecutive port numbers tried for the session port.
    static constexpr int kPortAttempts = 20;
    // Connections that have not named a game yet: at most this many (the oldest is dropped for a new one),
    // each for at most kJoinDeadlineMs after its accept. Warcraft III sends its join request at once.
    static constexpr size_t kMaxUnjoined = 32;
    static constexpr uint32_t kJoinDeadlineMs = 5000;
    // After an accept that failed (no descriptor left, ...) the session port takes no connection for this
    // long instead of trying again at once.
    static constexpr uint32_t kAcceptPauseMs = 1000;

    // The host of a game id; by default ClientCore's session registry.
    using HostLookup = std::function<LanGameHost*(uint32_t gameId)>;

    LanListener();
    ~LanListener() override;
    LanListener(const LanListener&) = delete;
    LanListener& operator=(const LanListener&) = delete;

    // Binds the session port: the SessionPort setting and up to 19 following numbers, on any local
    // address (tests pass loopback). Logs "Failed to bind session port %d" per failure and "Session port
    // %d bound" on success, and tells ClientCore the bound port. False when every attempt failed.
    bool BindSessionPort(int32_t firstPort, const wxIPV4address* localAddress = nullptr);
    // The bound port; 0 while none.
    uint16_t SessionPort() const { return mBoundPort; }

    // Starts the periodic LAN-search timer (1000 ms). Its tick polls the searches, drops the connections
    // past their join deadline and, after a pause, accepts again.
    void StartSearchTimer();

    // Reads every datagram waiting on ClientCore's datagram socket and hands each game search to the host
    // of the game it names.
    void PollSearches();

    // The handlers.
    void OnSessionAccept(wxSocketEvent& event);
    void OnClientSocket(wxSocketEvent& event);
    void OnLanSearchTimer(wxTimerEvent& event);

    // The joined connections that have not yet named a game.
    const LanClientList& Clients() const { return mClients; }

    void SetHostLookup(HostLookup lookup) { mLookup = std::move(lookup); }

private:
    // Accepts every pending connection; pauses accepting when an accept fails.
    void AcceptPending();
    // Drops the oldest unjoined connection while the list is at its bound.
    void MakeRoomForOneMore();
    // Drops the unjoined connections past their deadline; ends an accept pause that is over.
    void CheckUnjoined();
    // Reads the frames of one unattached client; false when the client left this listener (attached to a
    // host or deleted).
    void ReadClient(LanClient* client);
    LanGameHost* LookupHost(uint32_t gameId) const;

    CountingServerSocket* mServer = nullptr;   // owned (Destroy)
    uint16_t mBoundPort = 0;
    wxTimer mSearchTimer;
    LanClientList mClients;
    HostLookup mLookup;
    bool mBoundLogged = false;         // the unjoined bound was logged (until the list is below it again)
    bool mAcceptPaused = false;
    uint32_t mAcceptResumeTime = 0;    // program clock stamp at which a paused session port accepts again
    bool mAcceptFailureLogged = false; // the accept failure was logged (until an accept succeeds)

    wxDECLARE_EVENT_TABLE();
};
