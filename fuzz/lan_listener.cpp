// Feeds arbitrary bytes to the two ways in of the local Warcraft III: as game-search datagrams to the
// client core's datagram socket, read by the listener's search poll and handed to the host of the game
// they name; or as the byte stream of a new session-port connection, read by the listener until a join
// request hands it to the host (whose reading then goes on with the rest).
//
// Input: byte 0 bit 0 the mode (0 datagrams, 1 a connection); bits 1-7 (connection) the size of the
// writes, 0 for one write. Datagrams: the rest is a run of [u8 length][bytes] records.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <wx/timer.h>

#include "FuzzSupport.h"
#include "lanhost/LanListener.h"

using namespace fuzzsupport;

namespace {

constexpr uint32_t kGameId = 0xF00D;

struct Lobby {
    Lobby()
    {
        wxIPV4address loopback;
        loopback.Hostname(wxS("127.0.0.1"));
        Check(listener.BindSessionPort(0, &loopback));
        listener.SetHostLookup([this](uint32_t id) { return id == kGameId ? host.get() : nullptr; });
        searcher = socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in any = Loopback(0);
        Check(searcher >= 0 && bind(searcher, reinterpret_cast<const sockaddr*>(&any), sizeof any) == 0);
    }

    LanListener listener;
    std::unique_ptr<Game> game;
    std::unique_ptr<LanGameHost> host;
    int searcher = -1;  // the UDP socket the searches come from; the answers go back to it
};

void SendSearches(Lobby& lobby, const uint8_t* data, size_t n)
{
    const sockaddr_in core = Loopback(Core()->DatagramLocalPort());
    for (size_t at = 0; at < n;) {
        const size_t length = std::min<size_t>(data[at], n - at - 1);
        sendto(lobby.searcher, data + at + 1, length, 0, reinterpret_cast<const sockaddr*>(&core), sizeof core);
        at += 1 + length;
    }
    wxTimer timer;
    wxTimerEvent tick(timer);
    lobby.listener.OnLanSearchTimer(tick);
    Drain(lobby.searcher);
}

void Connect(Lobby& lobby, const uint8_t* data, size_t n, size_t chunk)
{
    const int raw = ConnectRaw(lobby.listener.SessionPort());
    Check(raw >= 0);
    wxSocketEvent accept(LanListener::kServerSocketId);
    accept.m_event = wxSOCKET_CONNECTION;
    for (int attempt = 0; attempt < 100 && lobby.listener.Clients().Empty(); ++attempt) {
        lobby.listener.OnSessionAccept(accept);
        if (lobby.listener.Clients().Empty())
            WaitReadable(raw, 10);
    }
    Check(lobby.listener.Clients().Size() == 1);
    const uint32_t id = lobby.listener.Clients().Ids().front();
    CountingPeerSocket* socket = lobby.listener.Clients().Find(id)->GetSocket();

    // What the toolkit does when bytes arrive: an input event for the listener, until the client left it.
    auto step = [&]() {
        if (!lobby.listener.Clients().Find(id))
            return ReadResult::Broken;
        wxSocketEvent input(LanListener::kClientSocketId);
        input.m_event = wxSOCKET_INPUT;
        input.SetEventObject(socket);
        lobby.listener.OnClientSocket(input);
        return lobby.listener.Clients().Find(id) ? ReadResult::Incomplete : ReadResult::Broken;
    };
    for (size_t at = 0; at < n && lobby.listener.Clients().Find(id); at += chunk) {
        const size_t length = std::min(chunk, n - at);
        const uint32_t before = socket->BytesRead();
        Check(WriteAll(raw, data + at, length));
        ReadArrived(*socket, before, length, step);
        Drain(raw);
    }
    if (lobby.listener.Clients().Find(id)) {
        wxSocketEvent lost(LanListener::kClientSocketId);
        lost.m_event = wxSOCKET_LOST;
        lost.SetEventObject(socket);
        lobby.listener.OnClientSocket(lost);
    }
    CloseAbortive(raw);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size < 1)
        return 0;
    Check(Core() != nullptr);  // before the listener's timer: the toolkit first
    static Lobby* lobby = new Lobby();
    lobby->game = MakeGame(kGameId);
    lobby->host = std::make_unique<LanGameHost>(lobby->game.get());
    if (input[0] & 1)
        Connect(*lobby, input + 1, size - 1, (input[0] >> 1) == 0 ? size : (input[0] >> 1));
    else
        SendSearches(*lobby, input + 1, size - 1);
    lobby->host.reset();
    lobby->game.reset();
    Check(lobby->listener.Clients().Empty());
    RunIdle();
    return 0;
}
