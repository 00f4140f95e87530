#include "peers/TestLanClient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "peers/LanWire.h"
#include "platform/ProgramClock.h"

namespace bcxtest {

using lan::ByteReader;
using lan::ByteWriter;

namespace {

constexpr int kMaxDatagramsPerPoll = 256;
constexpr size_t kMaxReadPerPoll = 1 << 20;

int64_t SteadyUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

bool SetNonBlocking(int fd)
{
    int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

std::string Hex8(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%02X", v);
    return buf;
}

// The record of the frame that arrived as Frames()[seq] at `now`, its fields still to be decoded.
template <class Record>
Record Received(size_t seq, uint32_t now)
{
    Record record;
    record.seq = seq;
    record.arrivalMs = now;
    return record;
}

} // namespace

TestLanClient::TestLanClient(uint16_t udpPort)
{
    mUdp = socket(AF_INET, SOCK_DGRAM, 0);
    if (mUdp < 0) {
        Fail("udp socket");
        return;
    }
    // No SO_REUSEADDR: a second client on a taken port must fail visibly instead of sharing its datagrams.
    sockaddr_in a = Loopback(udpPort);
    if (bind(mUdp, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || !SetNonBlocking(mUdp)) {
        Fail("udp bind");
        close(mUdp);
        mUdp = -1;
        return;
    }
    socklen_t len = sizeof a;
    getsockname(mUdp, reinterpret_cast<sockaddr*>(&a), &len);
    mUdpPort = ntohs(a.sin_port);
}

TestLanClient::~TestLanClient()
{
    Close();
    if (mUdp >= 0)
        close(mUdp);
}

void TestLanClient::Fail(const std::string& what)
{
    mError = what + ": " + std::strerror(errno);
}

void TestLanClient::Problem(size_t seq, uint8_t id, const std::string& what)
{
    mProtocolErrors.push_back("frame " + std::to_string(seq) + " id " + Hex8(id) + ": " + what);
}

void TestLanClient::Poll()
{
    PollUdp();
    PollTcp();
}

// ---------------------------------------------------------------------------------------------- UDP

void TestLanClient::PollUdp()
{
    if (mUdp < 0)
        return;
    char buf[65536];
    for (int i = 0; i < kMaxDatagramsPerPoll; ++i) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = recvfrom(mUdp, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            return;
        HandleDatagram(std::string(buf, static_cast<size_t>(n)), ntohs(from.sin_port));
    }
}

void TestLanClient::HandleDatagram(const std::string& bytes, uint16_t fromPort)
{
    LanDatagram d;
    d.arrivalMs = bcx::ProgramClock::Now();
    d.fromPort = fromPort;
    d.id = bytes.size() >= 2 ? static_cast<uint8_t>(bytes[1]) : 0;
    d.raw = bytes;
    mDatagrams.push_back(d);
    if (bytes.size() < 4 || static_cast<uint8_t>(bytes[0]) != lan::kFrameMagic)
        return;
    ByteReader r(bytes, 2);
    uint16_t length = r.U16();
    if (length != bytes.size()) {
        mProtocolErrors.push_back("datagram id " + Hex8(d.id) + ": length field " + std::to_string(length) +
                                  " but " + std::to_string(bytes.size()) + " bytes");
    }
    switch (d.id) {
    case 0x31: {
        LanCreateGame c;
        c.arrivalMs = d.arrivalMs;
        c.product = r.U32();
        c.version = r.U32();
        c.gameId = r.U32();
        if (r.Failed() || !r.AtEnd())
            mProtocolErrors.push_back("CREATEGAME datagram malformed: " + lan::Hex(bytes));
        else
            mCreateGames.push_back(c);
        break;
    }
    case 0x33: {
        LanEndGame e;
        e.arrivalMs = d.arrivalMs;
        e.gameId = r.U32();
        if (r.Failed() || !r.AtEnd())
            mProtocolErrors.push_back("DECREATEGAME datagram malformed: " + lan::Hex(bytes));
        else
            mEndGames.push_back(e);
        break;
    }
    case 0x30:
        DecodeGameInfo(bytes, fromPort);
        break;
    default:
        break;
    }
}

void TestLanClient::DecodeGameInfo(const std::string& bytes, uint16_t fromPort)
{
    LanGameInfo g;
    g.arrivalMs = bcx::ProgramClock::Now();
    g.fromPort = fromPort;
    ByteReader r(bytes, 4);
    g.product = r.U32();
    g.version = r.U32();
    g.hostCounter = r.U32();
    g.entryKey = r.U32();
    g.name = r.CStr();
    g.live = !g.name.empty() && g.name[0] == '!';
    g.gameName = g.live ? g.name.substr(1) : g.name;
    g.infoBytes = r.Bytes(16);
    bool fieldsOk = !r.Failed();
    // The encoded stat string starts behind the first info byte (the byte before the stat string) and
    // runs to its terminating 0.
    size_t pos = r.Pos() - (fieldsOk ? 15 : 0);
    if (fieldsOk) {
        g.statStringOk = lan::DecodeStatString(bytes, pos, g.statString);
        ByteReader s(g.statString);
        g.mapFlags = s.U32();
        s.U8();
        g.mapWidth = s.U16();
        g.mapHeight = s.U16();
        g.mapCrc = s.U32();
        g.mapPath = s.CStr();
        g.secondText = s.CStr();
        g.thirdText = s.CStr();
        if (s.Failed() || !s.AtEnd())
            g.statStringOk = false;
    }
    ByteReader t(bytes, pos);
    g.wordD = t.U32();
    g.wordE = t.U32();
    g.word0 = t.U32();
    g.word1 = t.U32();
    g.uptimeMs = t.U32();
    g.sessionPort = t.U16();
    g.ok = fieldsOk && g.statStringOk && !t.Failed() && t.AtEnd();
    if (!g.ok)
        mProtocolErrors.push_back("GAMEINFO datagram malformed: " + lan::Hex(bytes, 256));
    mGameInfos.push_back(g);
}

bool TestLanClient::SendDatagram(uint16_t toPort, const std::string& bytes)
{
    if (mUdp < 0)
        return false;
    sockaddr_in to = Loopback(toPort);
    ssize_t n = sendto(mUdp, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (n != static_cast<ssize_t>(bytes.size())) {
        Fail("sendto");
        return false;
    }
    return true;
}

bool TestLanClient::SendSearch(uint16_t toPort, uint32_t hostCounter, const SearchOptions& options)
{
    ByteWriter w;
    w.U32(options.product).U32(options.version).U32(hostCounter);
    std::string bytes = lan::Frame(0x2F, w.Str());
    if (options.firstByte >= 0)
        bytes[0] = static_cast<char>(options.firstByte);
    if (options.totalSize >= 0)
        bytes.resize(static_cast<size_t>(options.totalSize), '\0');
    return SendDatagram(toPort, bytes);
}

const LanGameInfo* TestLanClient::FindGame(const std::string& gameName) const
{
    for (auto it = mGameInfos.rbegin(); it != mGameInfos.rend(); ++it)
        if (it->ok && it->gameName == gameName)
            return &*it;
    return nullptr;
}

const LanGameInfo* TestLanClient::FindGame(uint32_t hostCounter) const
{
    for (auto it = mGameInfos.rbegin(); it != mGameInfos.rend(); ++it)
        if (it->ok && it->hostCounter == hostCounter)
            return &*it;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------- TCP

std::string TestLanClient::BuildJoin(uint32_t hostCounter, const JoinOptions& o)
{
    ByteWriter w;
    w.U32(hostCounter).U32(o.entryKey).U8(0).U16(o.listenPort).U32(o.peerKey).CStr(o.playerName);
    // Two bytes, then the fourteen bytes of an IPv4 socket address behind its family word.
    w.U16(0).U16(AF_INET).U8(static_cast<uint8_t>(o.listenPort >> 8)).U8(static_cast<uint8_t>(o.listenPort));
    w.U8(127).U8(0).U8(0).U8(1).Zeros(8);
    std::string bytes = lan::Frame(0x1E, w.Str());
    if (o.lengthField >= 0) {
        bytes[2] = static_cast<char>(o.lengthField & 0xFF);
        bytes[3] = static_cast<char>((o.lengthField >> 8) & 0xFF);
    }
    if (o.firstByte >= 0)
        bytes[0] = static_cast<char>(o.firstByte);
    return bytes;
}

bool TestLanClient::JoinGame(const LanGameInfo& info, const JoinOptions& options)
{
    return Join(info.sessionPort, info.hostCounter, options);
}

bool TestLanClient::Join(uint16_t sessionPort, uint32_t hostCounter, const JoinOptions& o)
{
    if (mState != TcpState::Idle) {
        mError = "Join: the client has been connected already";
        return false;
    }
    mTcp = socket(AF_INET, SOCK_STREAM, 0);
    if (mTcp < 0) {
        Fail("tcp socket");
        return false;
    }
    int one = 1;
    setsockopt(mTcp, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (mReceiveBuffer > 0)
        setsockopt(mTcp, SOL_SOCKET, SO_RCVBUF, &mReceiveBuffer, sizeof mReceiveBuffer);
    if (!SetNonBlocking(mTcp)) {
        Fail("tcp non-blocking");
        close(mTcp);
        mTcp = -1;
        return false;
    }
    sockaddr_in to = Loopback(sessionPort);
    if (connect(mTcp, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
        Fail("connect");
        close(mTcp);
        mTcp = -1;
        mState = TcpState::Closed;
        return false;
    }
    mState = TcpState::Connecting;
    sockaddr_in local{};
    socklen_t len = sizeof local;
    if (getsockname(mTcp, reinterpret_cast<sockaddr*>(&local), &len) == 0)
        mLocalTcpPort = ntohs(local.sin_port);

    if (o.connectOnly)
        return true;
    std::string join = BuildJoin(o.overrideHostCounter ? o.hostCounter : hostCounter, o);
    if (o.splitInThree) {
        size_t a = join.size() / 3 > 0 ? join.size() / 3 : 1;
        size_t b = 2 * join.size() / 3 > a ? 2 * join.size() / 3 : a + 1;
        Queue(join.substr(0, a));
        Queue(join.substr(a, b - a), o.splitGapMs);
        Queue(join.substr(b) + o.coalesced, o.splitGapMs);
    } else {
        Queue(join + o.coalesced);
    }
    if (o.duplicate)
        Queue(join, o.splitGapMs);
    return true;
}

void TestLanClient::Close()
{
    if (mTcp >= 0) {
        close(mTcp);
        mTcp = -1;
    }
    mOut.clear();
    if (mState != TcpState::Idle)
        mState = TcpState::Closed;
}

size_t TestLanClient::PendingWriteBytes() const
{
    size_t n = 0;
    for (const Chunk& c : mOut)
        n += c.bytes.size() - c.sent;
    return n;
}

void TestLanClient::NoteSent(const std::string& bytes)
{
    // Count the messages by id; a chunk that is not a sequence of frames counts under its second byte.
    size_t pos = 0;
    while (pos + 4 <= bytes.size()) {
        ++mSentCount[static_cast<uint8_t>(bytes[pos + 1])];
        size_t len = static_cast<uint8_t>(bytes[pos + 2]) | (static_cast<uint8_t>(bytes[pos + 3]) << 8);
        if (len < 4)
            break;
        pos += len;
    }
}

void TestLanClient::Queue(std::string bytes, int gapMs)
{
    if (mState == TcpState::Closed || mState == TcpState::Idle || bytes.empty())
        return;
    NoteSent(bytes);
    Chunk c;
    c.bytes = std::move(bytes);
    c.gapMs = gapMs;
    mOut.push_back(std::move(c));
    if (mState == TcpState::Connected)
        FlushWrites();
}

size_t TestLanClient::SentCount(uint8_t id) const
{
    return mSentCount[id];
}

void TestLanClient::SendRaw(const std::string& bytes)
{
    Queue(bytes);
}

void TestLanClient::SendFrame(uint8_t id, const std::string& body)
{
    Queue(lan::Frame(id, body));
}

void TestLanClient::SendPong(uint32_t stamp)
{
    SendFrame(0x46, ByteWriter().U32(stamp).Str());
}

void TestLanClient::SendMapSize(uint32_t mapSize)
{
    SendFrame(0x42, ByteWriter().U32(1).U8(1).U32(mapSize).Str());
}

void TestLanClient::SendChatWithFlag(const std::string& text, uint8_t flag)
{
    ByteWriter w;
    std::vector<uint8_t> to;
    for (const LanPlayer& p : mPlayers)
        if (p.playerId != mOwnPlayerId)
            to.push_back(p.playerId);
    if (to.empty())
        to.push_back(1);
    w.U8(static_cast<uint8_t>(to.size()));
    for (uint8_t id : to)
        w.U8(id);
    w.U8(mOwnPlayerId ? mOwnPlayerId : 1).U8(flag);
    if (flag == 0x20)
        w.U32(0);
    w.CStr(text);
    SendFrame(0x28, w.Str());
}

void TestLanClient::SendChat(const std::string& text)
{
    SendChatWithFlag(text, mLoaded ? 0x20 : 0x10);
}

void TestLanClient::SendTeamChange(uint8_t team)
{
    ByteWriter w;
    w.U8(1).U8(1).U8(mOwnPlayerId ? mOwnPlayerId : 1).U8(0x11).U8(team);
    SendFrame(0x28, w.Str());
}

void TestLanClient::SendLoaded()
{
    mLoaded = true;
    SendFrame(0x23, std::string());
}

void TestLanClient::SendKeepAlive()
{
    SendFrame(0x27, ByteWriter().U8(0).U32(0).Str());
}

void TestLanClient::SendLeave(uint32_t reason)
{
    SendFrame(0x21, ByteWriter().U32(reason).Str());
}

void TestLanClient::PollTcp()
{
    if (mTcp < 0)
        return;
    if (mState == TcpState::Connecting) {
        pollfd p{mTcp, POLLOUT, 0};
        if (poll(&p, 1, 0) <= 0)
            return;
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(mTcp, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err != 0) {
            errno = err;
            Fail("connect");
            close(mTcp);
            mTcp = -1;
            mState = TcpState::Closed;
            mOut.clear();
            return;
        }
        mState = TcpState::Connected;
    }
    FlushWrites();
    if (mTcp >= 0 && mReading)
        ReadStream();
}

void TestLanClient::FlushWrites()
{
    while (mTcp >= 0 && mState == TcpState::Connected && !mOut.empty()) {
        Chunk& c = mOut.front();
        if (c.sent == 0 && c.gapMs > 0 && SteadyUs() - mLastWriteUs < int64_t(c.gapMs) * 1000)
            return; // a split write: the next piece goes out later, in a later Poll
        ssize_t n = send(mTcp, c.bytes.data() + c.sent, c.bytes.size() - c.sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                return;
            Fail("send");
            mOut.clear();
            return;
        }
        c.sent += static_cast<size_t>(n);
        if (c.sent < c.bytes.size())
            return;
        mOut.pop_front();
        mLastWriteUs = SteadyUs();
        if (!mOut.empty() && mOut.front().gapMs > 0)
            return; // give the host a chance to read the piece on its own
    }
}

void TestLanClient::ReadStream()
{
    char buf[16384];
    size_t total = 0;
    while (mTcp >= 0 && total < kMaxReadPerPoll) {
        ssize_t n = recv(mTcp, buf, sizeof buf, 0);
        if (n > 0) {
            mIn.append(buf, static_cast<size_t>(n));
            mBytesReceived += static_cast<uint64_t>(n);
            total += static_cast<size_t>(n);
            ParseFrames();
            continue;
        }
        if (n == 0) {
            ParseFrames();
            OnHostClosed();
            return;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return;
        Fail("recv");
        OnHostClosed();
        return;
    }
}

void TestLanClient::OnHostClosed()
{
    mHostClosed = true;
    mClosedAtSeq = mFrames.size();
    if (!mIn.empty() && !mHeaderBroken)
        mProtocolErrors.push_back("connection closed inside a frame (" + std::to_string(mIn.size()) +
                                  " bytes left: " + lan::Hex(mIn) + ")");
    if (mTcp >= 0)
        close(mTcp);
    mTcp = -1;
    mOut.clear();
    mState = TcpState::Closed;
}

void TestLanClient::ParseFrames()
{
    size_t pos = 0;
    while (!mHeaderBroken && mIn.size() - pos >= lan::kFrameHeaderSize) {
        uint8_t magic = static_cast<uint8_t>(mIn[pos]);
        size_t len = static_cast<uint8_t>(mIn[pos + 2]) | (static_cast<uint8_t>(mIn[pos + 3]) << 8);
        if (magic != lan::kFrameMagic || len < lan::kFrameHeaderSize) {
            mHeaderBroken = true;
            mProtocolErrors.push_back("broken frame header at stream frame " + std::to_string(mFrames.size()) +
                                      ": " + lan::Hex(mIn.substr(pos, 16)));
            break;
        }
        if (mIn.size() - pos < len)
            break;
        HandleFrame(mIn.substr(pos, len));
        pos += len;
    }
    mIn.erase(0, pos);
}

void TestLanClient::HandleFrame(const std::string& raw)
{
    const uint32_t now = bcx::ProgramClock::Now();
    const size_t seq = mFrames.size();
    const uint8_t id = static_cast<uint8_t>(raw[1]);
    mFrames.push_back(LanFrame{seq, now, id, raw});

    ByteReader r(raw, lan::kFrameHeaderSize);
    auto finish = [&](const char* what) {
        if (r.Failed())
            Problem(seq, id, std::string(what) + " too short: " + lan::Hex(raw));
        else if (!r.AtEnd())
            Problem(seq, id, std::string(what) + " has " + std::to_string(r.Left()) + " extra bytes: " + lan::Hex(raw));
    };

    switch (id) {
    case 0x01: {
        LanPing p{seq, now, r.U32()};
        finish("ping");
        mPings.push_back(p);
        if (mAutoPong && !r.Failed())
            SendPong(p.stamp);
        break;
    }
    case 0x04:
    case 0x09: {
        LanSlotTable t = Received<LanSlotTable>(seq, now);
        t.id = id;
        t.declaredSize = r.U16();
        uint8_t n = r.U8();
        for (uint8_t i = 0; i < n && !r.Failed(); ++i) {
            LanSlot s;
            s.playerId = r.U8();
            s.downloadPercent = r.U8();
            s.status = r.U8();
            s.computer = r.U8();
            s.team = r.U8();
            s.colour = r.U8();
            s.race = r.U8();
            s.computerLevel = r.U8();
            s.handicap = r.U8();
            t.slots.push_back(s);
        }
        t.randomSeed = r.U32();
        t.layoutStyle = r.U8();
        t.playerSlots = r.U8();
        if (id == 0x04) {
            t.viewPlayerId = r.U8();
            t.joinAddress = r.Bytes(16);
            if (!r.Failed())
                mOwnPlayerId = t.viewPlayerId;
        }
        finish("slot table");
        if (t.declaredSize != 9u * n + 7u)
            Problem(seq, id, "slot table size field " + std::to_string(t.declaredSize) + " for " +
                                 std::to_string(n) + " slots");
        if (n > 12)
            Problem(seq, id, "slot table with " + std::to_string(n) + " slots");
        mSlotTables.push_back(t);
        break;
    }
    case 0x06: {
        LanPlayer p = Received<LanPlayer>(seq, now);
        p.joinCounter = r.U32();
        p.playerId = r.U8();
        p.name = r.CStr();
        p.tail = r.Bytes(34);
        finish("player record");
        if (!r.Failed() && p.tail != std::string("\x01\x00", 2) + std::string(32, '\0'))
            Problem(seq, id, "player record tail is not 01 00 and 32 zeros");
        mPlayers.push_back(p);
        break;
    }
    case 0x07: {
        LanPlayerLeft p{seq, now, r.U8(), 0};
        p.reason = r.U32();
        finish("player left");
        mPlayersLeft.push_back(p);
        break;
    }
    case 0x08: {
        LanPlayerLoaded p{seq, now, r.U8()};
        finish("player loaded");
        mPlayersLoaded.push_back(p);
        break;
    }
    case 0x3D: {
        LanMapCheck m = Received<LanMapCheck>(seq, now);
        m.checkWord = r.U32();
        m.mapPath = r.CStr();
        m.mapSize = r.U32();
        m.mapInfo = r.U32();
        m.mapChecksum = r.U32();
        finish("map check");
        mMapChecks.push_back(m);
        if (mMapReply == MapReply::Found)
            SendMapSize(m.mapSize);
        else if (mMapReply == MapReply::NotFound)
            SendMapSize(0);
        break;
    }
    case 0x0A:
        finish("countdown start");
        mCountdownStarts.push_back(seq);
        break;
    case 0x0B:
        finish("countdown end");
        mCountdownEnds.push_back(seq);
        if (mAutoLoaded && !mLoaded)
            SendLoaded();
        break;
    case 0x0C: {
        LanAction a = Received<LanAction>(seq, now);
        a.raw = raw;
        a.increment = r.U16();
        if (r.Failed()) {
            Problem(seq, id, "action message without time increment: " + lan::Hex(raw));
        } else if (raw.size() == 6) {
            a.checksumResult = ChecksumResult::None;
        } else {
            a.checksum = r.U16();
            if (r.Failed()) {
                Problem(seq, id, "action message of 7 bytes: " + lan::Hex(raw));
                a.checksumResult = ChecksumResult::Bad;
            } else {
                a.blockBytes = raw.substr(8);
                a.computed = static_cast<uint16_t>(lan::Crc32(a.blockBytes) & 0xFFFF);
                a.checksumResult = a.computed == a.checksum ? ChecksumResult::Ok : ChecksumResult::Bad;
                ByteReader b(a.blockBytes);
                while (!b.AtEnd() && !b.Failed()) {
                    LanActionBlock block;
                    block.playerId = b.U8();
                    uint16_t n = b.U16();
                    block.actions = b.Bytes(n);
                    if (!b.Failed())
                        a.blocks.push_back(block);
                }
                a.blocksOk = !b.Failed();
                if (!a.blocksOk)
                    Problem(seq, id, "action blocks run past the message end: " + lan::Hex(raw));
            }
        }
        mGameTimeMs += a.increment;
        mActions.push_back(a);
        if (mAutoKeepAlive)
            SendKeepAlive();
        break;
    }
    case 0x0F: {
        LanChat c = Received<LanChat>(seq, now);
        uint8_t k = r.U8();
        for (uint8_t i = 0; i < k && !r.Failed(); ++i)
            c.receivers.push_back(r.U8());
        c.sender = r.U8();
        c.flag = r.U8();
        if (c.flag == 0x20) {
            c.hasExtra = true;
            c.extra = r.U32();
        }
        c.text = r.CStr();
        finish("chat");
        mChats.push_back(c);
        break;
    }
    default:
        break;
    }
}

} // namespace bcxtest
