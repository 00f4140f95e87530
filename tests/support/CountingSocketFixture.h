#pragma once
// A test fixture with a CountingSocket connected over loopback to a raw POSIX listener: the toolkit
// socket under test on one side (mSocket), the raw connection the test drives on the other (mPeer).

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

} // namespace bcxtest
