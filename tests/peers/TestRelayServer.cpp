#include "peers/TestRelayServer.h"

#include "platform/ProgramClock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bcxtest {
namespace {

constexpr size_t kHeader = 5;
constexpr size_t kMaxFrame = 0xFFFF;
constexpr size_t kMaxBody = kMaxFrame - kHeader;
constexpr size_t kBlockPrefix = 20;         // id, seq, n, first index, entry count
constexpr size_t kMaxBlockEntries = kMaxBody - kBlockPrefix - 8; // room for stray bytes
constexpr size_t kMaxEntryPayload = kMaxBlockEntries - 8;
constexpr size_t kOutHighWater = 1u << 20;

uint32_t Now() { return bcx::ProgramClock::Now(); }

// Bounded little-endian reader of a frame body.
class BodyReader {
public:
    explicit BodyReader(const std::string& s) : mS(s) {}
    bool U8(uint8_t& v)
    {
        if (mPos + 1 > mS.size())
            return Fail();
        v = static_cast<uint8_t>(mS[mPos++]);
        return true;
    }
    bool U32(uint32_t& v)
    {
        if (mPos + 4 > mS.size())
            return Fail();
        v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | static_cast<uint8_t>(mS[mPos + i]);
        mPos += 4;
        return true;
    }
    bool Str(std::string& v)
    {
        size_t end = mS.find('\0', mPos);
        if (end == std::string::npos)
            return Fail();
        v = mS.substr(mPos, end - mPos);
        mPos = end + 1;
        return true;
    }
    bool Ok() const { return mOk; }

private:
    bool Fail()
    {
        mOk = false;
        mPos = mS.size();
        return false;
    }
    const std::string& mS;
    size_t mPos = 0;
    bool mOk = true;
};

uint32_t Crc32(const uint8_t* p, size_t n)
{
    static uint32_t table[256];
    static bool built = false;
    if (!built) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        built = true;
    }
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i)
        c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

std::string Hex(uint32_t v)
{
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

std::string IdHex(uint8_t v)
{
    char buf[8];
    snprintf(buf, sizeof buf, "0x%02X", v);
    return buf;
}

std::array<uint8_t, 16> Address(uint16_t port, uint8_t lastOctet)
{
    std::array<uint8_t, 16> a{};
    a[0] = 2; // AF_INET, little-endian as Warcraft III stores it
    a[2] = static_cast<uint8_t>(port >> 8);
    a[3] = static_cast<uint8_t>(port & 0xFF);
    a[4] = 127;
    a[7] = lastOctet;
    return a;
}

// Encodes bytes as Warcraft III encodes its stat string: a mask byte (bit 0 always set) before each group
// of up to 7 bytes; an odd byte is kept and sets its mask bit, an even byte is stored + 1.
std::string EncodeStat(const std::string& in)
{
    std::string out;
    for (size_t i = 0; i < in.size(); i += 7) {
        uint8_t mask = 1;
        std::string group;
        for (size_t j = 0; j < 7 && i + j < in.size(); ++j) {
            uint8_t b = static_cast<uint8_t>(in[i + j]);
            if (b % 2 == 0)
                group += static_cast<char>(b + 1);
            else {
                group += static_cast<char>(b);
                mask |= static_cast<uint8_t>(1u << (j + 1));
            }
        }
        out += static_cast<char>(mask);
        out += group;
    }
    return out;
}

} // namespace

// ---------------------------------------------------------------------------------------------------
struct TestRelayServer::Stream {
    enum Phase { AwaitStart, Data, Done };
    uint32_t gameId = 0;
    bool details = false;
    Phase phase = Data;
    size_t nextEntry = 0;
    uint32_t seq = 0;    // sequence number of the last block sent (blocks count from 1)
    uint32_t acked = 0;  // highest sequence number acknowledged
    bool finishSent = false;
};

struct TestRelayServer::Conn {
    struct Seg {
        std::string bytes;
        bool newPoll = false; // must not go out in the same Poll as what precedes it
    };
    ConnId id = 0;
    int fd = -1;
    ConnectionScript script;
    bool framed = false;       // the protocol word has been read
    std::string in;
    bool discardInput = false; // after a broken frame
    std::deque<Seg> out;
    size_t outBytes = 0;
    uint32_t framesQueued = 0;
    std::vector<bool> injected;
    bool closing = false;  // queue nothing more; shut down once flushed
    bool shutDown = false; // our side is shut down; waiting for the peer to close
    bool closed = false;   // descriptor closed
    bool peerClosed = false;
    bool loggedOn = false;
    uint32_t nextPing = 0;
    uint32_t pingValue = 0;
    std::map<uint32_t, Stream> streams;
};

TestRelayServer::TestRelayServer() = default;

TestRelayServer::~TestRelayServer()
{
    for (auto& c : mConns)
        if (c->fd >= 0)
            ::close(c->fd);
    if (mListenFd >= 0)
        ::close(mListenFd);
}

void TestRelayServer::Log(const std::string& line) const
{
    if (mLogger)
        mLogger(line);
}

// --- Listening --------------------------------------------------------------------------------------
bool TestRelayServer::Start(uint16_t port)
{
    if (mListenFd >= 0)
        return true;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        return false;
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    mPort = ntohs(addr.sin_port);
    mListenFd = fd;
    Log("listening on 127.0.0.1:" + std::to_string(mPort));
    return true;
}

void TestRelayServer::StopListening()
{
    if (mListenFd >= 0) {
        ::close(mListenFd);
        mListenFd = -1;
        Log("stopped listening");
    }
}

bool TestRelayServer::ResumeListening()
{
    return mPort != 0 && Start(mPort);
}

// --- Poll ---------------------------------------------------------------------------------------------
void TestRelayServer::Poll()
{
    Accept();
    for (size_t i = 0; i < mConns.size(); ++i) {
        Conn& c = *mConns[i];
        if (c.closed)
            continue;
        ReadConn(c);
        if (c.closed)
            continue;
        ParseConn(c);
        if (c.framed && c.loggedOn && !c.closing && c.script.pingIntervalMs > 0 &&
            static_cast<int32_t>(Now() - c.nextPing) >= 0) {
            c.nextPing = Now() + c.script.pingIntervalMs;
            SendPing(c.id, ++c.pingValue);
        }
        StreamConn(c);
        WriteConn(c);
    }
}

void TestRelayServer::Accept()
{
    while (mListenFd >= 0) {
        int fd = ::accept4(mListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_unique<Conn>();
        c->id = ++mAccepted;
        c->fd = fd;
        auto it = mScripts.find(c->id);
        c->script = it != mScripts.end() ? it->second : mDefaultScript;
        c->injected.assign(c->script.injections.size(), false);
        c->nextPing = Now() + c->script.pingIntervalMs;
        Log("conn " + std::to_string(c->id) + " accepted");
        if (c->script.closeOnAccept) {
            Log("conn " + std::to_string(c->id) + " closed on accept");
            BeginClose(*c);
        }
        mConns.push_back(std::move(c));
    }
}

void TestRelayServer::ReadConn(Conn& c)
{
    char buf[16384];
    for (int rounds = 0; rounds < 64; ++rounds) {
        ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
        if (n > 0) {
            if (!c.discardInput)
                c.in.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        // The peer closed (or the connection failed): what was read is still parsed.
        ParseConn(c);
        c.peerClosed = true;
        ::close(c.fd);
        c.fd = -1;
        c.closed = true;
        c.out.clear();
        c.outBytes = 0;
        Log("conn " + std::to_string(c.id) + " closed by the client");
        return;
    }
}

void TestRelayServer::ParseConn(Conn& c)
{
    if (!c.framed) {
        if (c.in.size() < 4)
            return;
        ClientFrame f;
        f.conn = c.id;
        f.time = Now();
        f.kind = ClientFrame::Handshake;
        f.raw = c.in.substr(0, 4);
        mClientLog.push_back(f);
        c.in.erase(0, 4);
        c.framed = true;
        Log("conn " + std::to_string(c.id) + " protocol word received");
        using H = ConnectionScript::Handshake;
        switch (c.script.handshake) {
        case H::Normal:
        case H::Split:
        case H::CloseAfterWord:
            QueueWord(c);
            if (c.script.handshake == H::CloseAfterWord)
                BeginClose(c);
            break;
        case H::CloseBeforeWord:
            BeginClose(c);
            break;
        case H::Silent:
            break;
        }
    }
    while (c.framed && !c.discardInput && c.in.size() >= kHeader) {
        const auto* p = reinterpret_cast<const uint8_t*>(c.in.data());
        uint16_t magic = static_cast<uint16_t>(p[0] | (p[1] << 8));
        uint16_t len = static_cast<uint16_t>(p[3] | (p[4] << 8));
        if (magic != 0xBEEF || len < kHeader) {
            ClientFrame f;
            f.conn = c.id;
            f.time = Now();
            f.kind = ClientFrame::Bad;
            f.raw = c.in;
            mClientLog.push_back(f);
            c.in.clear();
            c.discardInput = true;
            Log("conn " + std::to_string(c.id) + " sent a broken frame; closing");
            BeginClose(c);
            return;
        }
        if (c.in.size() < len)
            return;
        ClientFrame f;
        f.conn = c.id;
        f.time = Now();
        f.kind = ClientFrame::Frame;
        f.id = p[2];
        f.raw = c.in.substr(0, len);
        c.in.erase(0, len);
        mClientLog.push_back(f);
        HandleFrame(c, f.id, f.raw.substr(kHeader));
    }
}

void TestRelayServer::HandleFrame(Conn& c, uint8_t id, const std::string& body)
{
    const std::string who = "conn " + std::to_string(c.id) + " ";
    BodyReader r(body);
    switch (id) {
    case 0x00:
        Log(who + "<- 0x00 version");
        QueueFrame(c, 0x00, U32(c.script.relayVersion));
        break;
    case 0x01:
        HandleLogon(c, body);
        break;
    case 0x20:
        Log(who + "<- 0x20 game list request");
        QueueFrame(c, 0x20, BuildGameList());
        break;
    case 0x21: {
        uint32_t gid = 0;
        r.U32(gid);
        Log(who + "<- 0x21 game info " + Hex(gid));
        auto it = mGames.find(gid);
        if (!r.Ok() || it == mGames.end() || !it->second.hasInfo)
            break;
        const RelayGame& g = it->second;
        const RelayGameInfo& i = g.info;
        std::string b = U32(g.id) + Str(i.players) + Str(i.publisher) + U32(i.lengthMs) + Str(i.infoText1) +
                        Str(i.infoText2) + U32(i.infoValue) + Str(i.droppedText) + U32(i.product) +
                        U32(i.version) + U32(i.hostCounter) + U32(i.entryKey) +
                        std::string(i.infoA.begin(), i.infoA.end()) + std::string(i.infoB.begin(), i.infoB.end()) +
                        U32(i.infoC) + Str(i.mapPath) + U32(i.infoD) + U32(i.infoE);
        QueueFrame(c, 0x21, b);
        break;
    }
    case 0x22:
        HandleSubscribe(c, body);
        break;
    case 0x23: {
        uint32_t gid = 0;
        r.U32(gid);
        Log(who + "<- 0x23 unsubscribe " + Hex(gid));
        c.streams.erase(gid);
        QueueFrame(c, 0x23, U32(gid));
        break;
    }
    case 0x26: {
        Ack a;
        a.conn = c.id;
        a.time = Now();
        r.U32(a.gameId);
        r.U32(a.seq);
        r.U32(a.bytesHeld);
        mAcks.push_back(a);
        auto it = c.streams.find(a.gameId);
        if (it != c.streams.end() && a.seq <= it->second.seq)
            it->second.acked = std::max(it->second.acked, a.seq);
        Log(who + "<- 0x26 ack " + Hex(a.gameId) + " seq " + std::to_string(a.seq) + " held " +
            std::to_string(a.bytesHeld));
        break;
    }
    case 0x28: {
        Echo e;
        e.conn = c.id;
        e.time = Now();
        r.U32(e.value);
        mEchoes.push_back(e);
        Log(who + "<- 0x28 echo " + std::to_string(e.value));
        break;
    }
    default:
        Log(who + "<- unknown frame " + IdHex(id));
        break;
    }
}

void TestRelayServer::HandleLogon(Conn& c, const std::string& body)
{
    BodyReader r(body);
    LogonRecord l;
    l.conn = c.id;
    r.Str(l.clientName);
    r.U32(l.clientVersion);
    r.U8(l.flag);
    r.U32(l.relayVersion);
    r.Str(l.user);
    r.Str(l.password);
    l.complete = r.Ok();
    mLogons.push_back(l);
    const std::string who = "conn " + std::to_string(c.id) + " ";
    Log(who + "<- 0x01 logon '" + l.user + "' (" + l.clientName + ")");

    const LogonRefusal& ref = c.script.refusal;
    switch (ref.kind) {
    case LogonRefusal::Reason:
        QueueFrame(c, 0x01, U8(0) + Str(ref.text));
        break;
    case LogonRefusal::ErrorCode:
        QueueFrame(c, 0xF2, U8(ref.code) + (ref.code == 0 ? Str(ref.text) : std::string()));
        break;
    case LogonRefusal::None: {
        const LogonInfo& i = mLogon;
        std::string b = U8(1) + Str(i.serverName) + U32(i.serverVersion) + Str(i.title) + Str(i.motd) +
                        Str(i.ircServer) + U16(i.ircPort) + Str(i.ircChannel) + Str(i.url);
        if (i.withNews)
            b += U32(i.newsWord) + Str(i.newsPage) + Str(i.newsSecond) + U8(i.newsFlags) + U16(i.newsWidth) +
                 U16(i.newsHeight) + Str(i.newsDialog);
        if (!c.closing)
            c.loggedOn = true;
        QueueFrame(c, 0x01, b);
        c.nextPing = Now() + c.script.pingIntervalMs;
        return;
    }
    }
    Log(who + "logon refused");
    if (ref.closeAfter)
        BeginClose(c);
}

void TestRelayServer::HandleSubscribe(Conn& c, const std::string& body)
{
    BodyReader r(body);
    Subscription s;
    s.conn = c.id;
    s.time = Now();
    uint32_t details = 0;
    r.U32(s.gameId);
    r.U32(details);
    s.details = details != 0;
    mSubscriptions.push_back(s);
    Log("conn " + std::to_string(c.id) + " <- 0x22 subscribe " + Hex(s.gameId) + (s.details ? " with details" : ""));

    auto it = mGames.find(s.gameId);
    if (it == mGames.end()) {
        QueueFrame(c, 0x22, U32(s.gameId) + U8(0));
        return;
    }
    const RelayGame& g = it->second;
    QueueFrame(c, 0x22, U32(g.id) + U8(1));
    if (c.streams.count(g.id) && !s.details)
        return; // the running stream goes on
    Stream st;
    st.gameId = g.id;
    st.details = s.details;
    if (s.details)
        QueueFrame(c, 0x24, BuildDetails(g));
    if (g.started) {
        QueueFrame(c, 0x25, BuildStart(g, 0));
        st.phase = Stream::Data;
    } else {
        QueueFrame(c, 0x25, BuildStart(g, std::max<uint32_t>(1, g.secondsToStart)));
        st.phase = Stream::AwaitStart;
    }
    c.streams[g.id] = st;
}

// --- Streaming ----------------------------------------------------------------------------------------
void TestRelayServer::StreamConn(Conn& c)
{
    if (c.closing)
        return;
    for (auto& entry : c.streams) {
        auto g = mGames.find(entry.first);
        if (g == mGames.end())
            continue;
        if (!StreamStep(c, entry.second, g->second))
            break;
    }
}

// Returns false when the connection's output is full.
bool TestRelayServer::StreamStep(Conn& c, Stream& s, const RelayGame& g)
{
    if (s.phase == Stream::AwaitStart) {
        if (!g.started)
            return true;
        QueueFrame(c, 0x25, BuildStart(g, 0));
        s.phase = Stream::Data;
    }
    size_t blocks = 0;
    while (s.phase == Stream::Data && !c.closing) {
        if (c.outBytes >= kOutHighWater)
            return false;
        if (mOptions.maxBlocksPerPoll && blocks >= mOptions.maxBlocksPerPoll)
            return true;
        if (s.nextEntry >= g.entries.size()) {
            if (g.finished) {
                int64_t count = static_cast<int64_t>(g.entries.size()) + g.finishCountDelta;
                QueueFrame(c, 0x27, U32(g.id) + U32(static_cast<uint32_t>(count)));
                s.finishSent = true;
                s.phase = Stream::Done;
                Log("conn " + std::to_string(c.id) + " -> 0x27 finish " + Hex(g.id));
            }
            return true;
        }
        if (mOptions.ackWindow && s.seq - s.acked >= mOptions.ackWindow)
            return true;

        // One block of entries.
        size_t first = s.nextEntry;
        std::string entries;
        size_t lastOffset = 0;
        size_t count = 0;
        size_t limit = std::min(std::max<size_t>(mOptions.blockBytes, 1), kMaxBlockEntries);
        while (s.nextEntry < g.entries.size()) {
            const RelayEntry& e = g.entries[s.nextEntry];
            size_t size = 8 + e.bytes.size();
            if (count > 0 && (entries.size() + size > limit ||
                              (mOptions.entriesPerBlock && count >= mOptions.entriesPerBlock)))
                break;
            lastOffset = entries.size();
            entries += U32(e.time) + U32(static_cast<uint32_t>(e.bytes.size())) + e.bytes;
            ++count;
            ++s.nextEntry;
        }
        uint32_t n = static_cast<uint32_t>(entries.size());
        const RelayDataFault& fault = g.dataFault;
        if (fault.kind != RelayDataFault::None && fault.block == s.seq) {
            switch (fault.kind) {
            case RelayDataFault::EntryLengthTooLong: {
                uint32_t len = static_cast<uint32_t>(g.entries[s.nextEntry - 1].bytes.size()) + 1;
                entries.replace(lastOffset + 4, 4, U32(len));
                break;
            }
            case RelayDataFault::StrayBytes:
                entries.append(std::clamp<uint32_t>(fault.stray, 1, 7), '\x5A');
                n = static_cast<uint32_t>(entries.size());
                break;
            case RelayDataFault::CountLargerThanFrame:
                n += fault.extra;
                break;
            case RelayDataFault::None:
                break;
            }
            Log("conn " + std::to_string(c.id) + " -> malformed data block of " + Hex(g.id));
        }
        ++s.seq;
        QueueFrame(c, 0x26, U32(g.id) + U32(s.seq) + U32(n) + U32(static_cast<uint32_t>(first)) +
                                U32(static_cast<uint32_t>(count)) + entries);
        ++blocks;
    }
    return true;
}

std::string TestRelayServer::BuildGameList() const
{
    std::string games;
    uint32_t count = 0;
    for (const auto& entry : mGames) {
        const RelayGame& g = entry.second;
        std::string one = U32(g.id) + U8(g.state) + U32(g.startTime) + Str(g.name);
        if (12 + games.size() + one.size() > kMaxBody)
            break; // what does not fit into one frame is left out
        games += one;
        ++count;
    }
    return U32(mOptions.listWord) + U32(0) + U32(mOptions.listCountOverride.value_or(count)) + games;
}

std::string TestRelayServer::BuildDetails(const RelayGame& g) const
{
    const RelayDetails& d = g.details;
    std::string b = U32(g.id) + Str(d.mapPath) + U32(d.mapSize) + U32(d.mapInfo) + U32(d.mapCheckWord) +
                    U32(d.mapChecksum) + U32(d.word5) + U32(d.word6) + U32(d.seed) + U8(d.layoutStyle) +
                    U8(d.playerSlots) + std::string(d.joinAddress.begin(), d.joinAddress.end()) + U8(d.slotCount);
    for (const RelaySlot& s : d.slots)
        b += U8(s.valid) + U8(s.playerId) + U8(s.downloadPercent) + U8(s.status) + U8(s.computer) + U8(s.team) +
             U8(s.colour) + U8(s.race) + U8(s.level) + U8(s.handicap);
    for (const RelayPlayer& p : d.players)
        b += U8(p.valid) + U32(p.joinCounter) + Str(p.name) +
             std::string(p.externalAddress.begin(), p.externalAddress.end()) +
             std::string(p.internalAddress.begin(), p.internalAddress.end());
    b += U8(d.viewPlayer) + Str(d.detailText) + U32(d.completeness);
    return b;
}

std::string TestRelayServer::BuildStart(const RelayGame& g, uint32_t seconds) const
{
    return U32(g.id) + U32(g.startSeedOverride.value_or(g.details.seed)) + U32(seconds) + U32(g.startTime);
}

// --- Output -------------------------------------------------------------------------------------------
void TestRelayServer::QueueBytes(Conn& c, const std::string& bytes, bool newPoll)
{
    if (bytes.empty())
        return;
    c.out.push_back({bytes, newPoll});
    c.outBytes += bytes.size();
}

void TestRelayServer::QueueWord(Conn& c)
{
    if (c.closing || c.closed)
        return;
    std::string w = U32(c.script.handshakeWord);
    ServerFrame f;
    f.conn = c.id;
    f.time = Now();
    f.kind = ServerFrame::Word;
    f.raw = w;
    mServerLog.push_back(f);
    if (c.script.handshake == ConnectionScript::Handshake::Split) {
        QueueBytes(c, w.substr(0, 2), false);
        QueueBytes(c, w.substr(2), true);
    } else {
        QueueBytes(c, w, false);
    }
    Log("conn " + std::to_string(c.id) + " -> protocol word " + Hex(c.script.handshakeWord));
    RunInjections(c);
    if (c.script.closeAfterFrames == 0)
        BeginClose(c);
}

void TestRelayServer::QueueFrame(Conn& c, uint8_t id, const std::string& body)
{
    if (c.closing || c.closed)
        return;
    std::string raw = MakeFrame(id, body);
    ++c.framesQueued;
    ServerFrame f;
    f.conn = c.id;
    f.time = Now();
    f.id = id;
    if (c.script.closeMidFrame >= 0 && c.framesQueued == static_cast<uint32_t>(c.script.closeMidFrame) + 1) {
        f.kind = ServerFrame::Raw;
        f.raw = raw.substr(0, std::max<size_t>(1, raw.size() / 2));
        mServerLog.push_back(f);
        QueueBytes(c, f.raw, false);
        Log("conn " + std::to_string(c.id) + " -> half of frame " + IdHex(id) + "; closing");
        BeginClose(c);
        return;
    }
    f.kind = ServerFrame::Frame;
    f.raw = raw;
    mServerLog.push_back(f);
    QueueBytes(c, raw, false);
    if (id != 0x26)
        Log("conn " + std::to_string(c.id) + " -> " + IdHex(id));
    RunInjections(c);
    if (c.script.closeAfterFrames >= 0 && c.framesQueued >= static_cast<uint32_t>(c.script.closeAfterFrames)) {
        Log("conn " + std::to_string(c.id) + " closing after " + std::to_string(c.framesQueued) + " frames");
        BeginClose(c);
    }
}

void TestRelayServer::RunInjections(Conn& c)
{
    for (size_t i = 0; i < c.script.injections.size(); ++i) {
        if (c.injected[i] || c.script.injections[i].afterFrames != c.framesQueued)
            continue;
        c.injected[i] = true;
        SendRaw(c.id, c.script.injections[i].bytes);
    }
}

void TestRelayServer::WriteConn(Conn& c)
{
    if (c.closed)
        return;
    size_t budget = c.script.writeChunk ? c.script.writeChunk : SIZE_MAX;
    std::string chunk;
    for (size_t i = 0; i < c.out.size() && chunk.size() < budget; ++i) {
        if (c.out[i].newPoll && i > 0)
            break;
        chunk += c.out[i].bytes.substr(0, budget - chunk.size());
    }
    if (!chunk.empty()) {
        ssize_t n = ::send(c.fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            ::close(c.fd);
            c.fd = -1;
            c.closed = true;
            c.out.clear();
            c.outBytes = 0;
            Log("conn " + std::to_string(c.id) + " write failed; closed");
            return;
        }
        size_t left = n > 0 ? static_cast<size_t>(n) : 0;
        c.outBytes -= left;
        while (left > 0) {
            Conn::Seg& s = c.out.front();
            s.newPoll = false;
            size_t take = std::min(left, s.bytes.size());
            s.bytes.erase(0, take);
            left -= take;
            if (s.bytes.empty())
                c.out.pop_front();
        }
    }
    if (c.closing && c.out.empty() && !c.shutDown) {
        ::shutdown(c.fd, SHUT_WR);
        c.shutDown = true;
    }
}

void TestRelayServer::BeginClose(Conn& c)
{
    c.closing = true;
}

// --- Test actions ------------------------------------------------------------------------------------
TestRelayServer::Conn* TestRelayServer::Find(ConnId id)
{
    return id >= 1 && id <= mConns.size() ? mConns[id - 1].get() : nullptr;
}

const TestRelayServer::Conn* TestRelayServer::Find(ConnId id) const
{
    return id >= 1 && id <= mConns.size() ? mConns[id - 1].get() : nullptr;
}

void TestRelayServer::SendRaw(ConnId conn, const std::string& bytes)
{
    Conn* c = Find(conn);
    if (!c || c->closing || c->closed)
        return;
    ServerFrame f;
    f.conn = conn;
    f.time = Now();
    f.kind = ServerFrame::Raw;
    f.id = bytes.size() > 2 ? static_cast<uint8_t>(bytes[2]) : 0;
    f.raw = bytes;
    mServerLog.push_back(f);
    QueueBytes(*c, bytes, false);
}

void TestRelayServer::SendFrame(ConnId conn, uint8_t id, const std::string& body)
{
    if (Conn* c = Find(conn))
        QueueFrame(*c, id, body);
}

void TestRelayServer::SendError(ConnId conn, uint8_t code, const std::string& text)
{
    SendFrame(conn, 0xF2, U8(code) + (code == 0 ? Str(text) : std::string()));
}

void TestRelayServer::SendText(ConnId conn, const std::string& text)
{
    SendFrame(conn, 0xF3, Str(text));
}

void TestRelayServer::SendPing(ConnId conn, uint32_t value)
{
    SendFrame(conn, 0x28, U32(value));
}

void TestRelayServer::SendGameList(ConnId conn)
{
    SendFrame(conn, 0x20, BuildGameList());
}

void TestRelayServer::CloseConnection(ConnId conn)
{
    if (Conn* c = Find(conn))
        BeginClose(*c);
}

void TestRelayServer::CloseMidFrame(ConnId conn, uint8_t id, const std::string& body)
{
    Conn* c = Find(conn);
    if (!c || c->closing || c->closed)
        return;
    std::string raw = MakeFrame(id, body);
    SendRaw(conn, raw.substr(0, std::max<size_t>(1, raw.size() / 2)));
    BeginClose(*c);
}

// --- Games ---------------------------------------------------------------------------------------------
RelayGame& TestRelayServer::AddGame(RelayGame game)
{
    auto& entries = game.entries;
    auto tooBig = [](const RelayEntry& e) { return e.bytes.size() > kMaxEntryPayload; };
    if (std::any_of(entries.begin(), entries.end(), tooBig)) {
        Log("entries larger than one frame dropped from game " + Hex(game.id));
        entries.erase(std::remove_if(entries.begin(), entries.end(), tooBig), entries.end());
    }
    uint32_t id = game.id;
    mGames[id] = std::move(game);
    return mGames[id];
}

RelayGame* TestRelayServer::FindGame(uint32_t id)
{
    auto it = mGames.find(id);
    return it == mGames.end() ? nullptr : &it->second;
}

void TestRelayServer::RemoveGame(uint32_t id)
{
    mGames.erase(id);
}

void TestRelayServer::AppendEntries(uint32_t gameId, const std::vector<RelayEntry>& entries)
{
    RelayGame* g = FindGame(gameId);
    if (!g)
        return;
    for (const RelayEntry& e : entries) {
        if (e.bytes.size() > kMaxEntryPayload) {
            Log("entry larger than one frame dropped from game " + Hex(gameId));
            continue;
        }
        g->entries.push_back(e);
    }
    if (!g->entries.empty())
        g->info.lengthMs = g->entries.back().time;
}

void TestRelayServer::AppendDefaultEntries(uint32_t gameId, size_t count)
{
    RelayGame* g = FindGame(gameId);
    if (!g)
        return;
    std::vector<RelayEntry> more;
    size_t index = g->entries.size();
    uint32_t time = g->entries.empty() ? 0 : g->entries.back().time + 100;
    for (size_t i = 0; i < count; ++i, time += 100)
        more.push_back(MakeActionEntry(time, 100, static_cast<uint32_t>(index + i)));
    AppendEntries(gameId, more);
}

void TestRelayServer::Finish(uint32_t gameId)
{
    if (RelayGame* g = FindGame(gameId)) {
        g->finished = true;
        g->started = true;
        if (g->state < 4)
            g->state = 4;
        Log("game " + Hex(gameId) + " finished with " + std::to_string(g->entries.size()) + " entries");
    }
}

void TestRelayServer::StartGame(uint32_t gameId)
{
    if (RelayGame* g = FindGame(gameId)) {
        g->started = true;
        if (g->state < 3)
            g->state = 3;
        Log("game " + Hex(gameId) + " started");
    }
}

// --- Defaults ------------------------------------------------------------------------------------------
RelayEntry TestRelayServer::MakeActionEntry(uint32_t time, uint16_t incrementMs, uint32_t index)
{
    std::string blocks;
    if (index % 2 == 1) {
        uint8_t player = static_cast<uint8_t>(1 + (index / 2) % 2);
        // Change selection: id 0x16, mode 1, count 1, one object (two ids).
        std::string action = U8(0x16) + U8(1) + U16(1) + U32(0x00010000 + index) + U32(0x00010000 + index);
        blocks = U8(player) + U16(static_cast<uint16_t>(action.size())) + action;
    }
    uint16_t crc = static_cast<uint16_t>(
        Crc32(reinterpret_cast<const uint8_t*>(blocks.data()), blocks.size()) & 0xFFFF);
    if (blocks.empty())
        crc = 0;
    RelayEntry e;
    e.time = time;
    e.bytes = U8(0xF7) + U8(0x0C) + U16(static_cast<uint16_t>(8 + blocks.size())) + U16(incrementMs) + U16(crc) +
              blocks;
    return e;
}

RelayGame TestRelayServer::MakeFinished1v1(uint32_t id, size_t entries, const std::string& name, uint16_t incrementMs)
{
    RelayGame g;
    g.id = id;
    g.name = name.empty() ? "Alder vs Birch #" + std::to_string(id) : name;
    g.state = 4;
    g.startTime = 1700000000u + id % 100000u;
    g.started = true;
    g.finished = true;

    RelayGameInfo& i = g.info;
    i.players = "Alder vs Birch  Obs: Caster";
    i.publisher = "Caster";
    i.infoText1 = "1v1";
    i.infoText2 = "";
    i.infoValue = 0;
    i.hostCounter = id;
    i.entryKey = 0x00001000u + id;
    i.mapPath = "Maps\\FrozenThrone\\(2)EchoIsles.w3x";
    // The first 16 bytes of the encoded stat string: one byte before it, then the encoded game flags,
    // map width and height and map checksum.
    std::string stat = U32(0x00028001) + U8(0) + U16(116) + U16(116) + U32(0x7A3C1F05u ^ id);
    std::string enc = std::string(1, '\0') + EncodeStat(stat);
    enc.resize(16, '\0');
    std::copy(enc.begin(), enc.begin() + 6, i.infoA.begin());
    std::copy(enc.begin() + 6, enc.begin() + 12, i.infoB.begin());
    i.infoC = static_cast<uint8_t>(enc[12]) | static_cast<uint8_t>(enc[13]) << 8 |
              static_cast<uint8_t>(enc[14]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(enc[15])) << 24;
    i.infoD = 12;
    i.infoE = 1;

    RelayDetails& d = g.details;
    d.mapPath = i.mapPath;
    d.mapSize = 0x0001A2B3;
    d.mapInfo = 0x3E4F5A6B;
    d.mapCheckWord = 1;
    d.mapChecksum = 0x7A3C1F05u ^ id;
    d.seed = 0x5EED0000u ^ (id * 2654435761u);
    d.layoutStyle = 0;
    d.playerSlots = 2;
    d.joinAddress = Address(6112, 1);
    d.slotCount = 3;
    d.slots[0] = {1, 1, 100, 2, 0, 0, 0, 0x01, 1, 100};
    d.slots[1] = {1, 2, 100, 2, 0, 1, 1, 0x02, 1, 100};
    d.slots[2] = {1, 3, 100, 2, 0, 12, 12, 0x20, 1, 100};
    const char* names[] = {"Alder", "Birch", "Caster"};
    for (uint8_t p = 1; p <= 3; ++p) {
        RelayPlayer& r = d.players[p];
        r.valid = 1;
        r.joinCounter = p;
        r.name = names[p - 1];
        r.externalAddress = Address(6112, static_cast<uint8_t>(10 + p));
        r.internalAddress = Address(6112, static_cast<uint8_t>(10 + p));
    }
    d.viewPlayer = 3;
    d.completeness = 15;

    for (size_t k = 0; k < entries; ++k)
        g.entries.push_back(
            MakeActionEntry(static_cast<uint32_t>(k * incrementMs), incrementMs, static_cast<uint32_t>(k)));
    i.lengthMs = g.entries.empty() ? 0 : g.entries.back().time;
    return g;
}

RelayGame TestRelayServer::MakeLive1v1(uint32_t id, size_t entries, const std::string& name)
{
    RelayGame g = MakeFinished1v1(id, entries, name);
    g.state = 3;
    g.finished = false;
    return g;
}

RelayGame TestRelayServer::MakeAnnounced1v1(uint32_t id, uint32_t secondsToStart, const std::string& name)
{
    RelayGame g = MakeFinished1v1(id, 0, name);
    g.state = 1;
    g.started = false;
    g.finished = false;
    g.secondsToStart = secondsToStart;
    return g;
}

// --- Codec helpers ---------------------------------------------------------------------------------------
std::string TestRelayServer::MakeFrame(uint8_t id, const std::string& body, uint16_t magic)
{
    size_t total = std::min(kHeader + body.size(), kMaxFrame);
    return U16(magic) + U8(id) + U16(static_cast<uint16_t>(total)) + body.substr(0, total - kHeader);
}

std::string TestRelayServer::U8(uint8_t v) { return std::string(1, static_cast<char>(v)); }

std::string TestRelayServer::U16(uint16_t v)
{
    return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

std::string TestRelayServer::U32(uint32_t v)
{
    return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF), static_cast<char>((v >> 16) & 0xFF),
            static_cast<char>(v >> 24)};
}

std::string TestRelayServer::Str(const std::string& s) { return s + std::string(1, '\0'); }

// --- Observation ------------------------------------------------------------------------------------------
std::vector<ConnId> TestRelayServer::OpenConnections() const
{
    std::vector<ConnId> ids;
    for (const auto& c : mConns)
        if (!c->closed && !c->closing)
            ids.push_back(c->id);
    return ids;
}

bool TestRelayServer::IsOpen(ConnId conn) const
{
    const Conn* c = Find(conn);
    return c && !c->closed && !c->closing;
}

bool TestRelayServer::LoggedOn(ConnId conn) const
{
    const Conn* c = Find(conn);
    return c && c->loggedOn;
}

std::vector<TestRelayServer::ClientFrame> TestRelayServer::ClientFrames(uint8_t id, ConnId conn) const
{
    std::vector<ClientFrame> out;
    for (const ClientFrame& f : mClientLog)
        if (f.kind == ClientFrame::Frame && f.id == id && (conn == 0 || f.conn == conn))
            out.push_back(f);
    return out;
}

std::vector<TestRelayServer::ServerFrame> TestRelayServer::ServerFrames(uint8_t id, ConnId conn) const
{
    std::vector<ServerFrame> out;
    for (const ServerFrame& f : mServerLog)
        if (f.kind == ServerFrame::Frame && f.id == id && (conn == 0 || f.conn == conn))
            out.push_back(f);
    return out;
}

long TestRelayServer::StreamedEntries(ConnId conn, uint32_t gameId) const
{
    const Conn* c = Find(conn);
    if (!c)
        return -1;
    auto it = c->streams.find(gameId);
    return it == c->streams.end() ? -1 : static_cast<long>(it->second.nextEntry);
}

bool TestRelayServer::StreamFinished(ConnId conn, uint32_t gameId) const
{
    const Conn* c = Find(conn);
    if (!c)
        return false;
    auto it = c->streams.find(gameId);
    return it != c->streams.end() && it->second.finishSent;
}

} // namespace bcxtest
