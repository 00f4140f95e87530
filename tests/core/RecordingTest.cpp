#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include <wx/filefn.h>

#include "core/Crc32.h"
#include "core/GameRecords.h"
#include "core/Packet.h"
#include "core/Recording.h"
#include "platform/TextCodec.h"
#include "support/Files.h"
#include "support/LogCapture.h"
#include "tests/core/RecordTestBytes.h"

namespace {

namespace fs = std::filesystem;
using bcxtest::ReadFile;
using rectest::Reader;

struct SampleEntry {
    uint32_t time;
    std::string payload;
};

std::vector<SampleEntry> SampleEntries()
{
    std::vector<SampleEntry> entries;
    // Large enough to span blocks, so that markers would show up in the file if they leaked into it.
    for (uint32_t i = 0; i < 5; ++i)
        entries.push_back({77000 + i * 1500, std::string(30000 + i, char('A' + i))});
    entries.push_back({77000 + 9999, ""});
    return entries;
}

// A finished download with every record present.
Game* MakeGame(uint32_t id, const std::string& name)
{
    Game* game = new Game(id);
    game->mName = name;
    game->mPlayers = "Moon vs Ted  Obs: Obs1";
    game->mStartTime = 1234567890;
    game->mPublisher = "caster";
    game->mDownloadState = DownloadFinished;
    game->mInfo = new GameInfo(name, 10385);
    game->mInfo->mProduct = 0x57335850;
    game->mInfo->mVersion = 26;
    game->mInfo->mMapPath = "Maps\\x.w3x";
    game->mInfo->mPresent = 1;
    game->mDetails = new GameDetails;
    game->mDetails->mMapPath = "Maps\\x.w3x";
    game->mDetails->mSlotCount = 2;
    game->mDetails->mPlayers[1].mName = "Moon";
    game->mData = new GameData;
    for (const SampleEntry& e : SampleEntries())
        game->mData->Append(e.time, uint32_t(e.payload.size()),
                            reinterpret_cast<const uint8_t*>(e.payload.data()));
    game->mData->Finish();
    return game;
}

std::vector<fs::path> FilesIn(const fs::path& dir)
{
    std::vector<fs::path> out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        out.push_back(e.path());
    return out;
}

fs::path PathOf(const wxString& name)
{
    return fs::u8path(std::string(name.utf8_str().data()));
}

void UseUtc()
{
    setenv("TZ", "UTC", 1);
    tzset();
}

TEST(Recording, FileHeaderAndDataBlock)
{
    std::unique_ptr<Game> game(MakeGame(0x12AB, "a:b/c"));
    ASSERT_TRUE(wxMkdir(wxS("rec")));
    bcxtest::LogCapture log;
    ASSERT_TRUE(SaveRecording(*game, wxS("rec")));
    EXPECT_TRUE(log.Lines().empty());

    const fs::path path = "rec/[000012AB]a-b_c.bcx";
    ASSERT_TRUE(fs::exists(path));
    const std::string file = ReadFile(path);
    ASSERT_GT(file.size(), 68u);

    Reader head(file);
    EXPECT_EQ(head.Raw(24), std::string("Brawlcast recorded game", 24));
    EXPECT_EQ(head.U32(), 0x201u);
    EXPECT_EQ(head.U32(), 68u);
    EXPECT_EQ(head.U32(), file.size());          // file size
    EXPECT_EQ(head.U32(), 1u);
    EXPECT_EQ(head.U32(), file.size() - 68);     // data length
    EXPECT_EQ(head.U32(), 0u);
    EXPECT_EQ(head.U32(), 0x57335850u);          // product
    EXPECT_EQ(head.U32(), 26u);                  // version
    EXPECT_EQ(head.U16(), 0);
    EXPECT_EQ(head.U16(), 0);
    EXPECT_EQ(head.U32(), 9999u);                // game length: the last entry's relative time
    EXPECT_EQ(head.U32(), 0u);
    ASSERT_EQ(head.Pos(), 68u);

    const std::string block = file.substr(68);
    Reader in(block);
    EXPECT_EQ(in.U32(), rectest::kMagic);
    EXPECT_EQ(in.U32(), 0x12ABu);
    EXPECT_EQ(in.Str(), "a:b/c");
    EXPECT_EQ(in.Str(), "Moon vs Ted  Obs: Obs1");
    EXPECT_EQ(in.U32(), 1234567890u);
    EXPECT_EQ(in.Str(), "caster");
    // GameInfo record.
    EXPECT_EQ(in.U32(), rectest::kMagic);
    EXPECT_EQ(in.U32(), 0x57335850u);
    EXPECT_EQ(in.U32(), 26u);
    in.U32();
    in.U32();
    EXPECT_EQ(in.Str(), "a:b/c");
    in.Raw(12);
    in.U32();
    EXPECT_EQ(in.Str(), "Maps\\x.w3x");
    EXPECT_EQ(in.Str(), "Brawlcast");
    in.Raw(20);  // info words D and E, words F and G, receive time
    EXPECT_EQ(in.U16(), 10385);
    // GameDetails record.
    EXPECT_EQ(in.U32(), rectest::kMagic);
    EXPECT_EQ(in.Str(), "Maps\\x.w3x");
    in.Raw(28 + 2 + 16);
    EXPECT_EQ(in.U8(), 2);
    in.Raw(120);
    for (int i = 0; i < 13; ++i) {
        in.U8();
        in.U32();
        EXPECT_EQ(in.Str(), i == 1 ? "Moon" : "");
        in.Raw(32);
    }
    in.U8();
    EXPECT_EQ(in.Str(), "");
    in.U32();
    // GameData: every entry to the end of the file, no markers.
    EXPECT_EQ(in.U32(), rectest::kMagic);
    const std::vector<SampleEntry> entries = SampleEntries();
    for (const SampleEntry& e : entries) {
        EXPECT_EQ(in.U32(), e.time - 77000);
        ASSERT_EQ(in.U32(), e.payload.size());
        EXPECT_EQ(in.Raw(e.payload.size()), e.payload);
    }
    EXPECT_EQ(in.Left(), 0u);
}

TEST(Recording, NamesReplaceCharactersThatCannotStandInAFileName)
{
    std::unique_ptr<Game> game(MakeGame(0x12AB, "a:b/c"));
    EXPECT_EQ(MakeRecordingName(*game, wxS(".bcx")), wxS("[000012AB]a-b_c.bcx"));
    game->mName = "x*y\"z\" <1>|2?\\3";
    EXPECT_EQ(MakeRecordingName(*game, wxS(".bcx")), wxString::FromUTF8("[000012AB]x°y'z' -1-_2__3.bcx"));
    game->mId = 0xFEDCBA98;
    game->mName = "plain";
    EXPECT_EQ(MakeRecordingName(*game, wxS("")), wxS("[FEDCBA98]plain"));
}

TEST(Recording, AChineseNameWithABackslashTrailByteStaysOneFileName)
{
    // 0x95 0x5C, 0xD5 0x5C and 0x81 0x7C are double-byte characters whose trail bytes are '\' and '|'.
    const std::string name = std::string("\x95\x5C") + "\xD5\x5C" + "\x81\x7C" + " vs " + "\xB2\xE2\xCA\xD4";
    std::unique_ptr<Game> game(MakeGame(7, name));
    const wxString expected = wxS("[00000007]") + bcx::FromGbk(name) + wxS(".bcx");
    EXPECT_EQ(MakeRecordingName(*game, wxS(".bcx")), expected);
    EXPECT_NE(expected.Find(wxUniChar(0x661E)), wxNOT_FOUND);  // the character of 0x95 0x5C

    ASSERT_TRUE(wxMkdir(wxS("cn")));
    ASSERT_TRUE(SaveRecording(*game, wxS("cn")));
    std::vector<fs::path> files = FilesIn("cn");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(fs::is_regular_file(files[0]));
    EXPECT_EQ(files[0], fs::path("cn") / PathOf(expected));
}

TEST(Recording, ALongNameIsCutOnACharacterBoundarySoThatTheFileNameFits)
{
    // Ninety Chinese characters: 270 bytes in the file system's UTF-8, too long for one file name.
    wxString name;
    for (int i = 0; i < 90; ++i)
        name += wxUniChar(0x51B3 + i % 7);
    std::unique_ptr<Game> game(MakeGame(0xABC, bcx::ToGbk(name)));
    ASSERT_TRUE(wxMkdir(wxS("long")));
    ASSERT_TRUE(SaveRecording(*game, wxS("long")));
    std::vector<fs::path> files = FilesIn("long");
    ASSERT_EQ(files.size(), 1u);
    const std::string written = files[0].filename().string();
    EXPECT_LE(written.size(), kMaxFileNameBytes);
    EXPECT_GT(written.size(), kMaxFileNameBytes - 3);  // no more than one character was given up
    const wxString kept = wxString::FromUTF8(written.c_str());
    ASSERT_TRUE(kept.StartsWith(wxS("[00000ABC]")) && kept.EndsWith(wxS(".bcx"))) << written;
    EXPECT_TRUE(name.StartsWith(kept.Mid(10, kept.length() - 14)));

    // A suffix that leaves no room: the id alone.
    EXPECT_EQ(MakeRecordingName(*game, wxString(wxUniChar('x'), 245)), wxS("[00000ABC]") + wxString(wxUniChar('x'), 245));
}

TEST(Recording, WithoutANameTheStartTimeNamesTheFile)
{
    UseUtc();
    std::unique_ptr<Game> game(MakeGame(0x10, ""));
    EXPECT_EQ(FormatStartTime(*game), wxS("2009-02-13 23:31:30"));
    EXPECT_EQ(MakeRecordingName(*game, wxS(".bcx")), wxS("[00000010]2009-02-13 23-31-30.bcx"));

    // An empty directory writes into the working directory.
    ASSERT_TRUE(SaveRecording(*game, wxString()));
    EXPECT_TRUE(fs::exists("[00000010]2009-02-13 23-31-30.bcx"));

    // Without game information read from the relay there is no start time text.
    game->mInfo->mPresent = 0;
    EXPECT_EQ(FormatStartTime(*game), wxString());
    EXPECT_EQ(MakeRecordingName(*game, wxS(".bcx")), wxS("[00000010].bcx"));
}

TEST(Recording, AnIncompleteGameWritesNoFile)
{
    ASSERT_TRUE(wxMkdir(wxS("out")));
    bcxtest::LogCapture log;
    {
        std::unique_ptr<Game> game(MakeGame(1, "no details"));
        delete game->mDetails;
        game->mDetails = nullptr;
        EXPECT_FALSE(SaveRecording(*game, wxS("out")));
    }
    {
        std::unique_ptr<Game> game(MakeGame(2, "no info"));
        delete game->mInfo;
        game->mInfo = nullptr;
        EXPECT_FALSE(SaveRecording(*game, wxS("out")));
    }
    {
        std::unique_ptr<Game> game(MakeGame(3, "no data"));
        delete game->mData;
        game->mData = nullptr;
        EXPECT_FALSE(SaveRecording(*game, wxS("out")));
    }
    {
        std::unique_ptr<Game> game(MakeGame(4, "still starting"));
        game->mDownloadState = DownloadStartAnnounced;
        filePacket block;
        EXPECT_FALSE(WriteGameRecord(*game, block));
        EXPECT_FALSE(SaveRecording(*game, wxS("out")));
        game->mDownloadState = DownloadBroken;  // a broken download keeps what it has
        EXPECT_TRUE(WriteGameRecord(*game, block));
    }
    EXPECT_TRUE(FilesIn("out").empty());
}

TEST(Recording, AFileThatCannotBeCreatedIsReported)
{
    std::unique_ptr<Game> game(MakeGame(0x99, "lost"));
    bcxtest::LogCapture log;
    EXPECT_FALSE(SaveRecording(*game, wxS("no-such-dir")));
    EXPECT_EQ(log.Count("[g] "), 1u);
    EXPECT_TRUE(log.Contains("no-such-dir/[00000099]lost.bcx"));
    EXPECT_FALSE(fs::exists("no-such-dir"));

    // A directory path that is a plain file.
    std::ofstream("plain") << "x";
    log.Clear();
    EXPECT_FALSE(SaveRecording(*game, wxS("plain")));
    EXPECT_EQ(log.Count("[g] "), 1u);
}

TEST(Recording, AShortWriteIsAFailureAndLeavesNoFile)
{
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full on this system";
    std::unique_ptr<Game> game(MakeGame(0x77, "full"));
    ASSERT_TRUE(wxMkdir(wxS("disk")));
    // Every write to /dev/full fails with "no space left".
    fs::create_symlink("/dev/full", "disk/[00000077]full.bcx");
    bcxtest::LogCapture log;
    EXPECT_FALSE(SaveRecording(*game, wxS("disk")));
    EXPECT_TRUE(log.Contains("[g] could not write recorded game 'disk/[00000077]full.bcx'"));
    EXPECT_TRUE(FilesIn("disk").empty());
}

TEST(Crc32, CheckValueAndEmptyInput)
{
    Crc32BuildTable();
    Crc32BuildTable();
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32("", 0), 0u);
    EXPECT_EQ(Crc32(nullptr, 0), 0u);
    // One changed bit changes the checksum; the same bytes give the same one.
    std::string block(1000, '\x5A');
    const uint32_t a = Crc32(block.data(), block.size());
    block[500] ^= 1;
    EXPECT_NE(Crc32(block.data(), block.size()), a);
    block[500] ^= 1;
    EXPECT_EQ(Crc32(block.data(), block.size()), a);
    // CRC-32 of a single 0x00 byte is a published value of the reflected IEEE polynomial.
    EXPECT_EQ(Crc32("\0", 1), 0xD202EF8Du);
}

TEST(Crc32, EveryLengthAndAlignmentMatchesTheBitwiseDefinition)
{
    auto bitwise = [](const uint8_t* p, size_t n) {
        uint32_t r = 0xFFFFFFFFu;
        for (size_t i = 0; i < n; ++i) {
            r ^= p[i];
            for (int bit = 0; bit < 8; ++bit)
                r = (r >> 1) ^ (0xEDB88320u & (0u - (r & 1)));
        }
        return ~r;
    };
    std::vector<uint8_t> bytes(80);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 37 + 11);
    for (size_t offset = 0; offset < 8; ++offset)
        for (size_t n = 1; n + offset <= bytes.size(); ++n)
            ASSERT_EQ(Crc32(bytes.data() + offset, n), bitwise(bytes.data() + offset, n)) << offset << "+" << n;
}

} // namespace
