#include "lanhost/LanListener.h"

#include <cstring>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <wx/log.h>

#include "core/ClientCore.h"
#include "core/CountingSocket.h"
#include "core/GameRecords.h"
#include "lanhost/LanGameHost.h"
#include "platform/ProgramClock.h"
#include "platform/TextCodec.h"

namespace {

constexpr uint8_t kSearchGame = 0x2F;
constexpr uint8_t kRequestJoin = 0x1E;
// A search datagram ends with the host counter at offset 12.
constexpr int32_t kSearchGameSize = 16;

struct DatagramDeleter {
    void operator()(char* data) const { delete[] data; }
};

} // namespace

wxBEGIN_EVENT_TABLE(LanListener, wxEvtHandler)
    EVT_SOCKET(LanListener::kServerSocketId, LanListener::OnSessionAccept)
    EVT_SOCKET(LanListener::kClientSocketId, LanListener::OnClientSocket)
    EVT_TIMER(LanListener::kSearchTimerId, LanListener::OnLanSearchTimer)
wxEND_EVENT_TABLE()

LanListener::LanListener() : mSearchTimer(this, kSearchTimerId) {}

LanListener::~LanListener()
{
    mSearchTimer.Stop();
    mClients.Clear();
    if (mServer) {
        mServer->Notify(false);
        mServer->Destroy();
        mServer = nullptr;
    }
}

bool LanListener::BindSessionPort(int32_t firstPort, const wxIPV4address* localAddress)
{
    int32_t port = firstPort;
    for (int attempt = 0; attempt < kPortAttempts; ++attempt, ++port) {
        wxIPV4address address;
        if (localAddress)
            address = *localAddress;
        else
            address.AnyAddress();
        address.Service(static_cast<unsigned short>(port & 0xFFFF));
        auto* server = new CountingServerSocket(address, wxSOCKET_NONE);
        if (server->IsOk()) {
            mServer = server;
            wxIPV4address bound;
            mBoundPort = server->GetLocal(bound) ? bound.Service() : static_cast<uint16_t>(port);
            break;
        }
        wxLogMessage(wxS("Failed to bind session port %d"), static_cast<int>(port));
        server->Destroy();
    }
    if (!mServer)
        return false;
    mServer->SetEventHandler(*this, kServerSocketId);
    mServer->SetNotify(wxSOCKET_CONNECTION_FLAG);
    mServer->Notify(true);
    mServer->SetFlags(wxSOCKET_NOWAIT);
    wxLogMessage(wxS("Session port %d bound"), static_cast<int>(mBoundPort));
    if (ClientCore* core = ClientCore::Get())
        core->SetSessionPort(mBoundPort);
    return true;
}

void LanListener::StartSearchTimer()
{
    mSearchTimer.Start(kSearchIntervalMs);
}

void LanListener::OnLanSearchTimer(wxTimerEvent&)
{
    PollSearches();
    CheckUnjoined();
}

void LanListener::CheckUnjoined()
{
    const uint32_t now = bcx::ProgramClock::Now();
    for (uint32_t id : mClients.Ids()) {
        LanClient* client = mClients.Find(id);
        if (client && now - client->mAcceptTime >= kJoinDeadlineMs) {
            wxLogMessage(wxS("client[0x%08X] disconnected, no join request within %u ms"), id,
                         static_cast<unsigned>(kJoinDeadlineMs));
            mClients.Erase(id);
        }
    }
    if (mAcceptPaused && static_cast<int32_t>(now - mAcceptResumeTime) >= 0) {
        mAcceptPaused = false;
        AcceptPending();
    }
}

LanGameHost* LanListener::LookupHost(uint32_t gameId) const
{
    if (mLookup)
        return mLookup(gameId);
    ClientCore* core = ClientCore::Get();
    // Every session the registry creates is a LanGameHost (LanGameHost::Factory).
    return core ? dynamic_cast<LanGameHost*>(core->GetSession(gameId)) : nullptr;
}

void LanListener::PollSearches()
{
    ClientCore* core = ClientCore::Get();
    if (!core)
        return;
    char* rawData = nullptr;
    int32_t length = 0;
    sockaddr_in* rawFrom = nullptr;
    while (core->DatagramReceive(rawData, length, rawFrom)) {
        std::unique_ptr<char[], DatagramDeleter> data(rawData);
        std::unique_ptr<sockaddr_in> from(rawFrom);
        const auto* bytes = reinterpret_cast<const uint8_t*>(data.get());
        if (length < kSearchGameSize || (bytes[0] != 0xF7 && bytes[0] != 0xFF) || bytes[1] != kSearchGame)
            continue;
        uint32_t hostCounter;
        std::memcpy(&hostCounter, bytes + 12, 4);
        hostCounter = wxUINT32_SWAP_ON_BE(hostCounter);
        if (LanGameHost* host = LookupHost(hostCounter))
            host->OnSearchGame(std::move(from));
    }
}

void LanListener::OnSessionAccept(wxSocketEvent& event)
{
    // While paused the connections wait in the backlog; the toolkit reports them again after the next
    // accept attempt.
    if (event.GetSocketEvent() != wxSOCKET_CONNECTION || !mServer || mAcceptPaused)
        return;
    AcceptPending();
}

void LanListener::AcceptPending()
{
    while (CountingPeerSocket* socket = mServer->AcceptCounting()) {
        mAcceptFailureLogged = false;
        MakeRoomForOneMore();
        auto client = std::make_unique<LanClient>();
        client->SetSocket(socket);
        client->mAcceptTime = bcx::ProgramClock::Now();
        wxIPV4address peer;
        wxString host = wxS("?");
        int port = 0;
        if (socket->GetPeer(peer)) {
            host = peer.IPAddress();
            port = peer.Service();
        }
        wxLogMessage(wxS("client[0x%08X] connected from '%s:%i'"), client->GetConnectionId(), host, port);
        // Small frames go out at once: the lobby and the released action messages are written as they
        // are due, and waiting for the acknowledgement of the previous write would hold them back for
        // the peer's delayed-ACK time.
        const int noDelay = 1;
        socket->SetOption(IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        socket->SetEventHandler(*this, kClientSocketId);
        socket->SetNotify(wxSOCKET_INPUT_FLAG | wxSOCKET_LOST_FLAG);
        socket->Notify(true);
        socket->SetFlags(wxSOCKET_NOWAIT);
        mClients.Add(std::move(client));
    }
    if (const int error = mServer->AcceptError()) {
        // Trying again at once would find the same connection waiting and fail the same way, for ever.
        mAcceptPaused = true;
        mAcceptResumeTime = bcx::ProgramClock::Now() + kAcceptPauseMs;
        const wxString cause = error == CountingServerSocket::kAcceptErrorUnknown
                                   ? wxString(wxS("cause unknown"))
                                   : wxString::FromUTF8(std::strerror(error));
        if (!mAcceptFailureLogged)
            wxLogMessage(wxS("Failed to accept a connection on the session port (%s); accepting again every %u ms"),
                         cause, static_cast<unsigned>(kAcceptPauseMs));
        mAcceptFailureLogged = true;
    }
}

void LanListener::MakeRoomForOneMore()
{
    if (mClients.Size() < kMaxUnjoined) {
        mBoundLogged = false;
        return;
    }
    if (!mBoundLogged)
        wxLogMessage(wxS("%u connections are waiting to join: dropping the oldest for each new one"),
                     static_cast<unsigned>(mClients.Size()));
    mBoundLogged = true;
    while (mClients.Size() >= kMaxUnjoined)
        mClients.Erase(mClients.Ids().front());
}

void LanListener::OnClientSocket(wxSocketEvent& event)
{
    wxSocketBase* socket = event.GetSocket();
    LanClient* client = mClients.FindBySocket(socket);
    switch (event.GetSocketEvent()) {
    case wxSOCKET_LOST:
        if (client) {
            wxLogMessage(wxS("client[0x%08X] lost connection"), client->GetConnectionId());
            mClients.Erase(client->GetConnectionId());
        }
        return;
    case wxSOCKET_INPUT:
        if (!client) {
            if (socket)
                socket->SetNotify(wxSOCKET_LOST_FLAG);
            wxLogMessage(wxS("unkonwn client sent us data ? should not happen..."));
            return;
        }
        ReadClient(client);
        return;
    default:
        return;
    }
}

void LanListener::ReadClient(LanClient* client)
{
    CountingPeerSocket* socket = client->GetSocket();
    const uint32_t id = client->GetConnectionId();
    socket->SetNotify(wxSOCKET_LOST_FLAG);
    warPacket& packet = client->mReceivePacket;
    for (;;) {
        const ReadResult result = ReadLanPacket(packet, *socket);
        if (result == ReadResult::Incomplete) {
            socket->SetNotify(wxSOCKET_INPUT_FLAG | wxSOCKET_LOST_FLAG);
            return;
        }
        if (result == ReadResult::Broken) {
            wxLogMessage(wxS("client[0x%08X] disconnected, broken packet"), id);
            mClients.Erase(id);
            return;
        }
        if (!packet.IsValid() || packet.GetId() != kRequestJoin) {
            packet.Clear();
            continue;
        }
        packet.SetCursor(packet.GetHeaderSize());
        const uint32_t hostCounter = packet.ReadU32();
        const bool haveCounter = !packet.ReadError();
        packet.ReadU32();            // entry key
        packet.ReadU8();             // unnamed byte
        packet.ReadU16();            // listen port
        packet.ReadU32();            // peer key
        if (!packet.ReadError())
            packet.ReadString(client->mPlayerName);
        packet.Clear();

        wxLogMessage(wxS("%s"), wxString::Format(wxS("client[0x%08X] is identified as '"), id) +
                                    bcx::FromGbk(client->mPlayerName) + wxS("'"));
        LanGameHost* host = haveCounter ? LookupHost(hostCounter) : nullptr;
        if (!host) {
            wxLogMessage(wxS("client[0x%08X] disconnected, no valid game[0x%08X] found "), id, hostCounter);
            mClients.Erase(id);
            return;
        }
        Game* game = host->GetGame();
        const uint32_t gameId = game ? game->mId : hostCounter;
        const wxString gameName = bcx::FromGbk(game ? game->mName : std::string());
        // From here on the host owns the client and the rest of its stream.
        host->AttachClient(mClients.Release(id));
        wxLogMessage(wxS("%s"), wxString::Format(wxS("client[0x%08X] attached to game[0x%08X] '"), id, gameId) +
                                    gameName + wxS("'"));
        return;
    }
}
