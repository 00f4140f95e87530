#pragma once
// TestLanClient: our own stand-in for Warcraft III against the product's emulated LAN game host.
//
// It speaks the Warcraft III LAN protocol with its own framing code (peers/LanWire.h) and shares no code
// with the product. Non-blocking POSIX sockets, single-threaded, no toolkit: every bit of work happens in
// Poll(), which the test calls from its pump loop:
//
//     bcxtest::TestLanClient wc3(0);                        // UDP on 127.0.0.1, free port (default 6112)
//     bcxtest::ScopedPumpHook hook([&] { wc3.Poll(); });
//     // point the product's LAN announcements at wc3.UdpPort() ...
//     ASSERT_TRUE(bcxtest::PumpUntil([&] { return !wc3.CreateGames().empty(); }));
//     wc3.SendSearch(datagramPort, wc3.CreateGames()[0].gameId);
//     ASSERT_TRUE(bcxtest::PumpUntil([&] { return !wc3.GameInfos().empty(); }));
//     wc3.JoinGame(wc3.GameInfos()[0]);                      // TCP join on the session port it names
//     ASSERT_TRUE(bcxtest::PumpUntil([&] { return !wc3.SlotTables().empty(); }));
//     wc3.SendChat("/start");
//     ASSERT_TRUE(bcxtest::PumpUntil([&] { return wc3.Actions().size() >= 3; }));
//     EXPECT_TRUE(wc3.ProtocolErrors().empty());
//
// UDP side (socket bound to 127.0.0.1:port given to the constructor; 0 picks a free port):
//   - receives and decodes CREATEGAME 0x31 -> CreateGames(), DECREATEGAME 0x33 -> EndGames(), GAMEINFO 0x30
//     -> GameInfos() (name, "!" live marker, host counter, entry key, the 16 info bytes, the decoded stat
//     string with map path and second text, the trailing words and the session port). Every datagram is
//     also kept raw in Datagrams(), in order of arrival.
//   - SendSearch(port, hostCounter) sends SEARCHGAME 0x2F (F7 2F 10 00, product, version, host counter) to
//     127.0.0.1:port from the same socket, so the product's answer comes back to it. SearchOptions make it
//     oversized / undersized or give it a bad first byte.
//
// TCP side (one connection per client object):
//   - Join(sessionPort, hostCounter, JoinOptions) / JoinGame(info): connects to 127.0.0.1:sessionPort and
//     sends REQJOIN 0x1E (host counter, entry key, 0, listen port, peer key, player name, 2 + 14 bytes).
//     JoinOptions carry the fault knobs (split into three writes, extra bytes coalesced into the same write,
//     another host counter, a duplicate join, a length field below 4, a bad first byte, connect only).
//   - Reassembles the host's byte stream into frames however it is split or coalesced. Every frame goes to
//     Frames() (id, raw bytes, arrival time) and, by id, to a decoded list; each decoded record carries
//     `seq`, its index in Frames(), so tests can check the order across lists:
//       0x01 ping -> Pings() (answered with 0x46 echoing the stamp unless AutoPong is off)
//       0x04 / 0x09 slot table -> SlotTables() (0x04 also has the view player id and join address)
//       0x06 player -> Players();  0x07 player left -> PlayersLeft();  0x08 player loaded -> PlayersLoaded()
//       0x3D map check -> MapChecks() (answered with 0x42 carrying the map size, see MapReply)
//       0x0A countdown start, 0x0B countdown end -> CountdownStarts(), CountdownEnds() (frame seqs);
//            the countdown end is answered with the loaded notice 0x23 unless AutoLoaded is off
//       0x0C action message -> Actions(): time increment, checksum field and its check (low 16 bits of the
//            CRC-32 over the bytes behind the 8-byte header), the action blocks' bytes and their parse,
//            arrival time from bcx::ProgramClock; each one is answered with a keep-alive 0x27 unless
//            AutoKeepAlive is off (the 30th triggers the host's info text)
//       0x0F chat -> Chats(): receivers, sender id, flag (0x10 lobby / 0x20 game), extra word, text bytes
//       anything else: only in Frames().
//     The host closing the connection is the end of the game: HostClosed() and ClosedAtSeq().
//   - Frames that break the protocol (first byte not 0xF7, length field below 4, a body that does not match
//     its message layout, a chat text without NUL, ...) are listed in ProtocolErrors(). After a broken
//     header the stream cannot be resynchronised; the client stops parsing (HeaderBroken()).
//   - Sending as Warcraft III does: SendPong, SendMapSize, SendChat (0x28: flag 0x10 before the loaded
//     notice, 0x20 with the extra word 0 after it), SendTeamChange (0x28 flag 0x11), SendLoaded (0x23),
//     SendKeepAlive (0x27), SendLeave (0x21), SendRaw / SendFrame for anything else. Writes never block:
//     what the socket does not take is queued and flushed by Poll().
//   - SetReading(false) stops reading the socket (the host's backlog then grows); SetReceiveBuffer() before
//     Join bounds the kernel's receive buffer to make that quick.
//
// All stored texts are raw bytes (std::string), exactly as on the wire.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace bcxtest {

// One received datagram, undecoded.
struct LanDatagram {
    uint32_t arrivalMs = 0; // bcx::ProgramClock::Now() at reception
    uint16_t fromPort = 0;
    uint8_t id = 0;         // byte 1 (0 when shorter)
    std::string raw;
};

// CREATEGAME 0x31.
struct LanCreateGame {
    uint32_t arrivalMs = 0;
    uint32_t product = 0, version = 0, gameId = 0;
};

// DECREATEGAME 0x33.
struct LanEndGame {
    uint32_t arrivalMs = 0;
    uint32_t gameId = 0;
};

// GAMEINFO 0x30, decoded.
struct LanGameInfo {
    uint32_t arrivalMs = 0;
    uint16_t fromPort = 0;       // the sender's port (the product's datagram port)
    bool ok = false;             // every field was present and the frame ended right after the port
    uint32_t product = 0, version = 0;
    uint32_t hostCounter = 0;    // the game id; name it in the join request
    uint32_t entryKey = 0;
    std::string name;            // as on the wire, with a leading "!" for a live game
    bool live = false;           // name starts with "!"
    std::string gameName;        // name without the "!"
    std::string infoBytes;       // the 16 bytes behind the name: info bytes A (6), B (6), info word C (4)
    bool statStringOk = false;   // the encoded stat string had its terminating 0
    std::string statString;      // the decoded stat string (from the byte after the first info byte)
    uint32_t mapFlags = 0;       // stat string: u32 at 0
    uint16_t mapWidth = 0, mapHeight = 0; // u16 at 5 and 7
    uint32_t mapCrc = 0;         // u32 at 9
    std::string mapPath;         // first string at 13
    std::string secondText;      // second string
    std::string thirdText;       // third string (empty as sent by the product)
    uint32_t wordD = 0, wordE = 0, word0 = 0, word1 = 0; // the four words behind the stat string
    uint32_t uptimeMs = 0;       // the host's elapsed-time stamp
    uint16_t sessionPort = 0;    // the TCP port to join
};

// Nine W3GS slot bytes.
struct LanSlot {
    uint8_t playerId = 0, downloadPercent = 0, status = 0, computer = 0, team = 0, colour = 0, race = 0,
            computerLevel = 0, handicap = 0;
};

// Slot table 0x04 (on join) or 0x09.
struct LanSlotTable {
    size_t seq = 0;
    uint32_t arrivalMs = 0;
    uint8_t id = 0;              // 0x04 or 0x09
    uint16_t declaredSize = 0;   // the u16 in front (must be 9n + 7)
    std::vector<LanSlot> slots;
    uint32_t randomSeed = 0;
    uint8_t layoutStyle = 0;
    uint8_t playerSlots = 0;
    uint8_t viewPlayerId = 0;    // 0x04 only: the player id Warcraft III is given
    std::string joinAddress;     // 0x04 only: 16 bytes
};

// Player 0x06.
struct LanPlayer {
    size_t seq = 0;
    uint32_t arrivalMs = 0;
    uint32_t joinCounter = 0;
    uint8_t playerId = 0;
    std::string name;
    std::string tail;            // the 34 bytes behind the name (01 00 and 32 zeros)
};

// Player left 0x07.
struct LanPlayerLeft {
    size_t seq = 0;
    uint32_t arrivalMs = 0;
    uint8_t playerId = 0;
    uint32_t reason = 0;
};

// Player loaded 0x08.
struct LanPlayerLoaded {
    size_t seq = 0;
    uint32_t arrivalMs = 0;
    uint8_t playerId = 0;
};

// Map check 0x3D.
struct LanMapCheck {
    size_t seq = 0;
    uint32_t arrivalMs = 0;
    uint32_t checkWord = 0;
    std::string mapPath;
    uint32_t mapSize = 0, mapInfo = 0, mapChecksum = 0;
};

// Ping 0x01.
struct LanPing {
    size_t seq = 0;
    uint32_t arrivalMs = 0;
    uint32_t stamp = 0;
};

// Chat 0x0F.
struct LanChat {
    size_t seq = 0;
    uint32_t arrivalMs = 0;
    std::vector<uint8_t> receivers;
    uint8_t sender = 0;
    uint8_t flag = 0;            // 0x10 lobby, 0x20 game
    bool hasExtra = false;       // flag 0x20: the u32 behind the flag
    uint32_t extra = 0;
    std::string text;            // without its NUL
};

enum class ChecksumResult {
    None, // a 6-byte message (time increment only) carries no checksum
    Ok,
    Bad,
};

// One action block of an action message.
struct LanActionBlock {
    uint8_t playerId = 0;
    std::string actions;         // the n bytes of actions
};

// Action message 0x0C.
struct LanAction {
    size_t seq = 0;
    uint32_t arrivalMs = 0;      // bcx::ProgramClock::Now() when the frame was complete
    uint16_t increment = 0;      // game-time increment in ms
    uint16_t checksum = 0;       // the field at offset 6 (0 when absent)
    uint16_t computed = 0;       // low 16 bits of the CRC-32 over bytes 8..end
    ChecksumResult checksumResult = ChecksumResult::None;
    std::string blockBytes;      // everything behind the 8-byte header
    std::vector<LanActionBlock> blocks;
    bool blocksOk = true;        // the block lengths add up to the end of the message
    std::string raw;
};

// One received frame.
struct LanFrame {
    size_t seq = 0;
    uint32_t arrivalMs = 0;
    uint8_t id = 0;
    std::string raw;
};

// How to answer the map check 0x3D.
enum class MapReply {
    Off,        // send nothing (the test calls SendMapSize)
    Found,      // 0x42 with the map size of the check (default)
    NotFound,   // 0x42 with map size 0
};

struct JoinOptions {
    std::string playerName = "Viewer";
    uint32_t entryKey = 0;
    uint16_t listenPort = 6112;
    uint32_t peerKey = 0;
    // Faults:
    bool overrideHostCounter = false; // send `hostCounter` below instead of the one given to Join
    uint32_t hostCounter = 0;
    bool splitInThree = false;        // the join goes out in three writes, one per Poll, >= splitGapMs apart
    int splitGapMs = 30;
    std::string coalesced;            // bytes sent in the same write right behind the join (a second packet)
    bool duplicate = false;           // a second, identical join in a later write
    int lengthField = -1;             // >= 0: this value in the join's length field (e.g. 2 or 3)
    int firstByte = -1;               // >= 0: this first byte instead of 0xF7 (e.g. 0xF8, or 0xFF)
    bool connectOnly = false;         // connect and send nothing (then Close() to close before joining)
};

struct SearchOptions {
    uint32_t product = 0x57335850;    // "PX3W" on the wire
    uint32_t version = 26;
    int totalSize = -1;               // >= 0: pad with zeros or cut to this many bytes (length field kept 16)
    int firstByte = -1;               // >= 0: first byte instead of 0xF7
};

class TestLanClient {
public:
    // Binds the UDP socket to 127.0.0.1:udpPort (0: a free port). Check Ok().
    explicit TestLanClient(uint16_t udpPort = 6112);
    ~TestLanClient();
    TestLanClient(const TestLanClient&) = delete;
    TestLanClient& operator=(const TestLanClient&) = delete;

    bool Ok() const { return mUdp >= 0; }
    uint16_t UdpPort() const { return mUdpPort; }
    const std::string& Error() const { return mError; } // last socket error text

    // Does all pending work without blocking: datagrams in, connect completion, queued writes out, stream in.
    void Poll();

    // ---- UDP
    bool SendSearch(uint16_t toPort, uint32_t hostCounter, const SearchOptions& options = SearchOptions());
    bool SendDatagram(uint16_t toPort, const std::string& bytes);
    const std::vector<LanDatagram>& Datagrams() const { return mDatagrams; }
    const std::vector<LanCreateGame>& CreateGames() const { return mCreateGames; }
    const std::vector<LanEndGame>& EndGames() const { return mEndGames; }
    const std::vector<LanGameInfo>& GameInfos() const { return mGameInfos; }
    // The newest well-formed GAMEINFO whose game name (without "!") is `gameName`; null when none.
    const LanGameInfo* FindGame(const std::string& gameName) const;
    const LanGameInfo* FindGame(uint32_t hostCounter) const;

    // ---- TCP
    bool Join(uint16_t sessionPort, uint32_t hostCounter, const JoinOptions& options = JoinOptions());
    bool JoinGame(const LanGameInfo& info, const JoinOptions& options = JoinOptions());
    void Close();                       // closes the connection at once (queued writes are dropped)
    bool Connected() const { return mState == TcpState::Connected; }
    bool Connecting() const { return mState == TcpState::Connecting; }
    bool HostClosed() const { return mHostClosed; }
    size_t ClosedAtSeq() const { return mClosedAtSeq; } // Frames().size() when the host closed
    bool HeaderBroken() const { return mHeaderBroken; }
    size_t PendingWriteBytes() const;   // queued, not yet taken by the socket
    uint16_t LocalTcpPort() const { return mLocalTcpPort; }
    // Built join frame for these arguments (no fault knobs applied except lengthField / firstByte).
    static std::string BuildJoin(uint32_t hostCounter, const JoinOptions& options);

    void SendRaw(const std::string& bytes); // one write
    void SendFrame(uint8_t id, const std::string& body);
    void SendPong(uint32_t stamp);          // 0x46
    void SendMapSize(uint32_t mapSize);     // 0x42: u32 1, u8 1, u32 map size
    // 0x28 to the players recorded so far (or player 1), from our own id (the 0x04 view player id):
    // flag 0x10 before SendLoaded, 0x20 with u32 0 afterwards.
    void SendChat(const std::string& text);
    void SendChatWithFlag(const std::string& text, uint8_t flag);
    void SendTeamChange(uint8_t team);      // 0x28 flag 0x11
    void SendLoaded();                      // 0x23, and later chat goes out in the in-game form
    void SendKeepAlive();                   // 0x27: u8 0, u32 checksum
    void SendLeave(uint32_t reason = 7);    // 0x21: u32 reason

    // Automatic answers (all on by default).
    void SetAutoPong(bool on) { mAutoPong = on; }
    void SetMapReply(MapReply reply) { mMapReply = reply; }
    void SetAutoLoaded(bool on) { mAutoLoaded = on; }
    void SetAutoKeepAlive(bool on) { mAutoKeepAlive = on; }

    // Backlog knobs.
    void SetReading(bool on) { mReading = on; }
    void SetReceiveBuffer(int bytes) { mReceiveBuffer = bytes; } // applied by the next Join

    bool Loaded() const { return mLoaded; }
    uint8_t OwnPlayerId() const { return mOwnPlayerId; } // from the 0x04 slot table; 0 before

    const std::vector<LanFrame>& Frames() const { return mFrames; }
    const std::vector<LanPing>& Pings() const { return mPings; }
    const std::vector<LanSlotTable>& SlotTables() const { return mSlotTables; }
    const std::vector<LanPlayer>& Players() const { return mPlayers; }
    const std::vector<LanPlayerLeft>& PlayersLeft() const { return mPlayersLeft; }
    const std::vector<LanPlayerLoaded>& PlayersLoaded() const { return mPlayersLoaded; }
    const std::vector<LanMapCheck>& MapChecks() const { return mMapChecks; }
    const std::vector<size_t>& CountdownStarts() const { return mCountdownStarts; }
    const std::vector<size_t>& CountdownEnds() const { return mCountdownEnds; }
    const std::vector<LanChat>& Chats() const { return mChats; }
    const std::vector<LanAction>& Actions() const { return mActions; }
    const std::vector<std::string>& ProtocolErrors() const { return mProtocolErrors; }

    // Counts of what went out, by message id (0x1E, 0x46, 0x42, 0x28, 0x23, 0x27, 0x21, ...).
    size_t SentCount(uint8_t id) const;
    uint64_t BytesReceived() const { return mBytesReceived; }

    // Sum of the time increments of all action messages received.
    uint32_t GameTimeMs() const { return mGameTimeMs; }

private:
    enum class TcpState { Idle, Connecting, Connected, Closed };
    struct Chunk {
        std::string bytes;
        size_t sent = 0;
        int gapMs = 0; // real time to wait after the previous chunk was written
    };

    void PollUdp();
    void PollTcp();
    void HandleDatagram(const std::string& bytes, uint16_t fromPort);
    void DecodeGameInfo(const std::string& bytes, uint16_t fromPort);
    void FlushWrites();
    void ReadStream();
    void ParseFrames();
    void HandleFrame(const std::string& raw);
    void Queue(std::string bytes, int gapMs = 0);
    void NoteSent(const std::string& bytes);
    void Fail(const std::string& what);
    void Problem(size_t seq, uint8_t id, const std::string& what);
    void OnHostClosed();

    int mUdp = -1;
    uint16_t mUdpPort = 0;
    int mTcp = -1;
    TcpState mState = TcpState::Idle;
    uint16_t mLocalTcpPort = 0;
    std::string mError;

    std::deque<Chunk> mOut;
    int64_t mLastWriteUs = 0; // steady clock of the last completed chunk
    std::string mIn;
    bool mReading = true;
    int mReceiveBuffer = 0;
    bool mHostClosed = false;
    size_t mClosedAtSeq = 0;
    bool mHeaderBroken = false;
    uint64_t mBytesReceived = 0;

    bool mAutoPong = true;
    MapReply mMapReply = MapReply::Found;
    bool mAutoLoaded = true;
    bool mAutoKeepAlive = true;
    bool mLoaded = false;
    uint8_t mOwnPlayerId = 0;
    uint32_t mGameTimeMs = 0;
    size_t mSentCount[256] = {};

    std::vector<LanDatagram> mDatagrams;
    std::vector<LanCreateGame> mCreateGames;
    std::vector<LanEndGame> mEndGames;
    std::vector<LanGameInfo> mGameInfos;

    std::vector<LanFrame> mFrames;
    std::vector<LanPing> mPings;
    std::vector<LanSlotTable> mSlotTables;
    std::vector<LanPlayer> mPlayers;
    std::vector<LanPlayerLeft> mPlayersLeft;
    std::vector<LanPlayerLoaded> mPlayersLoaded;
    std::vector<LanMapCheck> mMapChecks;
    std::vector<size_t> mCountdownStarts;
    std::vector<size_t> mCountdownEnds;
    std::vector<LanChat> mChats;
    std::vector<LanAction> mActions;
    std::vector<std::string> mProtocolErrors;
};

} // namespace bcxtest
