// Feeds arbitrary bytes, as an IRC server sends them, to the IRC client of one viewer: cut into reads
// of a size taken from the input and handed to HandleReceived, or the whole rest given to HandleLine as one
// line (line ends and NULs included). Nothing is connected, so the client's answers go nowhere.
//
// Input: byte 0 bit 7 the whole rest is one line, bits 0-6 the read size (0: everything in one read);
// the rest the bytes.

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "lanhost/IrcClient.h"

using namespace fuzzsupport;

namespace {

// The viewer: attached to a game, with its Warcraft III socket; checks the lines printed into the game.
class Viewer : public IrcClientOwner {
public:
    void ForwardLineToGame(const std::string& gbkText) override
    {
        // A forwarded line comes from one received line, which fits the receive buffer, plus a few words.
        Check(gbkText.size() < IrcClient::kReceiveCapacity + 64);
    }
    bool HasGameSocket() const override { return true; }
    bool IsAttachedToGame() const override { return true; }
    uint32_t AttachedGameId() const override { return 0xF00D; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size < 1)
        return 0;
    Check(Core() != nullptr);
    Viewer viewer;
    IrcClient client(&viewer);
    client.SetEndpoint({"127.0.0.1", 6667, "#bcx"});
    client.HandleConnection();
    const char* bytes = reinterpret_cast<const char*>(input + 1);
    const size_t n = size - 1;
    if (input[0] & 0x80) {
        client.HandleLine(std::string(bytes, n));
        return 0;
    }
    const size_t chunk = (input[0] & 0x7F) == 0 ? n : (input[0] & 0x7F);
    for (size_t at = 0; at < n; at += chunk) {
        client.HandleReceived(bytes + at, n - at < chunk ? n - at : chunk);
        Check(client.BufferedLength() < IrcClient::kReceiveCapacity);
    }
    return 0;
}
