// Feeds arbitrary bytes to the socket frame readers over loopback connections: the relay's frames through
// ReadPacketFromSocket on a client socket, Warcraft III's through ReadLanPacket on an accepted one, in
// writes of a size taken from the input. Every complete frame then goes through the packet buffer's read
// operations in the order a relay or LAN handler uses them: numbers, strings and raw runs chosen by the
// input itself, past the end included. A broken frame ends the input (its owner would close).
//
// Input: byte 0 the read plan; byte 1 bit 0 the framing (0 relay, 1 LAN), bits 1-7 the size of the writes
// (0: one write); the rest the byte stream.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"

using namespace fuzzsupport;

namespace {

// A relay-style connection: our CountingSocket connected to a raw listening socket on loopback.
struct RelayLink {
    RelayLink()
    {
        InitToolkit();
        const int listening = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = Loopback(0);
        socklen_t length = sizeof address;
        Check(listening >= 0 && bind(listening, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
              listen(listening, 1) == 0 &&
              getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length) == 0);
        wxIPV4address to;
        to.Hostname(wxS("127.0.0.1"));
        to.Service(ntohs(address.sin_port));
        client = new CountingSocket(wxSOCKET_NOWAIT);
        Check(client->Connect(to, true));
        raw = accept(listening, nullptr, nullptr);
        Check(raw >= 0);
        const int noDelay = 1;
        setsockopt(raw, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        close(listening);
    }

    CountingSocket* client = nullptr;
    int raw = -1;
};

// A session-port connection: a raw client and the accepted CountingPeerSocket.
struct LanLink {
    LanLink() { peer = listener.Connect(raw); }

    PeerListener listener;
    CountingPeerSocket* peer = nullptr;
    int raw = -1;
};

void ReadAsHandlersDo(PacketBuffer& packet, uint8_t plan)
{
    // The framing's own view of the bytes.
    packet.IsValid();
    packet.GetLength();
    packet.GetId();
    std::string text;
    uint8_t raw[64];
    for (int step = 0; step < 64; ++step) {
        switch ((plan >> (step % 8)) & 3) {
        case 0: packet.ReadU8(); break;
        case 1: packet.ReadU32(); break;
        case 2: packet.ReadString(text); break;
        default: packet.Read(raw, static_cast<uint32_t>(step % sizeof(raw))); break;
        }
    }
}

// Writes the stream in pieces and reads the frames that arrive; false once a frame was broken.
template <class Socket, class Reader>
bool Feed(Socket& socket, int raw, PacketBuffer& packet, const std::string& stream, size_t chunk, uint8_t plan,
          Reader reader)
{
    bool broken = false;
    auto step = [&]() {
        const ReadResult result = reader(packet, socket);
        if (result == ReadResult::Complete) {
            ReadAsHandlersDo(packet, plan);
            packet.Clear();
        }
        broken = result == ReadResult::Broken;
        return result;
    };
    for (size_t at = 0; at < stream.size() && !broken; at += chunk) {
        const size_t n = std::min(chunk, stream.size() - at);
        const uint32_t before = socket.BytesRead();
        Check(WriteAll(raw, reinterpret_cast<const uint8_t*>(stream.data() + at), n));
        ReadArrived(socket, before, n, step);
    }
    return !broken;
}

// Reads what a broken stream left in the socket, so that the next input starts on a frame boundary.
template <class Socket>
void Discard(Socket& socket)
{
    char sink[4096];
    do {
        socket.Read(sink, sizeof sink);
    } while (socket.LastCount() > 0);
}

// The same for a peer socket, whose input buffer may hold bytes behind the broken frame.
void Discard(CountingPeerSocket& socket)
{
    uint8_t sink[4096];
    while (socket.TakeInput(sink, sizeof sink) > 0) {
    }
    Discard<CountingPeerSocket>(socket);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    static RelayLink relay;
    static LanLink lan;
    Check(relay.client->IsConnected() && lan.peer != nullptr);

    const uint8_t plan = data[0];
    const size_t chunk = (data[1] >> 1) == 0 ? size : (data[1] >> 1);
    const std::string stream(reinterpret_cast<const char*>(data + 2), size - 2);
    if (data[1] & 1) {
        warPacket packet;
        if (!Feed(*lan.peer, lan.raw, packet, stream, chunk, plan, ReadLanPacket))
            Discard(*lan.peer);
    } else {
        bcxPacket packet;
        if (!Feed(*relay.client, relay.raw, packet, stream, chunk, plan, ReadPacketFromSocket))
            Discard(*relay.client);
    }
    return 0;
}
