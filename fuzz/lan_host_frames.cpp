// Feeds arbitrary bytes, as a joined Warcraft III sends them, to a LAN game host: over a loopback
// connection, framed by the product's socket frame reader and handled by the host, in the lobby or (after
// a loaded notice in front) in the game, then one pump of the client.
//
// Input: byte 0 bit 0 the game state (0 lobby, 1 playing), bits 1-7 the ms / 100 the clock advances before
// the pump; byte 1 the size of the writes (0: everything in one write); the rest the byte stream.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "FuzzSupport.h"

using namespace fuzzsupport;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size < 2)
        return 0;
    Check(Core() != nullptr);
    static PeerListener listener;

    std::string stream;
    if (input[0] & 1)
        stream = std::string("\xF7\x23\x04\x00", 4);
    stream.append(reinterpret_cast<const char*>(input + 2), size - 2);
    const size_t chunk = input[1] == 0 ? stream.size() : input[1];

    std::unique_ptr<Game> game = MakeGame(0xF00D);
    auto host = std::make_unique<LanGameHost>(game.get());
    int raw = -1;
    CountingPeerSocket* socket = listener.Connect(raw);
    Check(socket != nullptr);
    auto joined = std::make_unique<LanClient>();
    joined->SetSocket(socket);
    joined->mPlayerName = "fuzz viewer";
    const uint32_t id = joined->GetConnectionId();
    host->AttachClient(std::move(joined));

    // What the host's input handler does for each frame, one frame per step.
    auto step = [&]() {
        LanClient* client = host->FindClient(id);
        if (!client)
            return ReadResult::Broken;
        const ReadResult result = ReadLanPacket(client->mReceivePacket, *client->GetSocket());
        if (result != ReadResult::Complete)
            return result;
        if (!host->HandlePacket(client))
            return ReadResult::Broken;
        client->mReceivePacket.Clear();
        return ReadResult::Complete;
    };
    for (size_t at = 0; at < stream.size() && host->FindClient(id); at += chunk) {
        const size_t n = std::min(chunk, stream.size() - at);
        const uint32_t before = socket->BytesRead();
        Check(WriteAll(raw, reinterpret_cast<const uint8_t*>(stream.data() + at), n));
        ReadArrived(*socket, before, n, step);
        Drain(raw);
    }
    if (LanClient* client = host->FindClient(id)) {
        bcx::ProgramClock::Advance(static_cast<uint32_t>(input[0] >> 1) * 100u);
        host->PumpClient(client);
    }
    Drain(raw);
    host.reset();
    CloseAbortive(raw);
    RunIdle();
    return 0;
}
