// Counting sockets and the queued send path over real loopback connections.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <wx/event.h>
#include <wx/socket.h>

#include "core/CountingSocket.h"
#include "support/CountingSocketFixture.h"
#include "support/Loopback.h"
#include "support/Pump.h"
#include "support/WxLoopback.h"

namespace {

using bcxtest::LoopbackConnection;
using bcxtest::LoopbackListener;
using bcxtest::PumpUntil;

std::string Pattern(size_t n, size_t offset)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = char(((offset + i) * 7 + (offset + i) / 251) & 0xFF);
    return s;
}

// Sends 64 KiB chunks of the pattern (from offset sent on) until the socket stops taking them (something
// is queued); the pattern's length sent then.
template <class Socket>
size_t FillUntilQueued(Socket* socket, size_t sent = 0)
{
    for (int i = 0; i < 2000 && socket->QueuedBytes() == 0; ++i) {
        const std::string chunk = Pattern(65536, sent);
        EXPECT_TRUE(socket->Send(chunk.data(), uint32_t(chunk.size())));
        sent += chunk.size();
    }
    return sent;
}

class CountingSocketTest : public bcxtest::ConnectedCountingSocketTest {
protected:
    size_t FillUntilQueued() { return ::FillUntilQueued(mSocket); }
};

TEST_F(CountingSocketTest, TotalsCountBothDirections)
{
    EXPECT_EQ(mSocket->BytesWritten(), 0u);
    EXPECT_EQ(mSocket->BytesRead(), 0u);
    const uint8_t word[4] = {0x00, 0x03, 0x00, 0x01};
    mSocket->Write(word, 4);
    ASSERT_TRUE(mSocket->Send("hello", 5));
    std::string got;
    ASSERT_TRUE(mPeer->ReadExact(got, 9));
    EXPECT_EQ(got, std::string("\x00\x03\x00\x01hello", 9));
    EXPECT_EQ(mSocket->BytesWritten(), 9u);

    ASSERT_TRUE(mPeer->WriteAll("abcdef"));
    char in[16];
    ASSERT_TRUE(PumpUntil([&] {
        mSocket->Read(in, 16);
        return mSocket->BytesRead() >= 6;
    }));
    EXPECT_EQ(mSocket->BytesRead(), 6u);
}

TEST_F(CountingSocketTest, QueueDrainsInOrderWhenPeerReads)
{
    size_t total = FillUntilQueued();
    ASSERT_GT(mSocket->QueuedBytes(), 0u);
    // Once something is queued, later sends go behind it even if the socket could take a little (the
    // kernel may grow the loopback buffer meanwhile, so how much stays queued varies; the order below
    // and the byte count do not).
    for (int i = 0; i < 3; ++i) {
        const std::string chunk = Pattern(10000, total);
        ASSERT_TRUE(mSocket->Send(chunk.data(), uint32_t(chunk.size())));
        total += chunk.size();
    }
    EXPECT_EQ(mSocket->QueuedBytes() + mSocket->BytesWritten(), total);

    std::string received;
    for (int i = 0; i < 20000 && received.size() < total; ++i) {
        mSocket->FlushQueue();
        received += mPeer->ReadSome(1 << 20, 20);
    }
    ASSERT_EQ(received.size(), total);
    EXPECT_TRUE(received == Pattern(total, 0));
    EXPECT_EQ(mSocket->QueuedBytes(), 0u);
    EXPECT_EQ(mSocket->BytesWritten(), total);
    EXPECT_FALSE(mSocket->SendFailed());
}

// The owners' way: flush on the toolkit's OUTPUT events.
template <class Socket>
class FlushOnOutput : public wxEvtHandler {
public:
    explicit FlushOnOutput(Socket* socket) : mSocket(socket)
    {
        Bind(wxEVT_SOCKET, &FlushOnOutput::OnSocket, this);
    }
    int outputEvents = 0;

private:
    void OnSocket(wxSocketEvent& event)
    {
        if (event.GetSocketEvent() == wxSOCKET_OUTPUT) {
            ++outputEvents;
            mSocket->FlushQueue();
        }
    }
    Socket* mSocket;
};

// The socket's OUTPUT events go to the handler from here on.
template <class Socket>
void NotifyOutput(Socket* socket, FlushOnOutput<Socket>& handler)
{
    socket->SetEventHandler(handler, 1000);
    socket->SetNotify(wxSOCKET_OUTPUT_FLAG | wxSOCKET_LOST_FLAG);
    socket->Notify(true);
}

// With something queued: the loop runs (OUTPUT events flush) while the peer reads, until the pattern's
// first total bytes have arrived in order and nothing is queued.
template <class Socket>
void ExpectQueueDrainedByOutputEvents(Socket* socket, const FlushOnOutput<Socket>& handler,
                                      LoopbackConnection& peer, size_t total)
{
    ASSERT_GT(socket->QueuedBytes(), 0u);
    std::string received;
    for (int i = 0; i < 20000 && received.size() < total; ++i) {
        bcxtest::PumpOnce();
        received += peer.ReadSome(1 << 20, 5);
    }
    ASSERT_EQ(received.size(), total);
    EXPECT_TRUE(received == Pattern(total, 0));
    EXPECT_GT(handler.outputEvents, 0);
    EXPECT_EQ(socket->QueuedBytes(), 0u);
    EXPECT_EQ(socket->BytesWritten(), total);
    socket->Notify(false);
}

TEST_F(CountingSocketTest, OutputEventsDrainTheQueue)
{
    FlushOnOutput<CountingSocket> handler(mSocket);
    NotifyOutput(mSocket, handler);
    ExpectQueueDrainedByOutputEvents(mSocket, handler, *mPeer, FillUntilQueued());
}

TEST_F(CountingSocketTest, BacklogBoundRefusesAndCutsTheStream)
{
    mSocket->SetMaxQueuedBytes(100000);
    EXPECT_EQ(mSocket->MaxQueuedBytes(), 100000u);
    const std::string chunk = Pattern(30000, 0);
    bool refused = false;
    for (int i = 0; i < 5000 && !refused; ++i)
        refused = !mSocket->Send(chunk.data(), uint32_t(chunk.size()));
    ASSERT_TRUE(refused);
    EXPECT_LE(mSocket->QueuedBytes(), 100000u);
    EXPECT_TRUE(mSocket->SendFailed());
    // Nothing more goes out on a cut stream, not even a small message.
    const size_t queued = mSocket->QueuedBytes();
    EXPECT_FALSE(mSocket->Send("x", 1));
    EXPECT_EQ(mSocket->QueuedBytes(), queued);
}

TEST(CountingSocketNoConnection, SendOnUnconnectedSocketsFails)
{
    CountingSocket* client = new CountingSocket();
    EXPECT_FALSE(client->Send("abc", 3));
    EXPECT_EQ(client->QueuedBytes(), 0u);
    EXPECT_EQ(client->BytesWritten(), 0u);
    client->FlushQueue();
    client->Destroy();

    CountingPeerSocket* peer = new CountingPeerSocket();
    EXPECT_FALSE(peer->Send("abc", 3));
    EXPECT_EQ(peer->QueuedBytes(), 0u);
    peer->Destroy();

    // A client whose connect failed.
    const uint16_t port = bcxtest::FreeTcpPort();
    CountingSocket* refused = new CountingSocket();
    wxIPV4address addr = bcxtest::LoopbackWxAddress(port);
    refused->Connect(addr, false);
    bcxtest::PumpFor(30);
    EXPECT_FALSE(refused->Send("abc", 3));
    refused->Destroy();
    bcxtest::PumpOnce();
}

using CountingPeerSocketTest = bcxtest::AcceptedPeerSocketTest;

TEST_F(CountingPeerSocketTest, AcceptCountingSendsToRawClient)
{
    EXPECT_EQ(mSocket->GetFlags(), wxSOCKET_NOWAIT);
    EXPECT_TRUE(mSocket->Send("\xF7\x2F\x04\x00", 4));
    std::string got;
    ASSERT_TRUE(mClient->ReadExact(got, 4));
    EXPECT_EQ(got, std::string("\xF7\x2F\x04\x00", 4));
    EXPECT_EQ(mSocket->BytesWritten(), 4u);
    EXPECT_EQ(mServer->AcceptCounting(), nullptr);
}

// A LAN peer socket hands the sends that the socket takes whole straight to the system; once bytes stay
// queued, the OUTPUT events must still come and drain them.
TEST_F(CountingPeerSocketTest, QueueDrainsOnOutputEventsAfterWholeSends)
{
    FlushOnOutput<CountingPeerSocket> handler(mSocket);
    NotifyOutput(mSocket, handler);
    size_t sent = 0;
    for (int i = 0; i < 50; ++i) {
        const std::string small = Pattern(40, sent);
        ASSERT_TRUE(mSocket->Send(small.data(), uint32_t(small.size())));
        sent += small.size();
        bcxtest::PumpOnce();
    }
    EXPECT_EQ(mSocket->BytesWritten(), sent);
    ExpectQueueDrainedByOutputEvents(mSocket, handler, *mClient, FillUntilQueued(mSocket, sent));
}

TEST(CountingServerSocketTest, InvalidListenerAcceptsNothing)
{
    LoopbackListener taken;
    ASSERT_TRUE(taken.Listen());
    wxIPV4address addr = bcxtest::LoopbackWxAddress(taken.Port());
    CountingServerSocket* server = new CountingServerSocket(addr);
    EXPECT_FALSE(server->IsOk());
    EXPECT_EQ(server->AcceptCounting(), nullptr);
    server->Destroy();
    bcxtest::PumpOnce();
}

} // namespace
