#pragma once
// The one object that owns the client's state: the settings, the registries of relayed games and of the
// LAN game hosts that offer them, the relay connection, the LAN side's datagram socket and the windows
// that want to hear about changes. Everything reaches it through ClientCore::Get and hears back through
// ClientEvent notifications queued on the registered targets. GUI thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include <netinet/in.h>
#include <wx/event.h>
#include <wx/socket.h>
#include <wx/string.h>

#include "core/ClientEvent.h"
#include "core/ClientSettings.h"
#include "core/LanSession.h"
#include "core/Packet.h"

class CountingSocket;
class Game;
class PacketBuffer;
class wxTimer;
class wxTimerEvent;

namespace bcx {
class DatagramSocket;
}

// Relayed games by game id (owning).
using GameMap = std::unordered_map<uint32_t, Game*>;
// LAN game hosts (the sessions) by game id (owning).
using SessionMap = std::unordered_map<uint32_t, LanSession*>;

// The relay connection state; the value of every ClientEvent 1000.
enum RelayState : uint32_t {
    RelayDisconnected = 0,
    RelayConnecting = 1,
    RelayHandshake = 2,
    RelayNegotiate = 3,
    RelayLoggedOn = 4,
};

// Message ids of the relay protocol. Requests and answers of one exchange share their id.
enum class RelayMsg : uint8_t {
    Version = 0x00,       // client: u8 1, relay version; server: relay version
    Logon = 0x01,         // client: logon; server: logon answer
    GameList = 0x20,
    GameInfo = 0x21,
    Subscribe = 0x22,
    Unsubscribe = 0x23,
    GameDetails = 0x24,
    GameStart = 0x25,
    GameData = 0x26,      // server: a data block; client: its acknowledgement
    GameFinished = 0x27,
    Echo = 0x28,
    ErrorCode = 0xF2,
    ServerText = 0xF3,
};

// What a relay message handler found. The one caller decides: Malformed is logged and the frame dropped
// (the handler changed nothing), Close drops the connection. Malformed means the frame's own fields run
// past its end (a data block's byte count included); content the handler can read and refuses (a whole
// data block whose entries are not whole, data past its bound) is the handler's to log and act on, and
// the frame counts as handled (Ok).
enum class RelayStatus { Ok, Malformed, Close };

// Deletes the object and sets the pointer to null.
template <class T>
void DeleteAndNull(T*& p)
{
    delete p;
    p = nullptr;
}

// Deletes an array made with new[] and sets the pointer to null.
template <class T>
void DeleteArrayAndNull(T*& p)
{
    delete[] p;
    p = nullptr;
}

// Byte buffers (the datagram buffer of ClientCore::DatagramReceive) are always arrays.
inline void DeleteAndNull(char*& p)
{
    DeleteArrayAndNull(p);
}

class ClientCore : public wxEvtHandler {
public:
    // The Warcraft III LAN port that game announcements are sent to.
    static constexpr uint16_t kLanPort = 6112;
    // The size of the buffer that DatagramReceive hands out; longer datagrams are dropped.
    static constexpr int32_t kDatagramBufferSize = 64;

    // destroy false: the instance, created on the first call; null once it has been destroyed (it is
    // never created a second time). destroy true: deletes the instance (during its destruction Get(false)
    // still returns it), then clears it; returns null. Code that runs late checks the result for null.
    static ClientCore* Get(bool destroy = false);

    // --- notification targets (not owned; null unsets) ---

    // Receives ClientEvent 1000 and 1004 (the main frame).
    void SetStatusTarget(wxEvtHandler* target) { mStatusTarget = target; }
    // Receives ClientEvent 1000 and 1010-1012 (the games list page).
    void SetGameListTarget(wxEvtHandler* target) { mGameListTarget = target; }
    // Receives ClientEvent 1020 (the settings window).
    void SetSettingsTarget(wxEvtHandler* target) { mSettingsTarget = target; }
    wxEvtHandler* GetStatusTarget() const { return mStatusTarget; }
    wxEvtHandler* GetGameListTarget() const { return mGameListTarget; }
    wxEvtHandler* GetSettingsTarget() const { return mSettingsTarget; }

    // Queues ClientEvent (id, value, text) on target (the target's AddPendingEvent clones it); nothing when
    // target is null.
    static void PostEvent(wxEvtHandler* target, int32_t id, int32_t value = 0, const wxString& text = wxString());

    // Queues ClientEvent 1020 on the settings target when one is set.
    void NotifySettingsChanged();

    // --- settings ---

    ClientSettings& Settings() { return mSettings; }
    const ClientSettings& Settings() const { return mSettings; }

    // Opens "./bcxClient.ini", installs it as the process-wide configuration object, fills the settings
    // and writes every missing key back with its default (except Verbose, GamesPath, AutoReconnect).
    void LoadSettings();

    // The TCP port the games list page's listener is bound to; 0 while none.
    uint32_t GetSessionPort() const { return mSessionPort; }
    void SetSessionPort(uint32_t port) { mSessionPort = port; }

    // List word and session port := 0.
    void ClearRefs();

    // --- datagram socket (the LAN side's UDP socket, polled) ---

    // Opens the socket on DatagramPort (its low 16 bits). A failure is logged; the object stays usable.
    void OpenDatagramSocket();
    void CloseDatagramSocket();
    // The port the datagram socket is bound to; 0 when it is closed or not bound.
    uint16_t DatagramLocalPort() const;

    // One datagram to the given address.
    void DatagramSendTo(const char* data, int32_t length, const sockaddr_in& to);
    // One datagram to the Warcraft III LAN port of the configured target (see ComputeLanTarget). Refused
    // with a log line when CustomAddress is in force and does not read as an address.
    void DatagramSendTo(const char* data, int32_t length);

    // Polls for one datagram without waiting. True with data (a new 64-byte buffer), its length and the
    // sender (a new address record), both owned by the caller (free them with DeleteAndNull). False with
    // data and from null and length 0 when nothing waits, the receive failed, or the datagram was longer
    // than 64 bytes (it is dropped).
    bool DatagramReceive(char*& data, int32_t& length, sockaddr_in*& from);

    // The target of the address-less DatagramSendTo: UseBroadcast 1 -> 255.255.255.255, else
    // UseLocalhost 1 -> 127.0.0.1, else CustomAddress; port LanPort(). False when CustomAddress is in force
    // and does not read as four decimal numbers.
    static bool ComputeLanTarget(const ClientSettings& settings, sockaddr_in& to);

    // The LAN port (6112); tests point it elsewhere.
    static uint16_t LanPort();
    static void SetLanPortForTesting(uint16_t port);

    // --- game registry ---

    // The most games the registry holds; a relay's list beyond it is not taken in.
    static constexpr size_t kMaxGames = 10000;

    // Stores the game under its id and posts 1010 (id, name). True also when this very object is already
    // stored; false (logged, nothing replaced) for null, when another game holds the id, or when the
    // registry already holds kMaxGames games (logged once until it has room again): the caller keeps a
    // refused game.
    bool AddGame(Game* game);
    // Null when the id is not registered.
    Game* GetGame(uint32_t id) const;
    // Removes the game (its host first), deletes it when deleteIt, posts 1010 (0). False when unknown.
    bool RemoveGame(uint32_t id, bool deleteIt);
    // Removes by mode: 1 every relay game; 2 relay games whose download has not begun; 3 games the last
    // list did not name (kept as local, state 6, when their download began); other: all. Watched games
    // stay. Posts 1010 (0).
    void RemoveGames(int32_t mode);
    // Sets the sweep mark of every game.
    void MarkAllGames();
    // Every unfinished download becomes broken and loses its resume cursor.
    void CloseAllGames();
    // Deletes every game and clears the list word; posts nothing.
    void DeleteAllGames();
    const GameMap& Games() const { return mGames; }
    uint32_t GetListWord() const { return mListWord; }
    // "[g] " + text, always logged; the text is never used as a format.
    static void LogGame(const wxString& text);

    // --- session registry (the LAN game hosts) ---

    // The factory that creates a game's host; without one, AddSession creates nothing.
    void SetSessionFactory(LanSessionFactory factory);
    // Creates and stores the host of a game; a second host for the same id is refused with a log line.
    void AddSession(Game* game);
    LanSession* GetSession(uint32_t id) const;
    // Erases the host (deletes it when deleteIt). False when there is none.
    bool RemoveSession(uint32_t id, bool deleteIt);
    // Deletes every host that has a game and no attached client.
    void RemoveUnusedSessions();
    void DeleteAllSessions();
    const SessionMap& Sessions() const { return mSessions; }
    // Answers the hosts' pending game searches, newest game first; with onlyWhenAllPending, only when
    // every host has one.
    void SendOrderedServerInfo(bool onlyWhenAllPending);
    // True when a host of the game has a client attached.
    bool IsWatched(uint32_t id) const;
    // "[s] " + text, always logged.
    static void LogSession(const wxString& text);

    // Decides which games are offered on the LAN and creates or deletes hosts to match; with notify,
    // posts 1011 for every host created or removed.
    void UpdateLanGames(bool notify);

    // --- relay connection ---

    // Starts a non-blocking connect (only while disconnected). An empty name reconnects to the stored
    // server name.
    void Connect(const wxIPV4address& address, const wxString& name);
    // Drops the connection: a fresh socket, the relay games swept, unfinished downloads broken, status
    // (text, 0) posted; unless final, the reconnect is armed while retries remain.
    void Disconnect(bool final, const wxString& text);
    RelayState GetRelayState() const { return mRelayState; }
    uint32_t GetRetriesLeft() const { return mRetriesLeft; }
    bool IsReconnectPending() const;
    // The reconnect delay (30000 ms); tests shorten it.
    void SetReconnectDelayForTesting(uint32_t ms);
    // Handler of the reconnect timer: connects to the stored server address.
    void OnReconnectTimer(wxTimerEvent& event);
    // How long a connection may take from the connect to the logon, and a frame from its first byte to
    // its last, by the program clock; past either the connection is dropped and the reconnect armed.
    static constexpr uint32_t kHandshakeDeadlineMs = 30000;
    static constexpr uint32_t kFrameDeadlineMs = 60000;
    // Handler of the deadline timer (every second while connected): applies the two deadlines above.
    void OnDeadlineTimer(wxTimerEvent& event);
    // Sends bytes to the relay through the counting socket's queued send path. False when there is no
    // connected socket or the stream is cut (the connection is then dropped from the event queue).
    bool SendToRelay(const void* data, uint32_t size);
    bool SendToRelay(const PacketBuffer& packet);
    // Bytes waiting in the relay socket's send queue.
    size_t RelayQueuedBytes() const;

    // --- relay messages ---

    // Asks the relay for the game list (0x20).
    void RequestGameList();
    // Subscribes a game's details and data (0x22); a broken download without data starts afresh. A game
    // whose data reached its bound (GameData::IsFull) is not subscribed again.
    void SubscribeGame(Game* game, bool wantDetails);
    void UnsubscribeGame(Game* game);
    // Shows the relay's error and text messages (0xF2, 0xF3) to the user, after the socket handler has
    // returned. Without a hook the text is only logged.
    using ServerMessageHook = std::function<void(const wxString& text)>;
    void SetServerMessageHook(ServerMessageHook hook);

    // What the relay announced at logon.
    const wxString& GetServerInfoText() const { return mServerInfoText; }
    const std::string& GetIrcServer() const { return mIrcServer; }
    uint16_t GetIrcPort() const { return mIrcPort; }
    const std::string& GetIrcChannel() const { return mIrcChannel; }
    uint32_t GetNewsWord() const { return mNewsWord; }
    const std::string& GetNewsUrl() const { return mNewsUrl; }
    const std::string& GetNewsSecondUrl() const { return mNewsSecondUrl; }
    uint8_t GetNewsFlags() const { return mNewsFlags; }
    uint16_t GetNewsWidth() const { return mNewsWidth; }
    uint16_t GetNewsHeight() const { return mNewsHeight; }
    const std::string& GetNewsDialogUrl() const { return mNewsDialogUrl; }
    uint32_t GetRelayVersion() const { return mServerRelayVersion; }

    // "[svr] " + text, always logged; the text is never used as a format.
    static void LogServer(const wxString& text);

private:
    // Registries (Registries.cpp).
    void OnGameSweep(ClientEvent& event);

    // Relay connection (RelayConnection.cpp).
    void InitConnection();
    void FreeConnection();
    void ResetSocket(bool closing);
    void PostRelayState(const wxString& text);
    void OnSocketEvent(wxSocketEvent& event);
    void OnRelayConnected();
    void OnRelayInput();
    void OnRelayLost();
    void ReadProtocolWord();
    void ReadRelayFrames();
    bool SendNow(const void* data, uint32_t size);

    void CheckRelayDeadlines();

    // Relay messages (RelayMessages.cpp). Each handler reads every field of its frame first and changes
    // nothing when they run past the frame's end (Malformed).
    RelayStatus HandlePacket();
    RelayStatus HandleRelayVersion(PacketBuffer& packet);
    RelayStatus HandleLogonAnswer(PacketBuffer& packet);
    RelayStatus HandleGameList(PacketBuffer& packet);
    RelayStatus HandleGameInfo(PacketBuffer& packet);
    RelayStatus HandleSubscribed(PacketBuffer& packet);
    RelayStatus HandleUnsubscribed(PacketBuffer& packet);
    RelayStatus HandleGameDetails(PacketBuffer& packet);
    RelayStatus HandleGameStart(PacketBuffer& packet);
    RelayStatus HandleGameDataBlock(PacketBuffer& packet);
    RelayStatus HandleGameFinished(PacketBuffer& packet);
    RelayStatus HandleEcho(PacketBuffer& packet);
    RelayStatus HandleErrorCode(PacketBuffer& packet);
    RelayStatus HandleServerText(PacketBuffer& packet);
    void ShowServerMessage(const wxString& text);

    ClientCore();
    ~ClientCore() override;
    ClientCore(const ClientCore&) = delete;
    ClientCore& operator=(const ClientCore&) = delete;

    // Registries.
    SessionMap mSessions;
    GameMap mGames;
    // Set while the game registry is full; the refusal is logged once per time it fills.
    bool mGamesFull = false;
    uint32_t mListWord = 0;                 // first word of the last relay game list
    wxEvtHandler* mGameListTarget = nullptr;
    uint32_t mSessionPort = 0;

    // Relay connection.
    CountingSocket* mRelaySocket = nullptr;
    wxEvtHandler* mStatusTarget = nullptr;
    RelayState mRelayState = RelayDisconnected;
    bcxPacket mIncoming;                    // the relay frame being received
    wxIPV4address mServerAddress;
    wxString mServerName;                   // host text as entered (display)
    wxTimer* mReconnectTimer = nullptr;     // id 1402
    wxTimer* mDeadlineTimer = nullptr;      // id 1403, runs while not disconnected
    uint32_t mRetriesLeft = 0;
    uint32_t mConnectSince = 0;             // program clock at the connect (handshake deadline)
    uint32_t mFrameSince = 0;               // program clock at the first byte of an incomplete frame
    bool mFrameWaiting = false;             // the incoming frame is incomplete

    // Announced by the relay server.
    std::string mIrcServer;
    uint16_t mIrcPort = 0;
    std::string mIrcChannel;
    wxString mServerInfoText;
    uint32_t mNewsWord = 0;
    std::string mNewsUrl;
    std::string mNewsSecondUrl;
    uint8_t mNewsFlags = 0;
    uint16_t mNewsWidth = 0;
    uint16_t mNewsHeight = 0;
    std::string mNewsDialogUrl;
    uint32_t mServerRelayVersion = 0;       // PackedVersion in force
    uint32_t mLogonWord = 0;
    uint8_t mLogonBytes[4] = {};            // the server's protocol word, collected across input events
    uint32_t mLogonHave = 0;
    uint32_t mSocketGeneration = 0;         // numbers each relay socket; stale events carry an old one
    uint32_t mReconnectDelayMs = 30000;
    bool mBatchingSends = false;            // set while the frame loop runs: sends collect in mSendBatch
    std::string mSendBatch;
    ServerMessageHook mServerMessageHook;
    LanSessionFactory mSessionFactory;
    std::unordered_set<uint32_t> mDiscardingData;  // games whose data blocks are dropped after a malformed one

    // LAN side.
    std::unique_ptr<bcx::DatagramSocket> mDatagramSocket;

    wxEvtHandler* mSettingsTarget = nullptr;
    ClientSettings mSettings;

    static uint16_t sLanPort;

    wxDECLARE_EVENT_TABLE();
};
