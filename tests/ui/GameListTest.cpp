// The games list page: the cell texts (type, start time, length, download progress, version, map), and
// the page against the test relay server on loopback: rows with state text and colour, times and
// progress, refresh, toggling a game's LAN offer by selecting its row, play-all, the placeholder row,
// and the column widths kept under /GUI.

#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/config.h>
#include <wx/datetime.h>
#include <wx/listbox.h>
#include <wx/listctrl.h>
#include <wx/notebook.h>
#include <wx/uiaction.h>

#include "core/ClientCore.h"
#include "core/GameRecords.h"
#include "core/LanSession.h"
#include "lanhost/LanListener.h"
#include "peers/TestRelayServer.h"
#include "platform/ProgramClock.h"
#include "platform/TextCodec.h"
#include "support/Pump.h"
#include "support/Text.h"
#include "support/WxLoopback.h"
#include "support/gui/DialogCapture.h"
#include "support/gui/Screenshot.h"
#include "ui/GameListPanel.h"
#include "ui/LogPanel.h"
#include "ui/MainFrame.h"

namespace {

using bcxtest::Utf8;
using bcxtest::TestRelayServer;

std::string Gbk(const char* utf8)
{
    return bcx::Utf8ToGbk(utf8);
}

std::string Local(uint32_t seconds, const char* format)
{
    return Utf8(wxDateTime(static_cast<time_t>(seconds)).Format(wxString::FromUTF8(format)));
}

constexpr uint32_t kNow = 1765000000; // the test's wall clock

// ---------------------------------------------------------------------------------------------------
// Cell texts

TEST(GameListTextTest, GameTypeCountsTheTeamsOfThePlayersPart)
{
    EXPECT_EQ("2v2", GameTypeFromPlayers("A (Hum) + B (Orc) -vs- C (Ud) + D (NE)  Obs: E (Obs) + F (Obs)"));
    EXPECT_EQ("1v1", GameTypeFromPlayers("A (Hum) -vs- B (Orc)"));
    EXPECT_EQ("FFA4", GameTypeFromPlayers("A (Hum) -vs- B (Orc) -vs- C (Ud) -vs- D (NE)"));
    EXPECT_EQ("2v2v2", GameTypeFromPlayers("A (H) + B (O) -vs- C (U) + D (N) -vs- E (H) + F (O)"));
    EXPECT_EQ("3v1", GameTypeFromPlayers("A (H) + B (O) + C (U) -vs- D (N)"));
    // GBK names: the markers are found only where they really are.
    EXPECT_EQ("1v1", GameTypeFromPlayers(Gbk("天下 (人族) -vs- 无敌 (兽族)  Obs: 解说 (Obs)")));
    // The observers never count.
    EXPECT_EQ("1v1", GameTypeFromPlayers("A (H) -vs- B (O)  Obs: C (x) -vs- D (y) -vs- E (z)"));
    EXPECT_EQ("1", GameTypeFromPlayers("None"));
    EXPECT_EQ("", GameTypeFromPlayers(""));

    EXPECT_EQ("A (H) -vs- B (O)", PlayersPart("A (H) -vs- B (O)  Obs: C"));
    EXPECT_EQ("A (H) -vs- B (O)", PlayersPart("A (H) -vs- B (O)"));
}

TEST(GameListTextTest, StartTimeShowsHowLongAgoForThreeHoursThenTheDate)
{
    const uint32_t start = kNow - 180 * 60;
    EXPECT_EQ(Local(start, "%H:%M") + " (180分钟前)", Utf8(StartTimeText(start, kNow)));
    EXPECT_EQ(Local(start, "%H:%M") + " (180分钟前)", Utf8(StartTimeText(start, kNow + 59)));
    EXPECT_EQ(Local(start, "%H:%M %b%d "), Utf8(StartTimeText(start, kNow + 60)));
    EXPECT_EQ(Local(kNow, "%H:%M") + " (0分钟前)", Utf8(StartTimeText(kNow, kNow)));
    // A start in the future has no "ago" and never a huge number of minutes.
    EXPECT_EQ(Local(kNow + 600, "%H:%M"), Utf8(StartTimeText(kNow + 600, kNow)));
    EXPECT_EQ(Local(kNow + 86400, "%H:%M %b%d "), Utf8(StartTimeText(kNow + 86400, kNow)));
    EXPECT_EQ("-", Utf8(StartTimeText(0, kNow)));
}

TEST(GameListTextTest, LengthEstimatesLiveGamesAndNeverRunsAway)
{
    Game game(7);
    game.mLength = 5 * 60000;
    game.mState = GameStateAboutToStart;
    game.mInfoTime = kNow;
    EXPECT_EQ("-   ", Utf8(LengthText(game, kNow)));

    game.mState = GameStateLive;
    EXPECT_EQ("~5分", Utf8(LengthText(game, kNow)));
    EXPECT_EQ("~7分", Utf8(LengthText(game, kNow + 120)));
    // The clock behind the stamp: no negative time.
    EXPECT_EQ("~5分", Utf8(LengthText(game, kNow - 3600)));
    // Live without any information yet: no estimate from 1970.
    game.mInfoTime = 0;
    EXPECT_EQ("-   ", Utf8(LengthText(game, kNow)));

    game.mState = GameStateFinished;
    EXPECT_EQ("5分", Utf8(LengthText(game, kNow)));
    game.mLength = 0;
    EXPECT_EQ("0分", Utf8(LengthText(game, kNow)));
}

TEST(GameListTextTest, DownloadShowsProgressAndPlaybackWithoutDividingByZero)
{
    Game game(9);
    EXPECT_EQ("-", Utf8(DownloadText(game, -1)));
    game.mDownloadState = DownloadDetails;
    EXPECT_EQ("--", Utf8(DownloadText(game, -1)));

    game.mData = new GameData();
    const uint8_t bytes[4] = {1, 2, 3, 4};
    for (uint32_t t = 0; t <= 125000; t += 500)
        ASSERT_EQ(0u, game.mData->Append(t, sizeof bytes, bytes));
    game.mDownloadState = DownloadReceiving;

    // A live download: the time received.
    game.mState = GameStateLive;
    game.mLength = 0;
    EXPECT_EQ("2m05s", Utf8(DownloadText(game, -1)));
    EXPECT_EQ("2m05s (1m01s)", Utf8(DownloadText(game, 61000)));

    // A finished game: the share of its length.
    game.mState = GameStateFinished;
    game.mLength = 250000;
    EXPECT_EQ("50%", Utf8(DownloadText(game, -1)));
    EXPECT_EQ("50% (10%)", Utf8(DownloadText(game, 25000)));
    // ... and without a length no percentage at all.
    game.mLength = 0;
    EXPECT_EQ("2m05s", Utf8(DownloadText(game, -1)));
    EXPECT_EQ("2m05s (0m25s)", Utf8(DownloadText(game, 25000)));

    game.mLength = 125000;
    game.mDownloadState = DownloadFinished;
    EXPECT_EQ("done", Utf8(DownloadText(game, -1)));
    EXPECT_EQ("done (100%)", Utf8(DownloadText(game, 125000)));
}

TEST(GameListTextTest, VersionNamesAndMapFileNames)
{
    EXPECT_EQ("TFT 1.26", Utf8(GameVersion{0x57335850, 26}.GetName()));
    EXPECT_EQ("ROC 1.07", Utf8(GameVersion{0x57415233, 7}.GetName()));
    EXPECT_EQ("v1.20", Utf8(GameVersion{0x12345678, 20}.GetName()));
    EXPECT_EQ("", Utf8(GameVersion{0, 26}.GetName()));

    EXPECT_EQ("(2)EchoIsles.w3x", MapFileName("Maps\\FrozenThrone\\(2)EchoIsles.w3x"));
    EXPECT_EQ("(4)Map.w3m", MapFileName("Maps/Download/(4)Map.w3m"));
    EXPECT_EQ("Plain.w3x", MapFileName("Plain.w3x"));
}

// ---------------------------------------------------------------------------------------------------
// The page against the relay

// A LAN game host stand-in: "watched" games have a Warcraft III client attached.
class FakeSession : public LanSession {
public:
    FakeSession(Game* game, const std::set<uint32_t>* watched) : mGame(game), mWatched(watched) {}
    Game* GetGame() override { return mGame; }
    bool HasClient() const override { return mWatched->count(mGame->mId) > 0; }
    const sockaddr_in* PendingRequester() const override { return nullptr; }
    void ClearPendingRequester() override {}
    void SendServerInfo(const sockaddr_in&) override {}

private:
    Game* mGame;
    const std::set<uint32_t>* mWatched;
};

class GameListTest : public testing::Test {
protected:
    void SetUp() override
    {
        bcx::WallClock::SetManual(true);
        bcx::WallClock::Set(kNow);
        std::ofstream("bcxClient.ini") << "[Net]\nDatagramPort=0\nSessionPort=0\n";
        core = ClientCore::Get();
        ASSERT_NE(nullptr, core);
        core->Settings().mUserName = "tester";
        core->SetSessionFactory([this](Game* game) { return new FakeSession(game, &watched); });
        ASSERT_TRUE(relay.Start());
        hook = std::make_unique<bcxtest::ScopedPumpHook>([this] { relay.Poll(); });
    }

    void TearDown() override
    {
        CloseFrame();
        hook.reset();
    }

    void Open()
    {
        frame = new MainFrame();
        frame->SetSize(10, 10, 1260, 520);
        frame->Show();
        frame->Raise();
        frame->GetNotebook()->SetSelection(0);
        ASSERT_TRUE(bcxtest::PumpUntil([this] { return frame->IsShownOnScreen(); }));
        bcxtest::PumpFor(100);
        page = frame->GetGameListPanel();
        ASSERT_NE(nullptr, page);
        list = page->GetList();
    }

    void CloseFrame()
    {
        if (!frame)
            return;
        frame->Destroy();
        bcxtest::PumpUntil([] { return wxTopLevelWindows.IsEmpty(); });
        frame = nullptr;
        page = nullptr;
        list = nullptr;
    }

    bool LogOn()
    {
        core->Connect(bcxtest::LoopbackWxAddress(relay.Port()), wxS("127.0.0.1"));
        return bcxtest::PumpUntil([&] { return core->GetRelayState() == RelayLoggedOn; });
    }

    // Waits until every listed game has its information and a row.
    bool WaitRows(size_t count)
    {
        return bcxtest::PumpUntil([&] {
            if (static_cast<size_t>(list->GetItemCount()) != count || core->Games().size() != count)
                return false;
            for (const auto& entry : core->Games())
                if (!entry.second->mInfo || list->FindGame(entry.first) < 0)
                    return false;
            return true;
        });
    }

    std::string Cell(uint32_t id, int column)
    {
        const long row = list->FindGame(id);
        return row < 0 ? std::string("<no row>") : Utf8(list->GetItemText(row, column));
    }

    std::vector<uint32_t> RowIds()
    {
        std::vector<uint32_t> ids;
        for (long row = 0; row < list->GetItemCount(); ++row) {
            uint32_t id = 0;
            ids.push_back(list->GameIdOfRow(row, id) ? id : 0xDEADBEEF);
        }
        return ids;
    }

    // Clicks into the row's name cell. A second click on the same row waits out the double-click time
    // (a double click activates the row instead of selecting it).
    void ClickRow(uint32_t id)
    {
        if (id == mLastClicked)
            bcxtest::PumpFor(600);
        mLastClicked = id;
        const long row = list->FindGame(id);
        ASSERT_GE(row, 0);
        wxRect rect;
        ASSERT_TRUE(list->GetItemRect(row, rect));
        wxPoint at = list->ClientToScreen(wxPoint(rect.x + 30, rect.y + rect.height / 2));
        list->Update();
        wxUIActionSimulator sim;
        sim.MouseMove(at);
        bcxtest::PumpFor(20);
        sim.MouseClick();
        bcxtest::PumpFor(100);
    }

    static void Click(wxWindow* window)
    {
        window->GetParent()->Update();
        wxUIActionSimulator sim;
        wxRect rect = window->GetScreenRect();
        sim.MouseMove(rect.x + 8, rect.y + rect.height / 2);
        bcxtest::PumpFor(20);
        sim.MouseClick();
    }

    static wxColour Rgb(uint32_t state)
    {
        GameStateRgb c = GameStateColour(state);
        return wxColour(c.r, c.g, c.b);
    }

    ClientCore* core = nullptr;
    TestRelayServer relay;
    std::unique_ptr<bcxtest::ScopedPumpHook> hook;
    std::set<uint32_t> watched;
    MainFrame* frame = nullptr;
    GameListPanel* page = nullptr;
    GameListCtrl* list = nullptr;
    uint32_t mLastClicked = 0xFFFFFFFF;
};

TEST_F(GameListTest, RowsShowTheRelayGamesWithTheirStatesTimesAndProgress)
{
    auto finished = TestRelayServer::MakeFinished1v1(0x2001, 40, Gbk("决赛 第一局"));
    finished.startTime = kNow - 3600;
    finished.info.players = Gbk("天下 (人族) + 无双 (暗夜) -vs- 小明 (兽族) + 小红 (亡灵)  Obs: 解说 (Obs)");
    finished.info.publisher = Gbk("解说");
    finished.info.lengthMs = 25 * 60000;
    finished.info.mapPath = finished.details.mapPath = Gbk("Maps\\Download\\(4)冰封王座.w3x");
    relay.AddGame(finished);
    auto live = TestRelayServer::MakeLive1v1(0x2002, 50, "Live one");
    live.startTime = kNow - 600;
    live.info.players = "Alder (Hum) -vs- Birch (Orc)  Obs: Caster";
    live.info.lengthMs = 5 * 60000;
    relay.AddGame(live);
    auto announced = TestRelayServer::MakeAnnounced1v1(0x2003, 300, "Coming");
    announced.startTime = kNow + 300;
    relay.AddGame(announced);
    auto old = TestRelayServer::MakeFinished1v1(0x2004, 10, "Old game");
    old.startTime = kNow - 2 * 86400;
    old.info.lengthMs = 61 * 60000;
    relay.AddGame(old);

    Open();
    // No games yet: the placeholder row alone.
    ASSERT_EQ(1, list->GetItemCount());
    EXPECT_TRUE(list->IsPlaceholder(0));
    EXPECT_EQ(" ", Utf8(list->GetItemText(0, GameColState)));
    EXPECT_EQ("没有可观看的游戏", Utf8(list->GetItemText(0, GameColName)));

    ASSERT_TRUE(LogOn());
    ASSERT_TRUE(WaitRows(4));

    // Newest start first.
    EXPECT_EQ((std::vector<uint32_t>{0x2003, 0x2002, 0x2001, 0x2004}), RowIds());

    EXPECT_EQ("完成", Cell(0x2001, GameColState));
    EXPECT_EQ(wxColour(0, 0, 0), list->GetItemTextColour(list->FindGame(0x2001)));
    EXPECT_EQ("决赛 第一局", Cell(0x2001, GameColName));
    EXPECT_EQ(Local(kNow - 3600, "%H:%M") + " (60分钟前)", Cell(0x2001, GameColStart));
    EXPECT_EQ("25分", Cell(0x2001, GameColLength));
    EXPECT_EQ("-", Cell(0x2001, GameColDownload));
    EXPECT_EQ("解说", Cell(0x2001, GameColPublisher));
    EXPECT_EQ("2v2", Cell(0x2001, GameColType));
    EXPECT_EQ("天下 (人族) + 无双 (暗夜) -vs- 小明 (兽族) + 小红 (亡灵)", Cell(0x2001, GameColPlayers));
    EXPECT_EQ("", Cell(0x2001, GameColMap)); // no details yet

    EXPECT_EQ("直播!", Cell(0x2002, GameColState));
    EXPECT_EQ(wxColour(10, 180, 10), list->GetItemTextColour(list->FindGame(0x2002)));
    EXPECT_EQ(Local(kNow - 600, "%H:%M") + " (10分钟前)", Cell(0x2002, GameColStart));
    EXPECT_EQ("~5分", Cell(0x2002, GameColLength));
    EXPECT_EQ("1v1", Cell(0x2002, GameColType));
    EXPECT_EQ("Alder (Hum) -vs- Birch (Orc)", Cell(0x2002, GameColPlayers));

    EXPECT_EQ(Utf8(GameStateName(GameStateAboutToStart)), Cell(0x2003, GameColState));
    EXPECT_EQ(wxColour(200, 200, 10), list->GetItemTextColour(list->FindGame(0x2003)));
    EXPECT_EQ(Local(kNow + 300, "%H:%M"), Cell(0x2003, GameColStart));
    EXPECT_EQ("-   ", Cell(0x2003, GameColLength));

    EXPECT_EQ(Local(kNow - 2 * 86400, "%H:%M %b%d "), Cell(0x2004, GameColStart));
    EXPECT_EQ("61分", Cell(0x2004, GameColLength));

    // Downloads: the finished game completely, the live one as far as it has gone.
    core->SubscribeGame(core->GetGame(0x2001), true);
    core->SubscribeGame(core->GetGame(0x2002), true);
    ASSERT_TRUE(bcxtest::PumpUntil([&] {
        Game* a = core->GetGame(0x2001);
        Game* b = core->GetGame(0x2002);
        return a->mDownloadState == DownloadFinished && b->mData && b->mData->Count() == 50;
    }));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return Cell(0x2001, GameColDownload) == "done"; }));
    EXPECT_EQ("(4)冰封王座.w3x", Cell(0x2001, GameColMap));
    EXPECT_EQ("TFT 1.26", Cell(0x2001, GameColVersion));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return Cell(0x2002, GameColDownload) == "0m04s"; }))
        << Cell(0x2002, GameColDownload);
    EXPECT_EQ("(2)EchoIsles.w3x", Cell(0x2002, GameColMap));
    EXPECT_EQ(Utf8(GameStateName(GameStateLive)), Cell(0x2002, GameColState));

    // Two minutes later the time columns have moved on: the live game's length grows by itself.
    bcx::WallClock::Advance(120);
    wxTimer timer;
    wxTimerEvent tick(timer);
    page->OnTimeTimer(tick);
    EXPECT_EQ("~7分", Cell(0x2002, GameColLength));
    EXPECT_EQ(Local(kNow - 3600, "%H:%M") + " (62分钟前)", Cell(0x2001, GameColStart));
    EXPECT_EQ("25分", Cell(0x2001, GameColLength));

    // New data for the live game: the received time shows at once.
    relay.AppendDefaultEntries(0x2002, 10);
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return Cell(0x2002, GameColDownload) == "0m05s"; }))
        << Cell(0x2002, GameColDownload);

    EXPECT_FALSE(bcxtest::SaveScreenshot(frame, "main-frame-games-list").empty());

    // The relay drops both games from its list: with their data they stay as local games; the one whose
    // download is unfinished shows as incomplete, in the colour of a broken game.
    relay.RemoveGame(0x2001);
    relay.RemoveGame(0x2002);
    core->RequestGameList();
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return Cell(0x2002, GameColState) == "Incomplete"; }))
        << Cell(0x2002, GameColState);
    EXPECT_EQ(wxColour(200, 10, 10), list->GetItemTextColour(list->FindGame(0x2002)));
    EXPECT_EQ("本地", Cell(0x2001, GameColState));
    EXPECT_EQ(wxColour(3, 3, 3), list->GetItemTextColour(list->FindGame(0x2001)));
    EXPECT_EQ(4, list->GetItemCount());
}

TEST_F(GameListTest, RefreshAsksTheRelayAndRestsTheButtonForFiveSeconds)
{
    relay.AddGame(TestRelayServer::MakeFinished1v1(0x2101, 5));
    Open();
    EXPECT_FALSE(page->GetRefreshButton()->IsEnabled());
    ASSERT_TRUE(LogOn());
    ASSERT_TRUE(WaitRows(1));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return page->GetRefreshButton()->IsEnabled(); }));
    EXPECT_EQ(page->GetRefreshButton(), wxWindow::FindFocus());
    ASSERT_EQ(1u, relay.ClientFrames(0x20).size());

    // A game appears at the relay; refreshing lists it.
    relay.AddGame(TestRelayServer::MakeFinished1v1(0x2102, 5));
    Click(page->GetRefreshButton());
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return relay.ClientFrames(0x20).size() == 2; }));
    EXPECT_FALSE(page->GetRefreshButton()->IsEnabled());
    ASSERT_TRUE(WaitRows(2));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return page->GetRefreshButton()->IsEnabled(); }, 8000));

    // Disconnected: no refreshing.
    core->Disconnect(true, wxS("bye"));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return !page->GetRefreshButton()->IsEnabled(); }));
}

TEST_F(GameListTest, SelectingARowTogglesTheOfferAndPlayAllOffersEveryGame)
{
    auto older = TestRelayServer::MakeFinished1v1(0x3001, 5, "Older");
    older.startTime = kNow - 7200;
    relay.AddGame(older);
    auto newer = TestRelayServer::MakeFinished1v1(0x3002, 5, "Newer");
    newer.startTime = kNow - 3600;
    relay.AddGame(newer);
    Open();
    ASSERT_TRUE(LogOn());
    ASSERT_TRUE(WaitRows(2));
    const wxColour offered(230, 234, 255);
    const wxColour white(255, 255, 255);
    Game* a = core->GetGame(0x3001);
    Game* b = core->GetGame(0x3002);

    // No live game: only the newest finished one is offered.
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return core->GetSession(0x3002) != nullptr; }));
    EXPECT_EQ(LanNotOffered, a->mOffer);
    EXPECT_EQ(LanOfferedAuto, b->mOffer);
    EXPECT_EQ(white, list->GetItemBackgroundColour(list->FindGame(0x3001)));
    EXPECT_EQ(offered, list->GetItemBackgroundColour(list->FindGame(0x3002)));

    // The user offers the older one and withdraws the newer one.
    ClickRow(0x3001);
    EXPECT_EQ(LanOfferedByUser, a->mOffer);
    EXPECT_NE(nullptr, core->GetSession(0x3001));
    EXPECT_EQ(offered, list->GetItemBackgroundColour(list->FindGame(0x3001)));
    EXPECT_EQ(0, list->GetSelectedItemCount());
    ClickRow(0x3002);
    EXPECT_EQ(LanWithdrawnByUser, b->mOffer);
    EXPECT_EQ(nullptr, core->GetSession(0x3002));
    EXPECT_EQ(white, list->GetItemBackgroundColour(list->FindGame(0x3002)));
    ClickRow(0x3002);
    EXPECT_EQ(LanOfferedByUser, b->mOffer);
    EXPECT_NE(nullptr, core->GetSession(0x3002));

    // Somebody watches the older game: it cannot be withdrawn.
    watched.insert(0x3001);
    {
        bcxtest::DialogCapture boxes;
        ClickRow(0x3001);
        ASSERT_EQ(1u, boxes.Dialogs().size());
        EXPECT_EQ("Message", boxes.Dialogs()[0].caption);
        EXPECT_EQ("Cannot deactivate this game, someone is still watching.", boxes.Dialogs()[0].message);
    }
    EXPECT_EQ(LanOfferedByUser, a->mOffer);
    EXPECT_NE(nullptr, core->GetSession(0x3001));
    watched.clear();

    // Play all: every game gets a host, no row is marked, and selecting changes nothing.
    ClickRow(0x3002);
    ASSERT_EQ(LanWithdrawnByUser, b->mOffer);
    Click(page->GetPlayAllBox());
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return core->Settings().mPlayAllGames == 1; }));
    EXPECT_TRUE(page->GetPlayAllBox()->GetValue());
    EXPECT_NE(nullptr, core->GetSession(0x3001));
    EXPECT_NE(nullptr, core->GetSession(0x3002));
    EXPECT_EQ(white, list->GetItemBackgroundColour(list->FindGame(0x3001)));
    EXPECT_EQ(white, list->GetItemBackgroundColour(list->FindGame(0x3002)));
    ClickRow(0x3001);
    EXPECT_EQ(LanOfferedByUser, a->mOffer);
    EXPECT_EQ(LanWithdrawnByUser, b->mOffer);
    wxConfigBase* config = wxConfigBase::Get(false);
    config->SetPath(wxS("/Misc"));
    EXPECT_EQ(1, config->ReadLong(wxString::FromUTF8("播放所有游戏"), 0));

    // Play all off again: the withdrawn game loses its host.
    Click(page->GetPlayAllBox());
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return core->Settings().mPlayAllGames == 0; }));
    EXPECT_EQ(nullptr, core->GetSession(0x3002));
    EXPECT_EQ(offered, list->GetItemBackgroundColour(list->FindGame(0x3001)));
    config->SetPath(wxS("/Misc"));
    EXPECT_EQ(0, config->ReadLong(wxString::FromUTF8("播放所有游戏"), 1));

    // An offered game whose information never came has no host, so nobody can be watching it: it is
    // withdrawn without a box.
    auto noInfo = TestRelayServer::MakeFinished1v1(0x3003, 5, "No info");
    noInfo.startTime = kNow - 9000;
    noInfo.hasInfo = false;
    relay.AddGame(noInfo);
    core->RequestGameList();
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return list->FindGame(0x3003) >= 0; }));
    ClickRow(0x3003);
    ASSERT_EQ(LanOfferedByUser, core->GetGame(0x3003)->mOffer);
    ASSERT_EQ(nullptr, core->GetSession(0x3003));
    bcxtest::DialogCapture boxes;
    ClickRow(0x3003);
    EXPECT_TRUE(boxes.Dialogs().empty());
    EXPECT_EQ(LanWithdrawnByUser, core->GetGame(0x3003)->mOffer);

    // A selection of a watched game still queued when the frame is closed: no box, the offer stays.
    watched.insert(0x3001);
    wxListEvent selected(wxEVT_LIST_ITEM_SELECTED, list->GetId());
    selected.SetIndex(list->FindGame(0x3001));
    list->GetEventHandler()->QueueEvent(selected.Clone());
    CloseFrame();
    EXPECT_TRUE(boxes.Dialogs().empty());
    EXPECT_EQ(LanOfferedByUser, core->GetGame(0x3001)->mOffer);
}

TEST_F(GameListTest, AGameWithIdZeroIsARealRowAndThePlaceholderComesBack)
{
    auto zero = TestRelayServer::MakeFinished1v1(0, 5, "Game zero");
    relay.AddGame(zero);
    Open();
    ASSERT_TRUE(LogOn());
    ASSERT_TRUE(WaitRows(1));
    ASSERT_EQ(1, list->GetItemCount());
    EXPECT_FALSE(list->IsPlaceholder(0));
    EXPECT_EQ("Game zero", Utf8(list->GetItemText(0, GameColName)));

    // A second game: both rows stay, the id-0 game is not taken for the placeholder.
    relay.AddGame(TestRelayServer::MakeFinished1v1(0x4001, 5, "Other"));
    wxCommandEvent click(wxEVT_BUTTON, GameListRefreshId);
    page->GetRefreshButton()->GetEventHandler()->ProcessEvent(click);
    ASSERT_TRUE(WaitRows(2));
    EXPECT_GE(list->FindGame(0), 0);
    EXPECT_GE(list->FindGame(0x4001), 0);

    // Events for games without a row or without a game change nothing.
    ClientCore::PostEvent(page, ClientEventGameRow, 0x7777);
    ClientCore::PostEvent(page, ClientEventDownload, 0x7777);
    ClientCore::PostEvent(page, ClientEventGameList, 0x7777);
    bcxtest::PumpFor(50);
    EXPECT_EQ(2, list->GetItemCount());

    // The relay forgets every game: the disconnect sweeps them and the placeholder is back.
    core->Disconnect(true, wxS("bye"));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return list->GetItemCount() == 1 && list->IsPlaceholder(0); }));
    EXPECT_EQ("没有可观看的游戏", Utf8(list->GetItemText(0, GameColName)));
}

TEST_F(GameListTest, RightClickLogsTheGameDetails)
{
    auto game = TestRelayServer::MakeFinished1v1(0x5001, 5, "Details");
    game.info.players = "Alder (Hum) -vs- Birch (Orc)  Obs: Caster";
    relay.AddGame(game);
    auto bare = TestRelayServer::MakeFinished1v1(0x5002, 5, "Bare");
    bare.info.players = "Solo";
    relay.AddGame(bare);
    Open();
    ASSERT_TRUE(LogOn());
    ASSERT_TRUE(WaitRows(2));
    wxListBox* log = frame->GetLogPanel()->GetListBox();

    auto rightClick = [&](uint32_t id) {
        const unsigned int before = log->GetCount();
        wxListEvent event(wxEVT_LIST_ITEM_RIGHT_CLICK, GameListListId);
        event.m_itemIndex = list->FindGame(id);
        page->GetEventHandler()->ProcessEvent(event);
        std::vector<std::string> lines;
        for (unsigned int i = before; i < log->GetCount(); ++i)
            lines.push_back(Utf8(log->GetString(i)).substr(11));
        return lines;
    };
    EXPECT_EQ((std::vector<std::string>{"[gamedetails] Details", "     - ID:     00005001", "     - Map:    n/a",
                                        "     - Player: Alder (Hum) -vs- Birch (Orc)", "     - Obs:    Caster"}),
              rightClick(0x5001));
    std::vector<std::string> lines = rightClick(0x5002);
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ("     - Player: Solo", lines[3]);
    EXPECT_EQ("     - Obs:    ", lines[4]);
}

TEST_F(GameListTest, ColumnWidthsAreSavedAndRestored)
{
    Open();
    EXPECT_EQ(150, list->GetColumnWidth(GameColName));
    for (int column = 0; column < GameColCount; ++column)
        EXPECT_EQ(page->DefaultColumnWidth(column), list->GetColumnWidth(column)) << column;
    EXPECT_NE(0u, page->GetListener() ? page->GetListener()->SessionPort() : 0u);
    EXPECT_EQ(page->GetListener()->SessionPort(), core->GetSessionPort());
    const long page0Width = page->DefaultColumnWidth(0);
    const long page9Width = page->DefaultColumnWidth(9);
    list->SetColumnWidth(GameColName, 222);
    list->SetColumnWidth(GameColPlayers, 301);
    CloseFrame();
    // The page's listener is gone with it.
    EXPECT_EQ(0u, core->GetSessionPort());

    wxConfigBase* config = wxConfigBase::Get(false);
    ASSERT_NE(nullptr, config);
    config->SetPath(wxS("/GUI"));
    EXPECT_EQ(page0Width, config->ReadLong(wxS("GameListCol00"), -1));
    EXPECT_GE(page0Width, 70);
    EXPECT_EQ(222, config->ReadLong(wxS("GameListCol01"), -1));
    EXPECT_EQ(301, config->ReadLong(wxS("GameListCol07"), -1));
    EXPECT_EQ(page9Width, config->ReadLong(wxS("GameListCol09"), -1));
    // Zero or negative widths keep the default.
    config->Write(wxS("GameListCol03"), 0L);
    config->Write(wxS("GameListCol04"), -5L);

    Open();
    EXPECT_EQ(222, list->GetColumnWidth(GameColName));
    EXPECT_EQ(301, list->GetColumnWidth(GameColPlayers));
    EXPECT_EQ(page->DefaultColumnWidth(GameColLength), list->GetColumnWidth(GameColLength));
    EXPECT_EQ(page->DefaultColumnWidth(GameColDownload), list->GetColumnWidth(GameColDownload));
    EXPECT_GE(list->GetColumnWidth(GameColLength), 50);
}

// A relay frame that replaces hundreds of games is one update of the rows: the rows are rebuilt once,
// not once per game that went away.
TEST_F(GameListTest, OneRelayFrameIsOneUpdateOfTheRows)
{
    Open();
    ASSERT_TRUE(LogOn());
    ASSERT_EQ(1u, relay.OpenConnections().size());
    const auto conn = relay.OpenConnections()[0];
    auto listFrame = [](uint32_t firstId, uint32_t count) {
        std::string games;
        for (uint32_t id = firstId; id < firstId + count; ++id)
            games += TestRelayServer::U32(id) + TestRelayServer::U8(GameStateFinished) +
                     TestRelayServer::U32(kNow - id) + TestRelayServer::Str("g" + std::to_string(id));
        return TestRelayServer::U32(1) + TestRelayServer::U32(0) + TestRelayServer::U32(count) + games;
    };
    relay.SendFrame(conn, 0x20, listFrame(0x10000, 400));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return list->GetItemCount() == 400 && list->FindGame(0x10000) >= 0; }));

    auto rebuilds = std::make_shared<int>(0);
    list->Bind(wxEVT_LIST_DELETE_ALL_ITEMS, [rebuilds](wxListEvent& event) {
        ++*rebuilds;
        event.Skip();
    });
    relay.SendFrame(conn, 0x20, listFrame(0x20000, 400));
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return list->FindGame(0x20000) >= 0 && list->FindGame(0x10000) < 0; }));
    bcxtest::PumpFor(200);
    EXPECT_EQ(1, *rebuilds);
    ASSERT_EQ(400, list->GetItemCount());
    // Sorted: the newest start first.
    const std::vector<uint32_t> ids = RowIds();
    EXPECT_EQ(0x20000u, ids[0]);
    EXPECT_EQ(0x20001u, ids[1]);
    EXPECT_EQ(0x2018Fu, ids.back());
}

} // namespace
