#pragma once
// TestRelayServer: our own relay server for the tests of the product's relay client.
//
// It speaks the server side of the relay protocol with a frame codec of its own (nothing is shared with
// the product), on 127.0.0.1, non-blocking, single-threaded, without wx. Nothing happens by itself:
// every accept, read, answer, stream step and write is done by Poll(), which never blocks. Hook it into
// the test pump:
//
//     bcxtest::TestRelayServer relay;
//     ASSERT_TRUE(relay.Start());                       // ephemeral port, see Port()
//     relay.AddGame(bcxtest::TestRelayServer::MakeFinished1v1(0x1001, 50));
//     bcxtest::ScopedPumpHook hook([&] { relay.Poll(); });
//     ... connect the product to 127.0.0.1:relay.Port(), PumpUntil(...) ...
//     EXPECT_EQ(relay.Acks().size(), ...);
//
// ---------------------------------------------------------------------------------------------------
// Wire (little-endian integers, strings NUL-terminated without length prefix)
//   Raw handshake: the client sends 4 raw bytes (its protocol word); the server answers with 4 raw bytes
//   (ConnectionScript::handshakeWord, normally 0x01000300 = bytes 00 03 00 01). After that every message
//   is a frame: u16 0xBEEF, u8 id, u16 total length including the 5-byte header, body.
//
// What the server does with each client frame (everything it receives is logged, see ClientLog()):
//   0x00 version {u8, u32}            -> 0x00 {u32 ConnectionScript::relayVersion}
//   0x01 logon {str client, u32 ver, u8, u32 relay ver, str user, str password}
//                                      -> recorded in Logons(); then per ConnectionScript::refusal:
//                                         none:   0x01 {u8 1, server name, u32 server version, title, motd,
//                                                 IRC server, u16 IRC port, IRC channel, URL
//                                                 [, news record when LogonInfo::withNews]}
//                                         reason: 0x01 {u8 0, reason}
//                                         code:   0xF2 {u8 code [, text when code 0]}
//                                         and, when refusal.closeAfter, the connection is closed after it.
//   0x20 game list {u32}              -> 0x20 {u32 list word, u32 0, u32 count, count x {u32 id, u8 state,
//                                         u32 start time, name}}; games in id order; the count written is
//                                         ServerOptions::listCountOverride when set.
//   0x21 game info {u32 id}           -> 0x21 {u32 id, players, publisher, u32 length, info text 1,
//                                         info text 2, u32 info value, dropped string, product, version,
//                                         host counter, entry key, 6 bytes A, 6 bytes B, u32 C, map path,
//                                         u32 D, u32 E}. Unknown id or a game without info: no answer.
//   0x22 subscribe {u32 id, u32 details}
//                                      -> unknown game: 0x22 {id, 0} and nothing else.
//                                         Known game: 0x22 {id, 1}, then a stream (below).
//   0x23 unsubscribe {u32 id}         -> 0x23 {id} (always); the game's stream on this connection ends.
//   0x26 ack {u32 id, u32 seq, u32 bytes held}  -> recorded in Acks(); no answer.
//   0x28 echo {u32 value}             -> recorded in Echoes(); no answer.
//   any other id                      -> logged only.
//   A frame with a magic other than 0xBEEF or a length below 5 is logged as Bad and the connection is
//   closed.
//
// Streams (one per game and connection at most):
//   On a subscription with details: 0x24 {id, details record}; then the start announcement 0x25
//   {id, seed, seconds, start time}: seconds 0 when the game has started, else RelayGame::secondsToStart
//   (at least 1) and a second 0x25 with 0 seconds once StartGame(id) is called; then data blocks 0x26
//   {id, u32 seq, u32 n, u32 index of the block's first entry, u32 entries in the block, n bytes of
//   entries {u32 time, u32 length, bytes}} in entry order from entry 0; and when the game is finished
//   and every entry has gone out: 0x27 {id, number of entries of the whole game}.
//   A data-only subscription streams the same without the 0x24.
//   Block sequence numbers count from 1 per stream. The seed of 0x25 equals the details' seed.
//   A subscription with details for a game that already has a stream on the connection replaces it: the
//   new stream starts again from 0x24 and entry 0 (the client discards what it held unless its download
//   is broken, in which case it skips the entries it holds by position). A data-only subscription while
//   a stream exists is only confirmed (0x22) and the stream goes on. After 0x23 a subscription starts a
//   new stream. Every stream of a game sends the same entries in the same order.
//   Live games: entries added by AppendEntries() go out to every running stream on the next Poll;
//   Finish() lets the streams send 0x27 after their last entry.
//   Pacing: a block holds at most ServerOptions::blockBytes entry bytes (one entry always fits alone) and
//   at most ServerOptions::entriesPerBlock entries (0 = no limit). With ServerOptions::ackWindow > 0 a
//   stream sends no further block while that many of its blocks are not acknowledged.
//
// Connections are numbered 1, 2, 3 ... in accept order (ConnId). Each one takes its behaviour from a
// ConnectionScript: the one set with ScriptConnection(n, ...) for the n-th accepted connection, otherwise
// the default script (SetDefaultScript). Closing is graceful: the server writes what it has queued,
// shuts its sending side down and keeps reading (and logging) until the client closes.
//
// Observation: ClientLog() is the ordered log of what clients sent: the raw protocol word (kind
// Handshake, 4 raw bytes), each frame (kind Frame: id and raw bytes with header), a broken frame (kind
// Bad: the rest of the bytes). ServerLog() holds every frame the server queued (injected raw bytes too,
// as kind Raw). Times are bcx::ProgramClock::Now() (manual mode works).
// ---------------------------------------------------------------------------------------------------

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace bcxtest {

using ConnId = size_t; // 1-based accept number

// One recorded game-data entry: time in ms and the bytes (normally one W3GS packet).
struct RelayEntry {
    uint32_t time = 0;
    std::string bytes;
};

// The game-information message (0x21) of a game, in message order.
struct RelayGameInfo {
    std::string players = "None";
    std::string publisher;
    uint32_t lengthMs = 0;
    std::string infoText1;
    std::string infoText2;
    uint32_t infoValue = 0;
    std::string droppedText;
    // The game-information record.
    uint32_t product = 0x57335850; // 'W3XP'
    uint32_t version = 26;
    uint32_t hostCounter = 0;
    uint32_t entryKey = 0;
    std::array<uint8_t, 6> infoA{};
    std::array<uint8_t, 6> infoB{};
    uint32_t infoC = 0;
    std::string mapPath;
    uint32_t infoD = 0;
    uint32_t infoE = 0;
};

struct RelaySlot {
    uint8_t valid = 0; // sent as is (the client stores any non-zero value as 1)
    uint8_t playerId = 0;
    uint8_t downloadPercent = 100;
    uint8_t status = 0; // 0 open, 1 closed, 2 used
    uint8_t computer = 0;
    uint8_t team = 0; // 12 = observers
    uint8_t colour = 0;
    uint8_t race = 0;
    uint8_t level = 1;
    uint8_t handicap = 100;
};

struct RelayPlayer {
    uint8_t valid = 0;
    uint32_t joinCounter = 0;
    std::string name;
    std::array<uint8_t, 16> externalAddress{};
    std::array<uint8_t, 16> internalAddress{};
};

// The game-details record (0x24), fields in wire order.
struct RelayDetails {
    std::string mapPath;
    uint32_t mapSize = 0;
    uint32_t mapInfo = 0;
    uint32_t mapCheckWord = 1;
    uint32_t mapChecksum = 0;
    uint32_t word5 = 0;
    uint32_t word6 = 0;
    uint32_t seed = 0;
    uint8_t layoutStyle = 0;
    uint8_t playerSlots = 0;
    std::array<uint8_t, 16> joinAddress{};
    uint8_t slotCount = 0;
    std::array<RelaySlot, 12> slots{};
    std::array<RelayPlayer, 13> players{}; // indexed by player id 0-12
    uint8_t viewPlayer = 0;
    std::string detailText;
    uint32_t completeness = 15;
};

// A malformed data block, sent in place of block number `block` (0-based within each stream).
struct RelayDataFault {
    enum Kind {
        None,
        EntryLengthTooLong, // the last entry's length field exceeds the bytes that follow it
        StrayBytes,         // `stray` (1-7) bytes after the last entry, counted in n
        CountLargerThanFrame, // n is `extra` bytes larger than the entry bytes present
    };
    Kind kind = None;
    uint32_t block = 0;
    uint32_t stray = 1;
    uint32_t extra = 1000;
};

struct RelayGame {
    uint32_t id = 0;
    std::string name;
    uint8_t state = 4;        // list state byte, sent as is (7 or more is allowed, for fault tests)
    uint32_t startTime = 0;   // seconds since 1970, in the list and in 0x25
    bool hasInfo = true;      // false: 0x21 requests get no answer
    RelayGameInfo info;
    RelayDetails details;
    bool started = true;      // false: streams send 0x25 with secondsToStart and wait for StartGame()
    uint32_t secondsToStart = 0;
    std::vector<RelayEntry> entries;
    bool finished = true;     // the streams end with 0x27
    // Faults.
    std::optional<uint32_t> startSeedOverride; // seed sent in 0x25 instead of details.seed
    int32_t finishCountDelta = 0;              // added to the entry count in 0x27
    RelayDataFault dataFault;
};

// How the server answers the logon.
struct LogonRefusal {
    enum Kind {
        None,     // accept
        Reason,   // 0x01 {0, text}
        ErrorCode // 0xF2 {code[, text when code is 0]}
    };
    Kind kind = None;
    uint8_t code = 0;
    std::string text = "Access denied";
    bool closeAfter = true; // close the connection after the refusal
};

// Raw bytes queued on a connection right after its `afterFrames`-th frame was queued (0: right after
// the protocol word). They do not count as frames.
struct RelayInjection {
    uint32_t afterFrames = 0;
    std::string bytes;
};

struct ConnectionScript {
    bool closeOnAccept = false;          // accept, then close at once (nothing is sent)
    enum class Handshake {
        Normal,          // answer the 4-byte word in one write
        Split,           // 2 bytes, then 2 bytes in a later Poll
        CloseAfterWord,  // answer the word, then close
        CloseBeforeWord, // read the client's word, then close without answering
        Silent           // read the client's word and never answer
    };
    Handshake handshake = Handshake::Normal;
    uint32_t handshakeWord = 0x01000300; // 0 = user limit; another major/minor = version mismatch
    uint32_t relayVersion = 0x01000500;  // the answer to 0x00
    LogonRefusal refusal;
    size_t writeChunk = 0;        // at most this many bytes per Poll (1 = byte by byte); 0 = no limit
    // Frames are counted from the first one after the protocol word; injected bytes do not count.
    int closeAfterFrames = -1;    // >= 0: close once this many frames are queued (later ones are dropped);
                                  // 0 closes right after the protocol word
    int closeMidFrame = -1;       // >= 0: queue this many frames, then half of the next one, then close
    std::vector<RelayInjection> injections;
    uint32_t pingIntervalMs = 0;  // > 0: send 0x28 pings with values 1, 2, 3 ... at this interval
};

struct ServerOptions {
    uint32_t listWord = 0x4C495354;
    std::optional<uint32_t> listCountOverride; // count written into 0x20 instead of the real one
    size_t blockBytes = 4096;
    size_t entriesPerBlock = 0;
    size_t ackWindow = 0;
    size_t maxBlocksPerPoll = 0; // 0 = no limit (apart from ~1 MB of queued output per connection)
};

// What the logon answer carries.
struct LogonInfo {
    std::string serverName = "Test Relay";
    uint32_t serverVersion = 0x01000500;
    std::string title = "Test relay";
    std::string motd = "Welcome to the test relay";
    std::string ircServer = "localhost";
    uint16_t ircPort = 6667;
    std::string ircChannel = "#brawlcast";
    std::string url = "http://localhost/";
    bool withNews = false;
    uint32_t newsWord = 1;
    std::string newsPage = "http://localhost/news";
    std::string newsSecond;
    uint8_t newsFlags = 0;
    uint16_t newsWidth = 400;
    uint16_t newsHeight = 300;
    std::string newsDialog;
};

class TestRelayServer {
public:
    // --- Observation records -------------------------------------------------------------------------
    struct ClientFrame {
        enum Kind { Handshake, Frame, Bad };
        ConnId conn = 0;
        uint32_t time = 0;
        Kind kind = Frame;
        uint8_t id = 0;  // Frame only
        std::string raw; // whole frame with header / the 4 raw bytes / the broken rest
        std::string Body() const { return raw.size() >= 5 && kind == Frame ? raw.substr(5) : std::string(); }
    };
    struct ServerFrame {
        enum Kind { Word, Frame, Raw };
        ConnId conn = 0;
        uint32_t time = 0;
        Kind kind = Frame;
        uint8_t id = 0;
        std::string raw;
    };
    struct LogonRecord {
        ConnId conn = 0;
        std::string clientName;
        uint32_t clientVersion = 0;
        uint8_t flag = 0;
        uint32_t relayVersion = 0;
        std::string user;
        std::string password;
        bool complete = false; // every field was present
    };
    struct Ack {
        ConnId conn = 0;
        uint32_t time = 0;
        uint32_t gameId = 0;
        uint32_t seq = 0;
        uint32_t bytesHeld = 0;
    };
    struct Echo {
        ConnId conn = 0;
        uint32_t time = 0;
        uint32_t value = 0;
    };
    struct Subscription {
        ConnId conn = 0;
        uint32_t time = 0;
        uint32_t gameId = 0;
        bool details = false;
    };

    TestRelayServer();
    ~TestRelayServer();
    TestRelayServer(const TestRelayServer&) = delete;
    TestRelayServer& operator=(const TestRelayServer&) = delete;

    // --- Listening -----------------------------------------------------------------------------------
    // Listens on 127.0.0.1:port (0 = ephemeral). False on failure.
    bool Start(uint16_t port = 0);
    uint16_t Port() const { return mPort; }
    // Stops listening: new connects are refused. Existing connections stay.
    void StopListening();
    // Listens again on the same port.
    bool ResumeListening();
    bool IsListening() const { return mListenFd >= 0; }

    // One step: accept, read, answer, stream, write. Never blocks.
    void Poll();

    // --- Scripting -----------------------------------------------------------------------------------
    ServerOptions& Options() { return mOptions; }
    LogonInfo& LogonAnswer() { return mLogon; }
    void SetDefaultScript(const ConnectionScript& script) { mDefaultScript = script; }
    void ScriptConnection(ConnId n, const ConnectionScript& script) { mScripts[n] = script; }

    RelayGame& AddGame(RelayGame game); // replaces a game with the same id
    RelayGame* FindGame(uint32_t id);
    void RemoveGame(uint32_t id);       // streams of it stop silently
    // Live games.
    void AppendEntries(uint32_t gameId, const std::vector<RelayEntry>& entries);
    void AppendDefaultEntries(uint32_t gameId, size_t count); // MakeActionEntry, continuing the times
    void Finish(uint32_t gameId);       // finished; list state becomes 4 when it was below
    void StartGame(uint32_t gameId);    // started; waiting streams get 0x25 with 0 seconds and data

    // Realistic defaults. A 1v1 on a two-player map with one observer (the broadcaster, player 3, the view
    // player), complete details, the seed derived from the id, entries made by MakeActionEntry incrementMs
    // (100 ms) apart starting at time 0, info.lengthMs = time of the last entry.
    static RelayGame MakeFinished1v1(uint32_t id, size_t entries, const std::string& name = "",
                                     uint16_t incrementMs = 100);
    static RelayGame MakeLive1v1(uint32_t id, size_t entries, const std::string& name = "");       // state 3
    static RelayGame MakeAnnounced1v1(uint32_t id, uint32_t secondsToStart,
                                      const std::string& name = ""); // state 1, not started, no entries
    // A W3GS action message (0xF7 0x0C) with the time increment, a correct checksum and, for odd index,
    // one selection action block of player 1 or 2.
    static RelayEntry MakeActionEntry(uint32_t time, uint16_t incrementMs, uint32_t index);
    // One relay frame: u16 magic, u8 id, u16 length, body.
    static std::string MakeFrame(uint8_t id, const std::string& body, uint16_t magic = 0xBEEF);
    // Little-endian helpers for building bodies.
    static std::string U8(uint8_t v);
    static std::string U16(uint16_t v);
    static std::string U32(uint32_t v);
    static std::string Str(const std::string& s); // with its NUL

    // --- Acting on a connection ----------------------------------------------------------------------
    void SendRaw(ConnId conn, const std::string& bytes);      // queued as is (kind Raw)
    void SendFrame(ConnId conn, uint8_t id, const std::string& body);
    void SendError(ConnId conn, uint8_t code, const std::string& text = ""); // 0xF2
    void SendText(ConnId conn, const std::string& text);     // 0xF3
    void SendPing(ConnId conn, uint32_t value);              // 0x28
    void SendGameList(ConnId conn);                          // 0x20 without a request
    void CloseConnection(ConnId conn);                       // graceful, after what is queued
    void CloseMidFrame(ConnId conn, uint8_t id, const std::string& body); // half a frame, then close

    // --- Observation ---------------------------------------------------------------------------------
    size_t AcceptedCount() const { return mAccepted; }
    std::vector<ConnId> OpenConnections() const; // not yet closed by either side
    bool IsOpen(ConnId conn) const;
    ConnId LastConnection() const { return mAccepted; }
    bool LoggedOn(ConnId conn) const; // a positive logon answer was queued on it
    const std::vector<ClientFrame>& ClientLog() const { return mClientLog; }
    std::vector<ClientFrame> ClientFrames(uint8_t id, ConnId conn = 0) const; // conn 0 = all
    const std::vector<ServerFrame>& ServerLog() const { return mServerLog; }
    std::vector<ServerFrame> ServerFrames(uint8_t id, ConnId conn = 0) const;
    const std::vector<LogonRecord>& Logons() const { return mLogons; }
    const std::vector<Ack>& Acks() const { return mAcks; }
    const std::vector<Echo>& Echoes() const { return mEchoes; }
    const std::vector<Subscription>& Subscriptions() const { return mSubscriptions; }
    // Progress of the game's stream on the connection: entries queued so far; -1 without a stream.
    long StreamedEntries(ConnId conn, uint32_t gameId) const;
    // True when the stream queued its 0x27.
    bool StreamFinished(ConnId conn, uint32_t gameId) const;

    // Optional line logger (the standalone program prints with it).
    void SetLogger(std::function<void(const std::string&)> logger) { mLogger = std::move(logger); }

private:
    struct Stream;
    struct Conn;

    void Accept();
    void ReadConn(Conn& c);
    void ParseConn(Conn& c);
    void HandleFrame(Conn& c, uint8_t id, const std::string& body);
    void HandleLogon(Conn& c, const std::string& body);
    void HandleSubscribe(Conn& c, const std::string& body);
    void StreamConn(Conn& c);
    bool StreamStep(Conn& c, Stream& s, const RelayGame& g);
    void WriteConn(Conn& c);
    void QueueFrame(Conn& c, uint8_t id, const std::string& body);
    void QueueBytes(Conn& c, const std::string& bytes, bool newPoll);
    void QueueWord(Conn& c);
    void RunInjections(Conn& c);
    void BeginClose(Conn& c);
    std::string BuildGameList() const;
    std::string BuildDetails(const RelayGame& g) const;
    std::string BuildStart(const RelayGame& g, uint32_t seconds) const;
    Conn* Find(ConnId id);
    const Conn* Find(ConnId id) const;
    void Log(const std::string& line) const;

    int mListenFd = -1;
    uint16_t mPort = 0;
    size_t mAccepted = 0;
    ServerOptions mOptions;
    LogonInfo mLogon;
    ConnectionScript mDefaultScript;
    std::map<ConnId, ConnectionScript> mScripts;
    std::map<uint32_t, RelayGame> mGames;
    std::vector<std::unique_ptr<Conn>> mConns;
    std::vector<ClientFrame> mClientLog;
    std::vector<ServerFrame> mServerLog;
    std::vector<LogonRecord> mLogons;
    std::vector<Ack> mAcks;
    std::vector<Echo> mEchoes;
    std::vector<Subscription> mSubscriptions;
    std::function<void(const std::string&)> mLogger;
};

} // namespace bcxtest
