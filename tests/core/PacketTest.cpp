// Packet buffers and their framings, without sockets.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Packet.h"

namespace {

std::vector<uint8_t> Bytes(const PacketBuffer& p)
{
    return std::vector<uint8_t>(p.Data(), p.Data() + p.Size());
}

TEST(PacketTest, RelayHeaderBodyAndLength)
{
    bcxPacket p;
    p.WriteHeader(0x20);
    EXPECT_EQ(Bytes(p), (std::vector<uint8_t>{0xEF, 0xBE, 0x20, 0xAD, 0xDE}));
    p.WriteU32(0x04030201);
    p.UpdateLength();
    EXPECT_EQ(Bytes(p), (std::vector<uint8_t>{0xEF, 0xBE, 0x20, 0x09, 0x00, 0x01, 0x02, 0x03, 0x04}));
    EXPECT_TRUE(p.IsValid());
    EXPECT_EQ(p.GetLength(), 9u);
    EXPECT_EQ(p.GetId(), 0x20u);
    EXPECT_EQ(p.GetHeaderSize(), 5u);
    EXPECT_EQ(p.GetClassName(), wxS("bcxPacket"));
}

TEST(PacketTest, LanHeaderWithoutBody)
{
    warPacket p;
    p.WriteHeader(0x2F);
    EXPECT_EQ(Bytes(p), (std::vector<uint8_t>{0xF7, 0x2F, 0x00, 0x00}));
    p.UpdateLength();
    EXPECT_EQ(Bytes(p), (std::vector<uint8_t>{0xF7, 0x2F, 0x04, 0x00}));
    EXPECT_EQ(p.GetLength(), 4u);
    EXPECT_EQ(p.GetId(), 0x2Fu);
    EXPECT_EQ(p.GetHeaderSize(), 4u);
    EXPECT_EQ(p.GetClassName(), wxS("warPacket"));
}

TEST(PacketTest, LanFirstByteAcceptance)
{
    const uint8_t ff[] = {0xFF, 0x01, 0x04, 0x00};
    const uint8_t f8[] = {0xF8, 0x01, 0x04, 0x00};
    warPacket a, b;
    a.Write(ff, sizeof ff);
    b.Write(f8, sizeof f8);
    EXPECT_TRUE(a.IsValid());
    EXPECT_FALSE(b.IsValid());
}

TEST(PacketTest, UpdateLengthNeedsWholeHeaderAndHeaderlessBufferHasNone)
{
    bcxPacket p;
    p.UpdateLength();  // no storage at all
    EXPECT_EQ(p.Data(), nullptr);
    const uint8_t four[] = {0xEF, 0xBE, 0x01, 0xAA};
    p.Write(four, sizeof four);
    p.UpdateLength();
    EXPECT_EQ(Bytes(p), (std::vector<uint8_t>{0xEF, 0xBE, 0x01, 0xAA}));
    // Too short to hold the fields: nothing is read beyond the held bytes.
    EXPECT_EQ(p.GetLength(), 0u);
    EXPECT_EQ(p.GetId(), 1u);

    filePacket f;
    f.WriteHeader(7);
    f.WriteMagic();
    f.WriteLengthPlaceholder();
    EXPECT_EQ(f.Size(), 0u);
    f.WriteString("ab");
    f.UpdateLength();
    EXPECT_EQ(Bytes(f), (std::vector<uint8_t>{'a', 'b', 0}));
    EXPECT_TRUE(f.IsValid());
    EXPECT_EQ(f.GetHeaderSize(), 0u);
    EXPECT_EQ(f.GetLength(), 0u);
    EXPECT_EQ(f.GetClassName(), wxS("filePacket"));
}

TEST(PacketTest, ReserveGrowth)
{
    filePacket a;
    EXPECT_EQ(a.GrowStep(), 256u);
    ASSERT_TRUE(a.Reserve(10));
    EXPECT_EQ(a.Capacity(), 256u);
    filePacket b;
    ASSERT_TRUE(b.Reserve(1000));
    EXPECT_EQ(b.Capacity(), 1000u);

    // Grows already when size + n reaches the capacity, by one step unless one write needs more.
    std::string fill(255, 'x');
    a.Write(fill.data(), 255);
    EXPECT_EQ(a.Capacity(), 256u);
    a.WriteU8(1);
    EXPECT_EQ(a.Capacity(), 512u);
    std::string big(2000, 'y');
    a.Write(big.data(), 2000);
    EXPECT_EQ(a.Capacity(), 512u + 2000u);
    EXPECT_EQ(a.Size(), 2256u);

    filePacket rec;
    rec.SetGrowStep(0x10000);
    rec.WriteU8(1);
    EXPECT_EQ(rec.Capacity(), 0x10000u);
}

TEST(PacketTest, LittleEndianRoundTripAndStrings)
{
    filePacket p;
    p.WriteU8(0x12);
    p.WriteU16(0x3456);
    p.WriteU32(0x789ABCDE);
    p.WriteString("name");
    p.WriteString("");
    EXPECT_EQ(Bytes(p), (std::vector<uint8_t>{0x12, 0x56, 0x34, 0xDE, 0xBC, 0x9A, 0x78, 'n', 'a', 'm', 'e', 0, 0}));
    p.SetCursor(0);
    EXPECT_EQ(p.ReadU8(), 0x12);
    EXPECT_EQ(p.ReadU16(), 0x3456);
    EXPECT_EQ(p.ReadU32(), 0x789ABCDEu);
    std::string s = "old";
    p.ReadString(s);
    EXPECT_EQ(s, "name");
    p.ReadString(s);
    EXPECT_EQ(s, "");
    EXPECT_EQ(p.Remaining(), 0u);
    EXPECT_FALSE(p.ReadError());
}

TEST(PacketTest, ShortReadsFillAndFlag)
{
    filePacket p;
    const uint8_t three[] = {1, 2, 3};
    p.Write(three, 3);
    p.SetCursor(0);
    EXPECT_EQ(p.ReadU32(), 0xADADADADu);
    EXPECT_TRUE(p.ReadError());
    EXPECT_EQ(p.Cursor(), 0u);
    EXPECT_EQ(p.ReadU8(), 1);
    EXPECT_FALSE(p.ReadError());
    EXPECT_EQ(p.Cursor(), 1u);

    // A failed read fills exactly the requested bytes, never more.
    uint8_t dst[8];
    std::fill(dst, dst + 8, 0x11);
    p.Read(dst, 5);
    EXPECT_TRUE(p.ReadError());
    EXPECT_EQ(std::vector<uint8_t>(dst, dst + 8),
              (std::vector<uint8_t>{0xAD, 0xAD, 0xAD, 0xAD, 0xAD, 0x11, 0x11, 0x11}));

    filePacket empty;
    EXPECT_EQ(empty.ReadU8(), 0xAD);
    EXPECT_EQ(empty.ReadU16(), 0xADAD);
    EXPECT_TRUE(empty.ReadError());
}

TEST(PacketTest, StringWithoutTerminatorIsNotRead)
{
    filePacket p;
    p.Write("abc", 3);
    p.SetCursor(0);
    std::string s = "kept";
    p.ReadString(s);
    EXPECT_EQ(s, "kept");
    EXPECT_EQ(p.Cursor(), 0u);
    EXPECT_FALSE(p.ReadError());

    p.SetCursor(3);  // at the end
    p.ReadString(s);
    EXPECT_EQ(s, "kept");
    filePacket none;
    none.ReadString(s);
    EXPECT_EQ(s, "kept");
}

TEST(PacketTest, OverwriteInsideAndCursorClamp)
{
    bcxPacket p;
    p.WriteHeader(1);
    p.WriteU32(0);
    p.SetCursor(5);
    p.WriteU16(0xBBAA);  // inside the held bytes: size stays
    EXPECT_EQ(p.Size(), 9u);
    EXPECT_EQ(p.Cursor(), 7u);
    p.SetCursor(100);
    EXPECT_EQ(p.Cursor(), 9u);
    p.Write(nullptr, 4);
    EXPECT_EQ(p.Size(), 9u);
}

TEST(PacketTest, ClearKeepsStepAndFlagCopyIsDeep)
{
    bcxPacket p;
    p.SetGrowStep(1024);
    p.WriteHeader(3);
    p.ReadU32();  // past the end
    ASSERT_TRUE(p.ReadError());
    bcxPacket copy(p);
    p.Clear();
    EXPECT_EQ(p.Data(), nullptr);
    EXPECT_EQ(p.Size(), 0u);
    EXPECT_EQ(p.Capacity(), 0u);
    EXPECT_EQ(p.Cursor(), 0u);
    EXPECT_EQ(p.GrowStep(), 1024u);
    EXPECT_TRUE(p.ReadError());
    EXPECT_EQ(copy.Size(), 5u);
    EXPECT_EQ(copy.GetId(), 3u);
    p.WriteU8(9);
    EXPECT_EQ(p.Capacity(), 1024u);
}

TEST(PacketTest, FrameOfMaximumLength)
{
    bcxPacket p;
    p.WriteHeader(0x30);
    std::string body(65535 - 5, 'z');
    p.Write(body.data(), uint32_t(body.size()));
    p.UpdateLength();
    EXPECT_EQ(p.GetLength(), 65535u);
}

} // namespace
