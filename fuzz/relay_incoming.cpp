// Feeds arbitrary bytes to the client as a relay server would send them after a logon: a loopback relay
// of our own answers the protocol word, the version and the logon, starts one game, then sends the input
// and closes. The
// client reads it through its frame reader and hands every frame to its message handlers; the run ends
// when the client has dropped the connection (at the latest when it sees the close).

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/socket.h>

#include "core/ClientCore.h"
#include "platform/ProgramClock.h"

namespace {

// Formats every line (the handlers' formatting runs) and keeps none.
class DiscardLog : public wxLog {
protected:
    void DoLogRecord(wxLogLevel, const wxString&, const wxLogRecordInfo&) override {}
};

std::string U32(uint32_t v)
{
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

std::string Frame(uint8_t id, const std::string& body)
{
    const uint32_t length = uint32_t(body.size() + 5);
    return std::string{'\xEF', '\xBE', char(id), char(length), char(length >> 8)} + body;
}

// The game the relay announces before the input, with its information, details (all fields zero, so
// its seed is 0) and the start that gives it data: the input's data blocks and finish have a game to reach.
constexpr uint32_t kGameId = 0x100;
constexpr size_t kInfoFieldBytes = 54;     // seven list fields and the game-information record, all empty
constexpr size_t kDetailsBytes = 668;      // the details record with every field zero

// What the relay sends before the input: the protocol word, its version, a positive logon answer and
// one started game.
std::string LogonPreamble()
{
    std::string logon = std::string("\x01", 1) + std::string("Fuzz Relay\0", 11) + U32(0x01000500) +
                        std::string("Title\0MotD\0irc.local\0", 21) + std::string("\x0B\x1A", 2) +
                        std::string("#bcx\0http://localhost/\0", 23);
    std::string list = U32(0) + U32(0) + U32(1) + U32(kGameId) + std::string("\x03", 1) + U32(0) + std::string("g\0", 2);
    return std::string("\x00\x03\x00\x01", 4) + Frame(0x00, U32(0x01000500)) + Frame(0x01, logon) +
           Frame(0x20, list) + Frame(0x21, U32(kGameId) + std::string(kInfoFieldBytes, '\0')) +
           Frame(0x24, U32(kGameId) + std::string(kDetailsBytes, '\0')) +
           Frame(0x25, U32(kGameId) + U32(0) + U32(0) + U32(0));
}

struct Harness {
    wxEventLoop* loop = nullptr;
    ClientCore* core = nullptr;
    int listener = -1;
    uint16_t port = 0;
};

Harness& Setup()
{
    static Harness h;
    if (h.core)
        return h;
    char dir[] = "/tmp/bcx-fuzz-relay-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0)
        std::abort();
    std::ofstream("bcxClient.ini") << "[Net]\nDatagramPort=0\nSessionPort=0\n[Misc]\nPassword=fuzz\n";

    static int argc = 1;
    static char name[] = "fuzz_relay_incoming";
    static char* argv[] = {name, nullptr};
    if (!wxInitialize(argc, argv))
        std::abort();
    wxSocketBase::Initialize();
    wxLog::SetActiveTarget(new DiscardLog);
    h.loop = new wxEventLoop;
    wxEventLoopBase::SetActive(h.loop);
    bcx::ProgramClock::SetManual(true);
    bcx::ProgramClock::Set(1000);

    h.listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (h.listener < 0 || bind(h.listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(h.listener, 4) != 0 || getsockname(h.listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        std::abort();
    h.port = ntohs(addr.sin_port);

    h.core = ClientCore::Get(false);
    h.core->Settings().mUserName = "fuzzer";
    // The run ends every connection; the client must not come back on its own.
    h.core->SetReconnectDelayForTesting(1000000u);
    return h;
}

void PumpOnce(wxEventLoop* loop)
{
    loop->DispatchTimeout(1);
    for (int i = 0; i < 100 && loop->Pending(); ++i)
        loop->Dispatch();
    wxTheApp->ProcessPendingEvents();
    loop->ProcessIdle();
}

} // namespace

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

// Mutates as usual, then, for three inputs in four, mends the framing: back-to-back frames with the
// magic, a known message id and a length that ends inside the input, so that the mutations reach the
// handlers rather than only the frame reader.
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed)
{
    static const uint8_t kIds[] = {0x00, 0x01, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0xF2, 0xF3};
    size = LLVMFuzzerMutate(data, size, maxSize);
    if (seed % 4 == 0)
        return size;
    size_t pos = 0;
    while (size - pos >= 5) {
        data[pos] = 0xEF;
        data[pos + 1] = 0xBE;
        data[pos + 2] = kIds[data[pos + 2] % sizeof kIds];
        size_t length = data[pos + 3] | (data[pos + 4] << 8);
        if (length < 5 || length > size - pos)
            length = std::min<size_t>(size - pos, 0xFFFF);
        data[pos + 3] = uint8_t(length);
        data[pos + 4] = uint8_t(length >> 8);
        pos += length;
    }
    return size;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Harness& h = Setup();
    if (h.core->GetRelayState() != RelayDisconnected) {
        std::fprintf(stderr, "the client is still connected (state %d)\n", int(h.core->GetRelayState()));
        std::abort();
    }

    wxIPV4address address;
    address.Hostname(wxS("127.0.0.1"));
    address.Service(h.port);
    h.core->Connect(address, wxS("127.0.0.1"));

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int peer = -1;
    while (peer < 0) {
        pollfd p = {h.listener, POLLIN, 0};
        if (poll(&p, 1, 1) > 0)
            peer = accept(h.listener, nullptr, nullptr);
        PumpOnce(h.loop);
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "the client did not connect\n");
            std::abort();
        }
    }
    fcntl(peer, F_SETFL, fcntl(peer, F_GETFL) | O_NONBLOCK);

    const std::string out = LogonPreamble() + std::string(reinterpret_cast<const char*>(data), size);
    size_t sent = 0;
    bool closed = false;
    char sink[65536];
    while (h.core->GetRelayState() != RelayDisconnected) {
        if (sent < out.size()) {
            const ssize_t n = send(peer, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
            if (n > 0)
                sent += size_t(n);
        } else if (!closed) {
            shutdown(peer, SHUT_WR);
            closed = true;
        }
        // The client's requests and acknowledgements are read and dropped.
        while (recv(peer, sink, sizeof sink, 0) > 0) {
        }
        PumpOnce(h.loop);
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "the client kept the connection after the relay closed it\n");
            std::abort();
        }
    }
    close(peer);
    // What the dropped connection left queued (deferred socket destruction, posted notifications).
    for (int i = 0; i < 3; ++i)
        PumpOnce(h.loop);
    return 0;
}
