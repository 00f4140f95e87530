#pragma once
// One joined Warcraft III connection and everything kept per viewer: the socket and the frame being
// received, the game watched, the lobby progress, the playback state of the paced release, the chat
// senders in whose names lines reach this Warcraft III, the IRC client and the action analyzers.
//
// A LanClient is created by the session-port listener when Warcraft III connects, is held by the
// listener's LanClientList until its join request names a game, and then by that game's LanGameHost's
// LanClientList, which deletes it. Exactly one list owns a client at any time.
//
// Log identifiers: "client[0x%08X]" and "[%08X:%08X]" carry the client's connection number, a 32-bit
// number from a process-wide counter (never a pointer value).

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <wx/event.h>
#include <wx/string.h>

#include "core/ClientSettings.h"
#include "core/GameData.h"
#include "core/Packet.h"
#include "lanhost/IrcClient.h"

class ActionAnalyzerSet;
class LanClient;
class CountingPeerSocket;
class Game;

// A chat command: performs the command with args, or, with showUsage, sends only its usage lines.
using ChatCommandHandler = void (*)(LanClient* client, std::string args, bool showUsage);
// Command name -> handler, and alias -> command name. Process-wide, filled once at start-up before any
// Warcraft III connects, only read afterwards.
using CommandMap = std::unordered_map<std::string, ChatCommandHandler>;
using AliasMap = std::unordered_map<std::string, std::string>;
CommandMap& ChatCommands();
AliasMap& ChatAliases();

// One chat sender: the player in whose name lines reach this Warcraft III, and the decoration in front.
struct ChatSender {
    uint32_t mPlayerId = 1;
    std::string mPrefix;  // GBK bytes
};

// The four chat senders, indexed like the chat prompts (ChatPromptSource).
enum ChatSenderIndex : int {
    ChatSenderSystem = ChatPromptBcx,
    ChatSenderObserver = ChatPromptObs,
    ChatSenderIrc = ChatPromptIrc,
    ChatSenderWizard = ChatPromptWiz,
    ChatSenderCount = ChatPromptCount,
};

class LanClient : public wxEvtHandler, public IrcClientOwner {
public:
    LanClient();
    // Destroys the socket (closed at once), deletes the IRC client, then the analyzers.
    ~LanClient() override;
    LanClient(const LanClient&) = delete;
    LanClient& operator=(const LanClient&) = delete;

    // The connection number that names this client in the log.
    uint32_t GetConnectionId() const { return mConnectionId; }

    // The TCP connection (owned); null before it is accepted.
    CountingPeerSocket* GetSocket() const { return mSocket; }
    // Takes ownership of the socket.
    void SetSocket(CountingPeerSocket* socket) { mSocket = socket; }
    // True while the client has a socket that is connected.
    bool IsConnected() const;

    // Sends bytes to Warcraft III through the socket's queued send path, behind everything sent before.
    // False when there is no socket or the stream is cut (the backlog bound was exceeded or the socket
    // failed); from then on SendFailed() is true and the owner drops the client.
    bool Send(const void* data, uint32_t n);
    bool SendPacket(const PacketBuffer& packet) { return Send(packet.Data(), packet.Size()); }
    bool SendFailed() const { return mSendFailed; }

    // A line typed into the Warcraft III chat (raw bytes as received): a command when its first word
    // begins with "/" (looked up in ChatAliases(), then ChatCommands()), otherwise chat, said in the IRC
    // channel when the IRC client has joined one and else answered with "No chat interface to talk to".
    void ExecuteChatLine(std::string line);

    // The welcome block of the lobby: stage 1 the welcome line, stage 2 the rest; each part once.
    void PrintWelcome(int32_t stage);
    // The streaming-delay notice (once) and the time left until the delay ends.
    void PrintStreamingDelay();

    // IrcClientOwner.
    void ForwardLineToGame(const std::string& gbkText) override;
    bool HasGameSocket() const override { return mSocket != nullptr; }
    bool IsAttachedToGame() const override { return mGame != nullptr; }
    uint32_t AttachedGameId() const override;

    // --- viewer state, in the order the host, the pump and the commands use it ---

    std::string mPlayerName;                 // from the join request (raw bytes)
    uint32_t mAcceptTime = 0;                // program clock stamp of the accept (the join deadline runs from it)
    warPacket mReceivePacket;                // the W3GS frame being received
    Game* mGame = nullptr;                   // the game watched; not owned
    uint32_t mPingRoundTrip = 0;             // ms, last W3GS ping answer
    uint32_t mLastLobbyStep = 0;             // program clock stamp of the last lobby step
    uint32_t mLastTimestepReport = 0;        // stamp of the last time-step line
    uint32_t mNextReleaseTime = 0;           // nothing is released before this stamp
    uint32_t mLastEntryTime = 0;             // recording time of the last released entry
    uint8_t mShowTimesteps = 0;              // time-step line at most once a second
    uint32_t mNextStatusTime = 0;            // next "Game time" status line (0 = none)
    uint32_t mStatusInterval = 0;            // its repeat interval (0 = once)
    uint32_t mSyncReference = 0;             // stamp at which a sync or shift started (0 = none)
    int32_t mSyncTarget = 0;                 // day minute (sync) or ms (shift)
    int32_t mSyncDirection = 0;
    double mSyncSpeed = 0.0;                 // the speed the sync or shift set last
    uint8_t mSyncMode = 1;                   // 1 sync, 0 shift
    uint8_t mLoaded = 0;                     // Warcraft III reported the game loaded (in-game flag)
    uint8_t mMapValidated = 0;               // Warcraft III reported the map
    uint32_t mRepeatTime = 0;                // when the game's repeated text is due (0 = never)
    uint8_t mStartRequested = 0;
    uint8_t mLobbyComplete = 0;
    uint8_t mDelayNoticePending = 1;
    uint8_t mLagging = 0;                    // kept by the stream filter while the relayed game lags
    GameDataCursor mCursor;                  // next entry to release; its time is the data time
    uint32_t mGameTime = 0;                  // local game clock released so far (ms)
    uint32_t mPauseStartGameTime = 0;        // game time at which the relayed game paused (0 = not)
    double mReplaySpeed = 4.0;               // game ms per real ms; 0.0 halted
    uint32_t mCarriedRemainder = 0;          // real ms not used at the last release step
    uint32_t mLagStart = 0;                  // stamp at which the current halt began (0 = none)
    int32_t mStarvedSteps = 0;               // steps that ended because the next entry was not held
    int32_t mEmptySteps = 0;                 // steps in a row that released nothing (-1 after a halt)
    uint32_t mKeepAliveCount = 0;            // W3GS 0x27 received
    std::unique_ptr<IrcClient> mIrcClient;   // created by the IRC commands
    std::unique_ptr<ActionAnalyzerSet> mAnalyzers;  // empty until the client attaches to a game
    ChatSender mSenders[ChatSenderCount];
    uint32_t mSuppressedLeaves = 0;          // leave messages suppressed by the stream filter
    uint32_t mLobbyProgress = 0;             // completeness bits whose lobby messages were sent
    uint32_t mWelcomeStage = 0;              // 0 nothing, 1 welcome line sent, 2 complete
    uint8_t mClosing = 0;                    // all data released: 1 flushing, 2 stream ended
    uint32_t mCloseTime = 0;                 // stamp at which the stream was ended

private:
    uint32_t mConnectionId;
    CountingPeerSocket* mSocket = nullptr;
    bool mSendFailed = false;
};

// The clients held by the session-port listener (before the join) or by one LAN game host (after it),
// keyed by connection number. Connection numbers grow, so the order is the order of arrival. The list owns
// its clients: Erase deletes one, Release hands it on.
class LanClientList {
public:
    // Appends the client under its connection number (taking ownership).
    void Add(std::unique_ptr<LanClient> client);
    // The client under that number, or null.
    LanClient* Find(uint32_t connectionId) const;
    // The client whose socket is this one, or null.
    LanClient* FindBySocket(const void* socket) const;
    // Takes the client out of the list without deleting it; null when the list does not hold it.
    std::unique_ptr<LanClient> Release(uint32_t connectionId);
    // Takes the client out and deletes it; false when the list does not hold it.
    bool Erase(uint32_t connectionId);
    void Clear() { mClients.clear(); }

    bool Empty() const { return mClients.empty(); }
    size_t Size() const { return mClients.size(); }
    // The connection numbers in order, as a snapshot (handlers may delete clients while walking).
    std::vector<uint32_t> Ids() const;

private:
    std::map<uint32_t, std::unique_ptr<LanClient>> mClients;
};
