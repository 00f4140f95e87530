#pragma once
// Test fixtures over loopback: a CountingSocket connected to a raw POSIX listener, and a
// CountingPeerSocket accepted from a raw client. The toolkit socket under test is mSocket.

#include <memory>

#include <gtest/gtest.h>
#include <wx/socket.h>

#include "core/CountingSocket.h"
#include "support/Loopback.h"
#include "support/Pump.h"
#include "support/WxLoopback.h"

namespace bcxtest {

class ConnectedCountingSocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mListener.Listen());
        mSocket = new CountingSocket();
        wxIPV4address addr = bcxtest::LoopbackWxAddress(mListener.Port());
        mSocket->Connect(addr, false);
        mPeer = mListener.Accept();
        ASSERT_TRUE(mPeer);
        ASSERT_TRUE(PumpUntil([&] { return mSocket->IsConnected(); }));
    }

    void TearDown() override
    {
        if (mSocket)
            mSocket->Destroy();
        PumpOnce();
    }

    LoopbackListener mListener;
    std::unique_ptr<LoopbackConnection> mPeer;
    CountingSocket* mSocket = nullptr;
};

// A CountingPeerSocket (mSocket) accepted by the counting listener (mServer) from a raw client (mClient).
class AcceptedPeerSocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wxIPV4address addr = bcxtest::LoopbackWxAddress(0);
        mServer = new CountingServerSocket(addr);
        ASSERT_TRUE(mServer->IsOk());
        EXPECT_EQ(mServer->AcceptCounting(), nullptr);  // nothing pending: no wait, no socket
        wxIPV4address local;
        ASSERT_TRUE(mServer->GetLocal(local));
        mClient = LoopbackConnection::Connect(uint16_t(local.Service()));
        ASSERT_TRUE(mClient);
        ASSERT_TRUE(PumpUntil([&] { return (mSocket = mServer->AcceptCounting()) != nullptr; }));
        EXPECT_TRUE(mSocket->IsConnected());
    }

    void TearDown() override
    {
        if (mSocket)
            mSocket->Destroy();
        if (mServer)
            mServer->Destroy();
        PumpOnce();
    }

    CountingServerSocket* mServer = nullptr;
    CountingPeerSocket* mSocket = nullptr;
    std::unique_ptr<LoopbackConnection> mClient;
};

} // namespace bcxtest
