// The incremental frame readers over real loopback connections: the toolkit sockets under test on one
// side, raw POSIX sockets on the other.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <wx/socket.h>

#include "core/CountingSocket.h"
#include "core/Packet.h"
#include "support/CountingSocketFixture.h"
#include "support/LogCapture.h"
#include "support/Loopback.h"
#include "support/Pump.h"
#include "support/WxLoopback.h"

namespace {

using bcxtest::LoopbackConnection;
using bcxtest::PumpUntil;

std::string RelayFrame(uint8_t id, const std::string& body)
{
    const size_t len = 5 + body.size();
    std::string f = {char(0xEF), char(0xBE), char(id), char(len & 0xFF), char(len >> 8)};
    return f + body;
}

std::string LanFrame(uint8_t id, const std::string& body)
{
    const size_t len = 4 + body.size();
    std::string f = {char(0xF7), char(id), char(len & 0xFF), char(len >> 8)};
    return f + body;
}

std::string Pattern(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = char((i * 131 + seed) & 0xFF);
    return s;
}

std::string Held(const PacketBuffer& p)
{
    return std::string(reinterpret_cast<const char*>(p.Data()), p.Size());
}

// Calls the reader on every pump pass until it reports something other than Incomplete, or until the
// buffer holds `size` bytes (while still incomplete).
template <class Reader>
ReadResult PumpRead(Reader read, const PacketBuffer& p, uint32_t size)
{
    ReadResult r = ReadResult::Incomplete;
    PumpUntil([&] {
        r = read();
        return r != ReadResult::Incomplete || p.Size() >= size;
    });
    return r;
}

// A CountingSocket connected to a raw listener.
class RelayReaderTest : public bcxtest::ConnectedCountingSocketTest {
protected:
    ReadResult ReadUntil(PacketBuffer& p, uint32_t size = 0xFFFFFFFF)
    {
        return PumpRead([&] { return ReadPacketFromSocket(p, *mSocket); }, p, size);
    }
};

TEST_F(RelayReaderTest, FrameInThreePieces)
{
    const std::string frame = RelayFrame(0x12, Pattern(40, 1));
    bcxPacket p;
    EXPECT_EQ(ReadPacketFromSocket(p, *mSocket), ReadResult::Incomplete);

    ASSERT_TRUE(mPeer->WriteAll(frame.substr(0, 2)));
    EXPECT_EQ(ReadUntil(p, 2), ReadResult::Incomplete);
    EXPECT_EQ(p.Size(), 2u);

    ASSERT_TRUE(mPeer->WriteAll(frame.substr(2, 10)));
    EXPECT_EQ(ReadUntil(p, 12), ReadResult::Incomplete);
    EXPECT_EQ(p.Size(), 12u);

    ASSERT_TRUE(mPeer->WriteAll(frame.substr(12)));
    ASSERT_EQ(ReadUntil(p), ReadResult::Complete);
    EXPECT_EQ(Held(p), frame);
    EXPECT_EQ(p.Cursor(), 5u);
    EXPECT_EQ(p.GetId(), 0x12u);
    EXPECT_EQ(mSocket->BytesRead(), frame.size());
}

TEST_F(RelayReaderTest, CoalescedFramesAreReadOneByOne)
{
    const std::string first = RelayFrame(0x01, Pattern(7, 2));
    const std::string second = RelayFrame(0x02, "");
    const std::string third = RelayFrame(0x03, Pattern(300, 3));
    ASSERT_TRUE(mPeer->WriteAll(first + second + third));

    bcxPacket p;
    ASSERT_EQ(ReadUntil(p), ReadResult::Complete);
    EXPECT_EQ(Held(p), first);
    EXPECT_EQ(p.Cursor(), 5u);
    EXPECT_EQ(p.ReadU8(), uint8_t(Pattern(7, 2)[0]));
    p.Clear();
    // The rest is already waiting: the next calls complete without another input event.
    ASSERT_EQ(ReadPacketFromSocket(p, *mSocket), ReadResult::Complete);
    EXPECT_EQ(Held(p), second);
    EXPECT_EQ(p.Remaining(), 0u);
    p.Clear();
    ASSERT_EQ(ReadPacketFromSocket(p, *mSocket), ReadResult::Complete);
    EXPECT_EQ(Held(p), third);
    p.Clear();
    EXPECT_EQ(ReadPacketFromSocket(p, *mSocket), ReadResult::Incomplete);
    EXPECT_EQ(p.Size(), 0u);
    EXPECT_EQ(mSocket->BytesRead(), first.size() + second.size() + third.size());
}

TEST_F(RelayReaderTest, LargestFrame)
{
    const std::string frame = RelayFrame(0x40, Pattern(65535 - 5, 4));
    ASSERT_EQ(frame.size(), 65535u);
    bcxPacket p;
    ReadResult r = ReadResult::Incomplete;
    for (size_t at = 0; at < frame.size(); at += 8192) {
        ASSERT_TRUE(mPeer->WriteAll(frame.substr(at, 8192)));
        r = ReadUntil(p, uint32_t(std::min(frame.size(), at + 8192)));
        if (at + 8192 < frame.size()) {
            ASSERT_EQ(r, ReadResult::Incomplete);
        }
    }
    ASSERT_EQ(r, ReadResult::Complete);
    EXPECT_EQ(Held(p), frame);
    EXPECT_EQ(p.GetLength(), 65535u);
}

TEST_F(RelayReaderTest, LengthBelowHeaderIsBroken)
{
    bcxtest::LogCapture log;
    // Length 3, then bytes that must stay unread.
    std::string bad = {char(0xEF), char(0xBE), char(0x07), char(0x03), char(0x00)};
    ASSERT_TRUE(mPeer->WriteAll(bad + Pattern(20, 5)));
    bcxPacket p;
    ASSERT_EQ(ReadUntil(p), ReadResult::Broken);
    EXPECT_EQ(p.Size(), 5u);
    EXPECT_EQ(log.Count("Broken header received!"), 1u);
    EXPECT_EQ(log.Count("Info: bcxPacket 0x0003 0x07 0x0005 "), 1u);
    // A dead end: broken again, not logged again, nothing more read.
    EXPECT_EQ(ReadPacketFromSocket(p, *mSocket), ReadResult::Broken);
    EXPECT_EQ(log.Count("Broken header received!"), 1u);
    EXPECT_EQ(p.Size(), 5u);
    EXPECT_EQ(mSocket->BytesRead(), 5u);
}

TEST_F(RelayReaderTest, ZeroLengthIsBroken)
{
    bcxtest::LogCapture log;
    std::string bad = {char(0xEF), char(0xBE), char(0x09), char(0x00), char(0x00)};
    ASSERT_TRUE(mPeer->WriteAll(bad));
    bcxPacket p;
    ASSERT_EQ(ReadUntil(p), ReadResult::Broken);
    EXPECT_EQ(log.Count("Info: bcxPacket 0x0000 0x09 0x0005 "), 1u);
}

TEST_F(RelayReaderTest, BadMagicIsBrokenAndLogged)
{
    bcxtest::LogCapture log;
    ASSERT_TRUE(mPeer->WriteAll(std::string{char(0xAB), char(0xCD), char(0x05), char(0x09), char(0x00)}));
    bcxPacket p;
    ASSERT_EQ(ReadUntil(p), ReadResult::Broken);
    EXPECT_TRUE(log.Contains("Broken header received!"));
    EXPECT_EQ(log.Count("Info: bcxPacket 0x0009 0x05 0x0005 "), 1u);
}

TEST_F(RelayReaderTest, PeerClosingMidFrameIsIncomplete)
{
    const std::string frame = RelayFrame(0x12, Pattern(40, 6));
    ASSERT_TRUE(mPeer->WriteAll(frame.substr(0, 20)));
    mPeer->Close();
    bcxPacket p;
    EXPECT_EQ(ReadUntil(p, 20), ReadResult::Incomplete);
    EXPECT_EQ(p.Size(), 20u);
    bcxtest::PumpFor(20);
    EXPECT_EQ(ReadPacketFromSocket(p, *mSocket), ReadResult::Incomplete);
    EXPECT_EQ(p.Size(), 20u);
}

TEST_F(RelayReaderTest, ConnectionResetIsBroken)
{
    const std::string frame = RelayFrame(0x12, Pattern(40, 6));
    ASSERT_TRUE(mPeer->WriteAll(frame.substr(0, 3)));
    bcxPacket p;
    EXPECT_EQ(ReadUntil(p, 3), ReadResult::Incomplete);
    mPeer->Reset();
    EXPECT_EQ(ReadUntil(p), ReadResult::Broken);
    EXPECT_EQ(p.Size(), 3u);
}

class LanReaderTest : public bcxtest::AcceptedPeerSocketTest {
protected:
    ReadResult ReadUntil(PacketBuffer& p, uint32_t size = 0xFFFFFFFF)
    {
        return PumpRead([&] { return ReadLanPacket(p, *mSocket); }, p, size);
    }
};

TEST_F(LanReaderTest, SplitAndCoalescedFrames)
{
    const std::string a = LanFrame(0x1E, Pattern(30, 7));
    const std::string b = LanFrame(0x28, Pattern(3, 8));
    std::string b2 = b;
    b2[0] = char(0xFF);  // the other accepted first byte
    warPacket p;
    ASSERT_TRUE(mClient->WriteAll(a.substr(0, 2)));
    EXPECT_EQ(ReadUntil(p, 2), ReadResult::Incomplete);
    ASSERT_TRUE(mClient->WriteAll(a.substr(2, 10)));
    EXPECT_EQ(ReadUntil(p, 12), ReadResult::Incomplete);
    ASSERT_TRUE(mClient->WriteAll(a.substr(12) + b + b2));
    ASSERT_EQ(ReadUntil(p), ReadResult::Complete);
    EXPECT_EQ(Held(p), a);
    EXPECT_EQ(p.Cursor(), 4u);
    p.Clear();
    ASSERT_EQ(ReadLanPacket(p, *mSocket), ReadResult::Complete);
    EXPECT_EQ(Held(p), b);
    p.Clear();
    ASSERT_EQ(ReadLanPacket(p, *mSocket), ReadResult::Complete);
    EXPECT_EQ(Held(p), b2);
    p.Clear();
    EXPECT_EQ(ReadLanPacket(p, *mSocket), ReadResult::Incomplete);
    EXPECT_EQ(mSocket->BytesRead(), a.size() + b.size() + b2.size());
}

// The peer socket reads in chunks: the largest frame spans many of them, the frame behind it arrives in
// the same chunk as its end, and a frame sent after a read found the socket drained is read once asked.
TEST_F(LanReaderTest, LargestFrameThenCoalescedAndLaterFrames)
{
    const std::string big = LanFrame(0x0C, Pattern(65535 - 4, 9));
    ASSERT_EQ(big.size(), 65535u);
    const std::string small = LanFrame(0x27, Pattern(4, 10));
    const std::string later = LanFrame(0x27, Pattern(4, 11));
    warPacket p;
    ASSERT_TRUE(mClient->WriteAll(big + small));
    ASSERT_EQ(ReadUntil(p), ReadResult::Complete);
    EXPECT_EQ(Held(p), big);
    p.Clear();
    ASSERT_EQ(ReadUntil(p), ReadResult::Complete);
    EXPECT_EQ(Held(p), small);
    p.Clear();
    ASSERT_TRUE(mClient->WriteAll(later));
    ASSERT_EQ(ReadUntil(p), ReadResult::Complete);
    EXPECT_EQ(Held(p), later);
    EXPECT_EQ(mSocket->BytesRead(), big.size() + small.size() + later.size());
}

TEST_F(LanReaderTest, BrokenFirstByteAndShortLength)
{
    bcxtest::LogCapture log;
    ASSERT_TRUE(mClient->WriteAll(std::string{char(0xF8), char(0x1E), char(0x08), char(0x00)}));
    warPacket p;
    ASSERT_EQ(ReadUntil(p), ReadResult::Broken);
    EXPECT_EQ(log.Count("Broken header received!"), 1u);
    EXPECT_EQ(log.Count("Info: warPacket 0x0008 0x1E 0x0004 "), 1u);
    EXPECT_EQ(ReadLanPacket(p, *mSocket), ReadResult::Broken);
    EXPECT_EQ(log.Count("Broken header received!"), 1u);

    // Length 2, below the 4-byte header.
    p.Clear();
    ASSERT_TRUE(mClient->WriteAll(std::string{char(0xF7), char(0x1E), char(0x02), char(0x00), 'x', 'y'}));
    ASSERT_EQ(ReadUntil(p), ReadResult::Broken);
    EXPECT_EQ(p.Size(), 4u);
    EXPECT_EQ(log.Count("Info: warPacket 0x0002 0x1E 0x0004 "), 1u);
}

TEST_F(LanReaderTest, HeaderOnlyFrameAndHeaderlessBuffer)
{
    ASSERT_TRUE(mClient->WriteAll(LanFrame(0x2F, "")));
    filePacket none;
    EXPECT_EQ(ReadLanPacket(none, *mSocket), ReadResult::Broken);
    EXPECT_EQ(none.Size(), 0u);
    warPacket p;
    ASSERT_EQ(ReadUntil(p), ReadResult::Complete);
    EXPECT_EQ(p.Size(), 4u);
    EXPECT_EQ(p.Cursor(), 4u);
    EXPECT_EQ(p.GetId(), 0x2Fu);
}

} // namespace
