#pragma once
// What the fuzz targets share: a log that formats and drops every line, the toolkit and a client core set
// up once in a directory of their own, a fixture game, and loopback TCP connections whose far end the
// target writes raw bytes to, so that the product's own socket frame readers take them.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/socket.h>

#include "core/ClientCore.h"
#include "core/CountingSocket.h"
#include "core/Crc32.h"
#include "core/GameData.h"
#include "core/GameRecords.h"
#include "core/Packet.h"
#include "lanhost/ChatCommands.h"
#include "lanhost/LanGameHost.h"
#include "platform/ProgramClock.h"
#include "platform/Registry.h"

namespace fuzzsupport {

// Formats every line (so that the formats are exercised) and drops it.
class DiscardLog : public wxLog {
protected:
    void DoLogRecord(wxLogLevel, const wxString& msg, const wxLogRecordInfo&) override { (void)msg.length(); }
};

inline void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// The toolkit and the quiet log, once per process.
inline void InitToolkit()
{
    static wxInitializer* toolkit = [] {
        auto* init = new wxInitializer();
        wxLog::SetActiveTarget(new DiscardLog);
        wxSocketBase::Initialize();
        return init;
    }();
    (void)toolkit;
}

// A working directory of the process's own, removed at exit.
class ScratchDirectory {
public:
    ScratchDirectory()
    {
        std::string path = (std::filesystem::temp_directory_path() / "bcxfuzz.XXXXXX").string();
        if (mkdtemp(path.data()) && chdir(path.c_str()) == 0)
            mPath = path;
    }
    ~ScratchDirectory()
    {
        std::error_code ignored;
        if (!mPath.empty())
            std::filesystem::remove_all(mPath, ignored);
    }

private:
    std::string mPath;
};

// The client core, once per process: free ports, LAN datagrams to a loopback port nobody reads, the
// manual program clock, hosts without timers, the chat commands registered.
inline ClientCore* Core()
{
    static ClientCore* core = [] {
        InitToolkit();
        // The core reads its configuration from the working directory: one of our own while it starts.
        const std::filesystem::path start = std::filesystem::current_path();
        static ScratchDirectory scratch;
        bcx::SetFakeRegistryForTesting(false, std::nullopt);
        {
            std::ofstream out("bcxClient.ini", std::ios::binary);
            out << "[Net]\nDatagramPort=0\nSessionPort=0\nUseBroadcast=0\nUseLocalhost=1\n";
        }
        bcx::ProgramClock::SetManual(true);
        bcx::ProgramClock::Set(100000);
        LanGameHost::EnableTimers(false);
        ClientCore::SetLanPortForTesting(9);
        RegisterChatCommands();
        ClientCore* created = ClientCore::Get();
        std::filesystem::current_path(start);
        return created;
    }();
    return core;
}

// One action message (0x0C): time increment 100 and one block of `actions` by `player`.
inline std::string ActionMessage(uint8_t player, const std::string& actions)
{
    std::string blocks;
    blocks += static_cast<char>(player);
    blocks += static_cast<char>(actions.size() & 0xFF);
    blocks += static_cast<char>(actions.size() >> 8);
    blocks += actions;
    const uint32_t crc = Crc32(reinterpret_cast<const uint8_t*>(blocks.data()), blocks.size()) & 0xFFFF;
    const size_t length = 8 + blocks.size();
    std::string message = {'\xF7', '\x0C', static_cast<char>(length & 0xFF), static_cast<char>(length >> 8), 100, 0,
                           static_cast<char>(crc & 0xFF), static_cast<char>(crc >> 8)};
    return message + blocks;
}

// A finished 1v1 with two observers (the view player 3 is the first): game information, complete
// details and `entries` action messages 100 ms apart.
inline std::unique_ptr<Game> MakeGame(uint32_t id, uint32_t entries = 20)
{
    auto game = std::make_unique<Game>(id);
    game->mName = "Fuzz Game";
    game->mState = GameStateFinished;
    game->mDownloadState = DownloadFinished;
    auto* info = new GameInfo(game->mName, 0);
    info->mMapPath = "Maps\\(2)EchoIsles.w3x";
    info->mPresent = 1;
    game->mInfo = info;

    auto* details = new GameDetails();
    details->mMapPath = info->mMapPath;
    details->mMapSize = 0x0001F2A0;
    details->mSlotCount = 4;
    const uint8_t teams[] = {0, 1, kObserverTeam, kObserverTeam};
    for (uint8_t i = 0; i < 4; ++i) {
        SlotRecord& slot = details->mSlots[i];
        slot.mValid = 1;
        slot.mPlayerId = static_cast<uint8_t>(i + 1);
        slot.mDownloadPercent = 100;
        slot.mStatus = kSlotStatusUsed;
        slot.mTeam = teams[i];
        slot.mColour = i < 2 ? i : 12;
        PlayerRecord& player = details->mPlayers[i + 1];
        player.mValid = 1;
        player.mJoinCounter = 11u + i;
        player.mName = std::string("player") + static_cast<char>('1' + i);
    }
    details->mViewPlayer = 3;
    details->mCompleteness = 15;
    game->mDetails = details;

    auto* data = new GameData();
    for (uint32_t i = 0; i < entries; ++i) {
        const std::string message = ActionMessage(static_cast<uint8_t>(1 + i % 2), std::string("\x10\x42", 2));
        data->Append(i * 100, static_cast<uint32_t>(message.size()), reinterpret_cast<const uint8_t*>(message.data()));
    }
    data->Finish();
    game->mData = data;
    return game;
}

// What the event loop would do between two inputs: deliver posted notices, free destroyed sockets.
inline void RunIdle()
{
    if (wxTheApp) {
        wxTheApp->ProcessPendingEvents();
        wxTheApp->ProcessIdle();
    }
}

inline sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Waits at most ms for input on fd.
inline bool WaitReadable(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}

inline bool WriteAll(int fd, const uint8_t* data, size_t n)
{
    while (n > 0) {
        const ssize_t sent = send(fd, data, n, MSG_NOSIGNAL);
        if (sent <= 0) {
            if (sent < 0 && errno == EINTR)
                continue;
            return false;
        }
        data += sent;
        n -= static_cast<size_t>(sent);
    }
    return true;
}

// Reads and drops whatever fd holds now.
inline void Drain(int fd)
{
    char sink[65536];
    while (recv(fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
}

// Closes with a reset, so that the many short connections of a run leave nothing in TIME_WAIT.
inline void CloseAbortive(int fd)
{
    const linger abort{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(fd);
}

// A blocking TCP connection to 127.0.0.1:port; -1 on failure.
inline int ConnectRaw(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in to = Loopback(port);
    // Every write goes out at once: a small write must not wait for the acknowledgement of the last one.
    const int noDelay = 1;
    if (fd >= 0 && setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay) == 0 &&
        connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

// A session-port style listener on loopback whose connections the product takes as CountingPeerSockets.
class PeerListener {
public:
    PeerListener()
    {
        InitToolkit();
        wxIPV4address address;
        address.Hostname(wxS("127.0.0.1"));
        address.Service(0);
        mServer = new CountingServerSocket(address, wxSOCKET_NOWAIT);
        wxIPV4address bound;
        if (mServer->IsOk() && mServer->GetLocal(bound))
            mPort = bound.Service();
    }
    ~PeerListener() { mServer->Destroy(); }
    PeerListener(const PeerListener&) = delete;
    PeerListener& operator=(const PeerListener&) = delete;

    uint16_t Port() const { return mPort; }
    CountingServerSocket& Server() { return *mServer; }

    // Connects a raw socket (the peer's end, returned in rawFd) and accepts it; null on failure.
    CountingPeerSocket* Connect(int& rawFd)
    {
        rawFd = ConnectRaw(mPort);
        if (rawFd < 0)
            return nullptr;
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (CountingPeerSocket* peer = mServer->AcceptCounting())
                return peer;
            WaitReadable(static_cast<int>(mServer->GetSocket()), 10);
        }
        close(rawFd);
        rawFd = -1;
        return nullptr;
    }

private:
    CountingServerSocket* mServer = nullptr;
    uint16_t mPort = 0;
};

// Runs one frame reader step after another until the socket took `expected` more bytes than `before` (its
// count when the bytes were written) and the last frame is read, or nothing more arrives within a short
// wait. step() answers like the readers; Broken also when the owner of the socket let it go (the socket is
// not touched again then). Bounded: every complete frame takes at least its header.
template <class Socket, class Step>
void ReadArrived(Socket& socket, uint32_t before, size_t expected, Step step)
{
    const int fd = static_cast<int>(socket.GetSocket());
    for (size_t round = 0; round <= expected + 16; ++round) {
        const ReadResult result = step();
        if (result == ReadResult::Broken)
            return;
        if (result == ReadResult::Complete)
            continue;
        if (socket.BytesRead() - before >= expected || !WaitReadable(fd, 200))
            return;
    }
}

} // namespace fuzzsupport
