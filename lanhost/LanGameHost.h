#pragma once
// One relayed game made to look like a Warcraft III game hosted on the local network: the host announces
// it by datagram, answers the searches handed to it, takes over the Warcraft III connections that join it,
// reads what each one sends, and drives every connection ten times a second (PumpClient: the lobby until
// Warcraft III reports the game loaded, then the paced release of the game data).
//
// ClientCore's session registry owns the hosts and creates them through LanGameHost::Factory. GUI thread
// only. Tick() is the 100 ms pump; the tick that all hosts share only calls it, so tests drive it with the
// manual program clock.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <wx/event.h>
#include <wx/socket.h>
#include <wx/string.h>
#include <wx/timer.h>

#include "core/LanSession.h"
#include "lanhost/LanClient.h"

class ActionAnalyzerSet;
class Game;
class GameDetails;
class warPacket;

// One log line describing a packet: class, id, length, then up to maxBytes bytes in hex and as characters.
wxString PacketHexDump(const warPacket& packet, uint32_t maxBytes);

class LanGameHost : public wxEvtHandler, public LanSession {
public:
    static constexpr int kSocketId = 1000;
    static constexpr int kTimerId = 1001;
    static constexpr int kTickMs = 100;
    // The lobby sends its next messages at most this often (ms).
    static constexpr uint32_t kLobbyStepMs = 500;
    // A finished client whose stream has ended is closed at the latest after this many ms.
    static constexpr uint32_t kCloseWaitMs = 5000;
    // A pending search is answered at the latest after this many ms.
    static constexpr uint32_t kSearchWaitMs = 1000;

    // Announces nothing yet; with the game's GameInfo, fills its LAN fields and joins the 100 ms tick that
    // all ticking hosts share (one timer, so offered games wake the process once per tick together).
    explicit LanGameHost(Game* game);
    // Leaves the shared tick, announces the end of the game, deletes the clients and the pending requester.
    ~LanGameHost() override;
    LanGameHost(const LanGameHost&) = delete;
    LanGameHost& operator=(const LanGameHost&) = delete;

    // The session factory for ClientCore.
    static LanSession* Factory(Game* game);
    // Whether new hosts join the shared tick (default on). Tests that drive Tick() switch it off.
    static void EnableTimers(bool on);

    // LanSession.
    Game* GetGame() override { return mGame; }
    bool HasClient() const override { return !mClients.Empty(); }
    const sockaddr_in* PendingRequester() const override { return mPendingRequester.get(); }
    void ClearPendingRequester() override { mPendingRequester.reset(); }
    void SendServerInfo(const sockaddr_in& to) override;

    // A game search from this address. True when it was answered at once (another search waits); false
    // when it became the pending requester, answered in the registry's order.
    bool OnSearchGame(std::unique_ptr<sockaddr_in> requester);
    // The create-game datagram to the LAN target.
    void BroadcastCreateGame();
    // Takes over a joined client (ignored without socket): its socket events come here, its action analyzers
    // are built, the game is subscribed with details when needed, the client is pumped once and any input
    // already waiting is read.
    void AttachClient(std::unique_ptr<LanClient> client);

    // The 100 ms pump: announcement, overdue search answers, every client, the re-decide notice.
    void Tick();
    void OnTimer(wxTimerEvent& event);
    void OnSocketEvent(wxSocketEvent& event);

    // Handles the packet in the client's receive packet; false when the client was removed and deleted.
    bool HandlePacket(LanClient* client);
    // One pump of a client: the lobby phase or the game phase. The client may be deleted.
    void PumpClient(LanClient* client);
    // The viewer asked to start: notice, start-requested flag, data subscription when needed.
    void StartGame(LanClient* client);

    // The game-stream filter every released packet passes. It may point data and length at a replacement
    // it allocated with new[] (the pump frees it) and appends chat lines (GBK bytes). 0: send the packet;
    // 1: drop it and send the lines as observer chat; 2: drop it (lines go out as wizard lines, as for 0).
    // By default FilterGamePacket; null lets every packet pass unchanged.
    using StreamFilter = int (*)(ActionAnalyzerSet* set, const uint8_t*& data, uint32_t& length,
                                 std::vector<std::string>& lines);
    static void SetStreamFilter(StreamFilter filter);
    // Appends one in-game chat message to the packet; sends nothing.
    static void SendChatToGame(warPacket& packet, const std::string& text, uint8_t fromPlayer);

    // Recolours the counted slots of a 1v1 (random among a few colours per team) or of teams of up to
    // three (by rank); more than two teams or larger teams keep their colours.
    static void AssignSlotColours(GameDetails& details);

    const LanClientList& Clients() const { return mClients; }
    LanClient* FindClient(uint32_t connectionId) const { return mClients.Find(connectionId); }

private:
    // Reads and handles every complete packet waiting on the client's socket; false when the client is gone.
    bool ReadInput(LanClient* client);
    // Removes and deletes the client; posts the re-decide notice when it was the last.
    void RemoveClient(LanClient* client);
    // A client whose stream to Warcraft III was cut (backlog bound) or whose socket closed is dropped.
    // True when it was dropped.
    bool DropIfBroken(LanClient* client);
    void PostSweep();
    uint32_t Verbose() const;

    // The lobby phase and the game phase of the pump.
    void PumpLobby(LanClient* client);
    void PumpGame(LanClient* client);
    // Lobby message id (GameDetails::WriteLanRecord) to the client.
    void SendLobbyRecord(LanClient* client, uint8_t id, uint32_t playerId, const std::string* name);
    // A finished client: once its send queue is empty the stream is ended (half close); the client is
    // removed when Warcraft III closes or after kCloseWaitMs. True when it was removed.
    bool FinishClosing(LanClient* client);
    // Player renames, the final slot table, the countdown; once per client.
    void CompleteLobby(LanClient* client);

    Game* mGame;
    bool mTicking = false;  // the game had its GameInfo at construction
    LanClientList mClients;
    bool mOnSharedTick = false;
    uint32_t mLastAnnounce = 0;
    uint32_t mSearchTime = 0;
    std::unique_ptr<sockaddr_in> mPendingRequester;

    wxDECLARE_EVENT_TABLE();
};
