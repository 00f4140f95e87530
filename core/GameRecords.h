#pragma once
// One broadcast game as the client knows it: the list entry with its states and LAN offer (Game), the
// announced game information (GameInfo), the lobby with slot and player records (GameDetails) and the
// action data (GameData, core/GameData.h).
//
// The sub-records read themselves from a relay packet and write themselves into a file buffer in one
// fixed field order; integers little-endian, strings NUL-terminated raw bytes. A short packet never fails
// loudly: once a field is missing, it and every later number read as 0xAD bytes, every later string keeps
// its previous value, and the packet's read error is set.

#include <cstdint>
#include <string>

#include <wx/string.h>

#include "core/GameData.h"

class PacketBuffer;
class filePacket;
class warPacket;

// Listed state of a game (u32 in Game, u8 on the wire). States below GameStateFinished count as live.
enum GameState : uint32_t {
    GameStateComingUp = 0,
    GameStateAboutToStart = 1,
    GameStateDelaying = 2,
    GameStateLive = 3,
    GameStateFinished = 4,
    GameStateBroken = 5,
    GameStateLocal = 6,
    GameStateCount = 7
};

enum GameDownloadState : uint32_t {
    DownloadListed = 0,
    DownloadDetails = 1,
    DownloadStartAnnounced = 2,
    DownloadReceiving = 3,
    DownloadFinished = 4,
    DownloadBroken = 5
};

enum LanOffer : uint32_t {
    LanNotOffered = 0,
    LanOfferedAuto = 1,
    LanOfferedByUser = 2,
    LanWithdrawnByUser = 3
};

enum GameSubscription : uint32_t {
    SubscriptionNone = 0,
    SubscriptionDetailsRequested = 1,
    SubscriptionAwaitingDetails = 2,
    SubscriptionDataOnly = 3,
    SubscriptionStartAnnounced = 4,
    SubscriptionFinished = 5
};

struct GameStateRgb {
    uint8_t r, g, b;
};

// Display name and colour of a listed state. The state comes from the relay: a value outside 0-6 is
// shown as the broken state.
wxString GameStateName(uint32_t state);
GameStateRgb GameStateColour(uint32_t state);
inline bool IsLiveGameState(uint32_t state) { return state < GameStateFinished; }
// A state from outside (the relay, a page's link) as a listed state: outside 0-6 it is the broken state.
inline uint32_t ClampGameState(uint32_t state) { return state < GameStateCount ? state : GameStateBroken; }

// Magic in front of every written record: the bytes "bCx" and a NUL.
constexpr uint32_t kRecordMagic = 0x00784362;

class GameInfo {
public:
    GameInfo(const std::string& gameName, uint16_t sessionPort);

    // Reads product, version, host counter, entry key, info bytes A and B, info word C, map path, info
    // words D and E; then word F := 0, word G := 1, receive time := program clock, present := 1.
    void Read(PacketBuffer& packet);
    // Magic and every field in the recorded order. Always true.
    bool Write(PacketBuffer& out) const;

    // --- Warcraft III LAN side (core/GameRecordsLan.cpp) ---
    // Appends the body of the game-info datagram (0x30) behind a header the caller wrote; the name gets
    // a leading "!" when live.
    void WriteLanGameInfo(warPacket& packet, bool live) const;

    uint32_t mProduct = 0;        // FourCC as stored by Warcraft III ('W3XP' or 'WAR3')
    uint32_t mVersion = 0;        // game version (minor number)
    uint8_t mInfoA[6] = {};
    uint8_t mInfoB[6] = {};
    uint32_t mInfoC = 0;
    std::string mMapPath;
    uint32_t mInfoD = 0;
    uint32_t mInfoE = 0;
    std::string mGameName;
    uint32_t mHostCounter = 0;
    uint32_t mEntryKey = 0;
    uint32_t mPresent = 0;        // 1 once read from a relay packet
    std::string mSecondText;      // "Brawlcast"; never read from the relay
    uint32_t mWordF = 0;
    uint32_t mWordG = 0;
    uint32_t mReceiveTime = 0;    // program clock (ms) when Read ran
    uint16_t mSessionPort = 0;    // the session port actually bound
};

// One Warcraft III slot, with a valid flag in front.
struct SlotRecord {
    uint8_t mValid = 0;           // 0/1
    uint8_t mPlayerId = 0;
    uint8_t mDownloadPercent = 0;
    uint8_t mStatus = 0;          // 0 open, 1 closed, 2 used
    uint8_t mComputer = 0;
    uint8_t mTeam = 0;            // 12 = observers
    uint8_t mColour = 0;
    uint8_t mRace = 0;
    uint8_t mComputerLevel = 0;
    uint8_t mHandicap = 0;
};

struct PlayerRecord {
    uint8_t mValid = 0;           // 0/1
    uint32_t mJoinCounter = 0;
    std::string mName;            // raw bytes
    uint8_t mExternalAddress[16] = {};
    uint8_t mInternalAddress[16] = {};
    int32_t mSlotIndex = -1;      // cached slot index, -1 = not looked up
    int32_t mSpare = -1;
    int32_t mLeaveTime = -1;      // game time at which the player left, -1 = still in the game
};

constexpr uint8_t kSlotStatusOpen = 0;
constexpr uint8_t kSlotStatusClosed = 1;
constexpr uint8_t kSlotStatusUsed = 2;
constexpr uint8_t kObserverTeam = 12;

// Valid, used, player id not 0, not a computer, and team not 12 (playing) / team 12 (observer).
bool IsPlayingSlot(const SlotRecord& slot);
bool IsObserverSlot(const SlotRecord& slot);

class GameDetails {
public:
    static constexpr int kSlots = 12;
    static constexpr int kPlayers = 13;  // indexed by Warcraft III player id 0-12

    // Completeness bits.
    static constexpr uint32_t kHaveBase = 1;
    static constexpr uint32_t kHaveSlots = 2;
    static constexpr uint32_t kHaveMapCheck = 4;
    static constexpr uint32_t kHavePlayers = 8;

    GameDetails();

    // Reads the record in the relay order. The slot count is clamped to 12; every player's cached slot
    // index is reset.
    void Read(PacketBuffer& packet);
    // Magic, then the fields in the relay order. Always true.
    bool Write(PacketBuffer& out) const;

    // The slot of a player id: id 0, an id above 12 and an id no slot holds give the first slot record.
    // Caches the index found in the player record.
    SlotRecord* GetPlayerSlot(uint8_t playerId);
    // The view player when that player sits in an observer slot; otherwise the player id (1-12) of the
    // first human observer in slot order; otherwise the view player unchanged (callers bound it).
    uint8_t GetViewPlayer();

    // --- Warcraft III LAN side (core/GameRecordsLan.cpp) ---
    // Appends the body of lobby message id behind a header the caller wrote: 4 and 9 the slot tables, 6
    // the player record of playerId (name, when given, in place of the record's name), 61 the map check;
    // 0. Id 30: nothing, 0. Any other id, and a player id outside 1-12 for 6: nothing, -2.
    int32_t WriteLanRecord(warPacket& packet, uint32_t id, uint32_t playerId, const std::string* name);
    // Slots that are valid, used, hold a player id other than 0, are not a computer and are in team 12.
    uint32_t CountObserverSlots() const;
    // The player id of the index-th observer (from 0, in slot order) who is not the view player and has not
    // left; without such an observer the first playing human other than the view player who has not left;
    // 0 when there is none.
    uint32_t GetOtherPlayer(uint32_t index);

    uint32_t mMapCheckWord = 1;
    std::string mMapPath;
    uint32_t mMapSize = 0;
    uint32_t mMapInfo = 0;
    uint32_t mMapChecksum = 0;
    uint32_t mDetailWord5 = 0;
    uint32_t mDetailWord6 = 0;
    uint32_t mRandomSeed = 0;
    uint8_t mLayoutStyle = 0;
    uint8_t mPlayerSlots = 0;
    uint8_t mSlotCount = 0;       // at most 12
    SlotRecord mSlots[kSlots];
    PlayerRecord mPlayers[kPlayers];
    uint8_t mViewPlayer = 0;
    uint8_t mJoinAddress[16] = {};
    uint32_t mCompleteness = 0;
    std::string mDetailText;
};

class Game {
public:
    explicit Game(uint32_t id);
    // Sets the download state to 0, then deletes data, details and info (and the resume cursor).
    ~Game();
    Game(const Game&) = delete;
    Game& operator=(const Game&) = delete;

    uint32_t mId;
    std::string mName;                  // raw bytes (GBK)
    std::string mPlayers = "None";      // observers follow the marker "  Obs: "
    uint32_t mStartTime = 0;            // seconds since 1970
    std::string mPublisher;
    uint32_t mSubscribeTime = 0;
    uint32_t mDownloadState = DownloadListed;  // GameDownloadState
    uint32_t mState = GameStateComingUp;       // GameState
    uint32_t mSecondsToStart = 0;
    uint32_t mDueTime = 0;              // seconds since 1970
    uint32_t mLength = 0;               // ms
    uint32_t mInfoTime = 0;             // seconds since 1970
    std::string mInfoText1;
    std::string mInfoText2;
    uint32_t mInfoValue = 0;
    GameDataCursor* mResumeCursor = nullptr;  // owned; GameData::ReadBlocks deletes it when caught up
    uint32_t mMark = 0;
    uint32_t mSubscription = SubscriptionNone;  // GameSubscription
    uint32_t mOffer = LanNotOffered;            // LanOffer
    uint32_t mKind = 0;
    GameInfo* mInfo = nullptr;          // owned
    GameDetails* mDetails = nullptr;    // owned
    GameData* mData = nullptr;          // owned

    // --- Warcraft III LAN side (core/GameRecordsLan.cpp) ---
    // True when the game has its GameInfo (present), complete GameDetails and finished GameData.
    bool IsReadyForLan() const;
};

// Appends the Warcraft III stat-string encoding of the input's bytes to out: the first byte completes the
// block the relay began in the info bytes, then blocks of seven behind a mask byte; a terminating 0.
void EncodeStatString(warPacket& out, const filePacket& in);
