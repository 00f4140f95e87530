// The game and session registries of ClientCore and the LAN offer decision, without a relay connection.

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "core/ClientCore.h"
#include "core/GameRecords.h"
#include "core/LanSession.h"
#include "support/ClientEventRecorder.h"
#include "support/LogCapture.h"
#include "support/Pump.h"

namespace {

struct SentInfo {
    uint32_t gameId;
    uint16_t port;
};

// A LAN game host stand-in: a game, a client flag and a pending requester.
class FakeSession : public LanSession {
public:
    FakeSession(Game* game, std::vector<SentInfo>* sent, int* alive) : mGame(game), mSent(sent), mAlive(alive)
    {
        ++*mAlive;
    }
    ~FakeSession() override { --*mAlive; }

    Game* GetGame() override { return mGame; }
    bool HasClient() const override { return mClient; }
    const sockaddr_in* PendingRequester() const override { return mPending ? &*mPending : nullptr; }
    void ClearPendingRequester() override { mPending.reset(); }
    void SendServerInfo(const sockaddr_in& to) override { mSent->push_back({mGame->mId, ntohs(to.sin_port)}); }

    void SetClient(bool client) { mClient = client; }
    void SetPending(uint16_t port)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        mPending = a;
    }

private:
    Game* mGame;
    std::vector<SentInfo>* mSent;
    int* mAlive;
    bool mClient = false;
    std::optional<sockaddr_in> mPending;
};

class RegistriesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::ofstream("bcxClient.ini") << "[Net]\nDatagramPort=0\n";
        core = ClientCore::Get();
        ASSERT_NE(core, nullptr);
        core->SetGameListTarget(&gameList);
        core->SetSessionFactory([this](Game* game) { return new FakeSession(game, &sent, &alive); });
    }

    void TearDown() override
    {
        if (core) {
            core->SetGameListTarget(nullptr);
            ClientCore::Get(true);
        }
        EXPECT_EQ(alive, 0) << "every host is deleted with the core";
    }

    // A relay game with the given listed state and start time; with info unless told otherwise.
    Game* Add(uint32_t id, uint32_t state, uint32_t start, bool info = true)
    {
        Game* game = new Game(id);
        game->mKind = 3;
        game->mState = state;
        game->mStartTime = start;
        game->mName = "game" + std::to_string(id);
        if (info)
            game->mInfo = new GameInfo(game->mName, 0);
        EXPECT_TRUE(core->AddGame(game));
        return game;
    }

    FakeSession* Session(uint32_t id) { return static_cast<FakeSession*>(core->GetSession(id)); }

    void Flush()
    {
        bcxtest::PumpOnce(0);
        gameList.Clear();
    }

    std::vector<int32_t> Rows()
    {
        bcxtest::PumpOnce(0);
        std::vector<int32_t> rows;
        for (const auto& e : gameList.WithId(ClientEventGameRow))
            rows.push_back(e.value);
        return rows;
    }

    bcxtest::LogCapture log;
    bcxtest::ClientEventRecorder gameList;
    ClientCore* core = nullptr;
    std::vector<SentInfo> sent;
    int alive = 0;
};

TEST_F(RegistriesTest, AddGameStoresOnceAndRefusesAnotherGameWithTheSameId)
{
    EXPECT_FALSE(core->AddGame(nullptr));
    Game* first = Add(5, GameStateLive, 100);
    bcxtest::PumpOnce(0);
    ASSERT_EQ(gameList.Count(ClientEventGameList), 1u);
    EXPECT_EQ(gameList.Events()[0].value, 5);
    EXPECT_EQ(gameList.Events()[0].text, "game5");
    gameList.Clear();

    // The same object again: accepted, nothing posted.
    EXPECT_TRUE(core->AddGame(first));
    bcxtest::PumpOnce(0);
    EXPECT_TRUE(gameList.Events().empty());

    // Another object under the id: refused and logged; the caller keeps it.
    auto other = std::make_unique<Game>(5);
    EXPECT_FALSE(core->AddGame(other.get()));
    EXPECT_EQ(core->GetGame(5), first);
    EXPECT_TRUE(log.Contains("[g] [AddGame]ERROR: found old game 'game5' with same id (5)"));
    EXPECT_EQ(core->GetGame(6), nullptr);
}

TEST_F(RegistriesTest, RegistryHoldsAtMostItsBoundOfGamesAndSaysSoOnce)
{
    for (uint32_t id = 1; id <= ClientCore::kMaxGames; ++id)
        ASSERT_TRUE(core->AddGame(new Game(id)));
    std::vector<std::unique_ptr<Game>> refused;
    for (uint32_t id = 1; id <= 3; ++id) {
        refused.push_back(std::make_unique<Game>(ClientCore::kMaxGames + id));
        EXPECT_FALSE(core->AddGame(refused.back().get()));
    }
    EXPECT_EQ(core->Games().size(), ClientCore::kMaxGames);
    EXPECT_EQ(log.Count("[g] the games list holds 10000 games, the most it keeps"), 1u);

    // With room again a game is taken; filling up again is said again.
    ASSERT_TRUE(core->RemoveGame(1, true));
    EXPECT_TRUE(core->AddGame(refused[0].release()));
    EXPECT_FALSE(core->AddGame(refused[1].get()));
    EXPECT_EQ(log.Count("[g] the games list holds 10000 games, the most it keeps"), 2u);
}

TEST_F(RegistriesTest, GameNamesAreNeverUsedAsFormats)
{
    Game* game = Add(7, GameStateLive, 1);
    game->mName = "%s%n%x";
    auto other = std::make_unique<Game>(7);
    EXPECT_FALSE(core->AddGame(other.get()));
    EXPECT_TRUE(log.Contains("found old game '%s%n%x' with same id (7)"));
}

TEST_F(RegistriesTest, RemoveGameRemovesItsHostFirstAndReportsUnknownIds)
{
    Add(1, GameStateLive, 10);
    core->UpdateLanGames(false);
    ASSERT_NE(Session(1), nullptr);
    Flush();

    EXPECT_FALSE(core->RemoveGame(99, true));
    bcxtest::PumpOnce(0);
    EXPECT_TRUE(gameList.Events().empty());

    EXPECT_TRUE(core->RemoveGame(1, true));
    EXPECT_EQ(core->GetSession(1), nullptr);
    EXPECT_EQ(core->GetGame(1), nullptr);
    EXPECT_EQ(alive, 0);
    bcxtest::PumpOnce(0);
    ASSERT_EQ(gameList.Count(ClientEventGameList), 1u);
    EXPECT_EQ(gameList.WithId(ClientEventGameList)[0].value, 0);

    // Kept by the caller when not deleted.
    Game* kept = Add(2, GameStateLive, 10);
    EXPECT_TRUE(core->RemoveGame(2, false));
    EXPECT_EQ(core->GetGame(2), nullptr);
    delete kept;
}

TEST_F(RegistriesTest, NewestFinishedGameIsOfferedWhenNoneIsLive)
{
    Game* older = Add(1, GameStateFinished, 100);
    Game* newer = Add(2, GameStateFinished, 200);
    Game* broken = Add(3, GameStateBroken, 150);
    core->UpdateLanGames(false);
    EXPECT_EQ(older->mOffer, LanNotOffered);
    EXPECT_EQ(newer->mOffer, LanOfferedAuto);
    EXPECT_EQ(broken->mOffer, LanNotOffered);
    EXPECT_EQ(core->Sessions().size(), 1u);
    EXPECT_NE(Session(2), nullptr);
    // Nothing is posted without notify.
    EXPECT_TRUE(Rows().empty());
}

TEST_F(RegistriesTest, LiveGameIsOfferedAndANewerFinishedOneIsNot)
{
    Game* live = Add(1, GameStateLive, 100);
    Game* upcoming = Add(2, GameStateComingUp, 50);
    Game* finished = Add(3, GameStateFinished, 500);
    core->UpdateLanGames(true);
    EXPECT_EQ(live->mOffer, LanOfferedAuto);
    EXPECT_EQ(upcoming->mOffer, LanOfferedAuto);
    EXPECT_EQ(finished->mOffer, LanNotOffered);
    EXPECT_NE(Session(1), nullptr);
    EXPECT_NE(Session(2), nullptr);
    EXPECT_EQ(Session(3), nullptr);
    std::vector<int32_t> rows = Rows();
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<int32_t>{1, 2}));

    // A second decision with nothing changed creates, removes and posts nothing.
    gameList.Clear();
    core->UpdateLanGames(true);
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(alive, 2);
}

TEST_F(RegistriesTest, FinishedGameLosesItsAutomaticOfferAndHostUnlessWatched)
{
    Game* a = Add(1, GameStateLive, 100);
    Game* b = Add(2, GameStateLive, 90);
    Add(3, GameStateLive, 80);
    core->UpdateLanGames(false);
    ASSERT_EQ(alive, 3);
    Session(2)->SetClient(true);
    Flush();

    a->mState = GameStateFinished;
    b->mState = GameStateFinished;
    core->UpdateLanGames(true);
    EXPECT_EQ(a->mOffer, LanNotOffered);
    EXPECT_EQ(core->GetSession(1), nullptr);
    // Watched: stays offered and keeps its host.
    EXPECT_EQ(b->mOffer, LanOfferedAuto);
    EXPECT_NE(Session(2), nullptr);
    EXPECT_EQ(Rows(), (std::vector<int32_t>{1}));
    EXPECT_EQ(alive, 2);
}

TEST_F(RegistriesTest, UserOffersAreKeptAndAWithdrawnWatchedGameReturnsToOffered)
{
    Game* userOffered = Add(1, GameStateFinished, 10);
    userOffered->mOffer = LanOfferedByUser;
    Game* withdrawn = Add(2, GameStateLive, 20);
    withdrawn->mOffer = LanWithdrawnByUser;
    Game* newest = Add(3, GameStateFinished, 30);
    core->UpdateLanGames(false);
    EXPECT_EQ(userOffered->mOffer, LanOfferedByUser);
    EXPECT_NE(Session(1), nullptr);
    EXPECT_EQ(withdrawn->mOffer, LanWithdrawnByUser);
    EXPECT_EQ(Session(2), nullptr);
    // A game is live (the withdrawn one), so the newest finished game is not offered.
    EXPECT_EQ(newest->mOffer, LanNotOffered);

    // The user withdraws game 1 while a client watches it: it returns to offered automatically.
    Session(1)->SetClient(true);
    userOffered->mOffer = LanWithdrawnByUser;
    core->UpdateLanGames(true);
    EXPECT_EQ(userOffered->mOffer, LanOfferedAuto);
    EXPECT_NE(Session(1), nullptr);
    EXPECT_TRUE(Rows().empty());
}

TEST_F(RegistriesTest, PlayAllGivesEveryGameWithInfoAHost)
{
    core->Settings().mPlayAllGames = 1;
    Game* a = Add(1, GameStateFinished, 10);
    Game* b = Add(2, GameStateFinished, 20);
    Game* noInfo = Add(3, GameStateLive, 30, false);
    core->UpdateLanGames(true);
    EXPECT_NE(Session(1), nullptr);
    EXPECT_NE(Session(2), nullptr);
    // Offers are still computed: one game is live, so no finished game is offered.
    EXPECT_EQ(a->mOffer, LanNotOffered);
    EXPECT_EQ(b->mOffer, LanNotOffered);
    EXPECT_EQ(noInfo->mOffer, LanOfferedAuto);
    // The offered game without info gets no host and no row notification.
    EXPECT_EQ(core->GetSession(3), nullptr);
    std::vector<int32_t> rows = Rows();
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<int32_t>{1, 2}));

    // Its info arrives: the next decision creates its host.
    noInfo->mInfo = new GameInfo("game3", 0);
    core->UpdateLanGames(false);
    EXPECT_NE(Session(3), nullptr);

    // Play-all off again: the unoffered, unwatched hosts go.
    core->Settings().mPlayAllGames = 0;
    core->UpdateLanGames(false);
    EXPECT_EQ(core->GetSession(1), nullptr);
    EXPECT_EQ(core->GetSession(2), nullptr);
    EXPECT_NE(Session(3), nullptr);
}

TEST_F(RegistriesTest, DecisionWithoutGamesOrWithoutFactoryDoesNothing)
{
    core->UpdateLanGames(true);
    EXPECT_TRUE(core->Sessions().empty());

    core->SetSessionFactory(nullptr);
    Add(1, GameStateLive, 1);
    core->UpdateLanGames(false);
    EXPECT_TRUE(core->Sessions().empty());
    EXPECT_TRUE(log.Contains("[s] No LAN game host can be created for game 0x00000001"));
}

TEST_F(RegistriesTest, SecondHostForAGameIsRefused)
{
    Game* game = Add(0xAB, GameStateLive, 1);
    core->AddSession(game);
    LanSession* first = core->GetSession(0xAB);
    ASSERT_NE(first, nullptr);
    core->AddSession(game);
    core->AddSession(nullptr);
    EXPECT_EQ(core->GetSession(0xAB), first);
    EXPECT_EQ(alive, 1);
    EXPECT_TRUE(log.Contains("[s] Trying to add sessions that is already existent: 0x000000AB"));
    EXPECT_FALSE(core->RemoveSession(0xAC, true));
    EXPECT_TRUE(core->RemoveSession(0xAB, true));
    EXPECT_EQ(alive, 0);
}

TEST_F(RegistriesTest, RemoveGamesByMode)
{
    // Mode 3: games the last list did not name.
    Game* listed = Add(1, GameStateLive, 1);
    Game* goneNoData = Add(2, GameStateLive, 2);
    Game* goneWithData = Add(3, GameStateLive, 3);
    Game* goneFinished = Add(4, GameStateFinished, 4);
    Game* goneWatched = Add(5, GameStateLive, 5);
    goneWithData->mDownloadState = DownloadReceiving;
    goneFinished->mDownloadState = DownloadFinished;
    core->AddSession(goneWatched);
    Session(5)->SetClient(true);
    core->MarkAllGames();
    listed->mMark = 0;
    core->RemoveGames(3);
    EXPECT_EQ(core->GetGame(1), listed);
    EXPECT_EQ(core->GetGame(2), nullptr);
    EXPECT_EQ(core->GetGame(3), goneWithData);
    EXPECT_EQ(goneWithData->mState, GameStateLocal);
    EXPECT_EQ(core->GetGame(4), goneFinished);
    EXPECT_EQ(goneFinished->mState, GameStateLocal);
    EXPECT_EQ(core->GetGame(5), goneWatched);
    (void)goneNoData;

    // Mode 2: relay games whose download has not begun.
    Game* local = new Game(6);
    ASSERT_TRUE(core->AddGame(local));
    core->RemoveGames(2);
    EXPECT_EQ(core->GetGame(1), nullptr);
    EXPECT_EQ(core->GetGame(3), goneWithData);
    EXPECT_EQ(core->GetGame(6), local);
    EXPECT_EQ(core->GetGame(5), goneWatched);

    // Mode 1: every relay game, except the watched one.
    core->RemoveGames(1);
    EXPECT_EQ(core->GetGame(3), nullptr);
    EXPECT_EQ(core->GetGame(4), nullptr);
    EXPECT_EQ(core->GetGame(6), local);
    EXPECT_EQ(core->GetGame(5), goneWatched);

    // Any other mode: all but the watched one.
    core->RemoveGames(0);
    EXPECT_EQ(core->GetGame(6), nullptr);
    EXPECT_EQ(core->Games().size(), 1u);
    bcxtest::PumpOnce(0);
    EXPECT_GE(gameList.Count(ClientEventGameList), 4u);
}

TEST_F(RegistriesTest, CloseAllGamesBreaksUnfinishedDownloadsAndDropsTheirResumeCursors)
{
    Game* receiving = Add(1, GameStateLive, 1);
    receiving->mDownloadState = DownloadReceiving;
    receiving->mData = new GameData();
    receiving->mResumeCursor = new GameDataCursor();
    Game* finished = Add(2, GameStateFinished, 2);
    finished->mDownloadState = DownloadFinished;
    Game* listed = Add(3, GameStateLive, 3);
    core->CloseAllGames();
    EXPECT_EQ(receiving->mDownloadState, DownloadBroken);
    EXPECT_EQ(receiving->mResumeCursor, nullptr);
    EXPECT_EQ(finished->mDownloadState, DownloadFinished);
    EXPECT_EQ(listed->mDownloadState, DownloadBroken);

    core->DeleteAllGames();
    EXPECT_TRUE(core->Games().empty());
    EXPECT_EQ(core->GetListWord(), 0u);
}

TEST_F(RegistriesTest, RemoveUnusedSessionsKeepsWatchedHosts)
{
    Game* a = Add(1, GameStateLive, 1);
    Game* b = Add(2, GameStateLive, 2);
    core->AddSession(a);
    core->AddSession(b);
    Session(2)->SetClient(true);
    core->RemoveUnusedSessions();
    EXPECT_EQ(core->GetSession(1), nullptr);
    EXPECT_NE(core->GetSession(2), nullptr);
    core->DeleteAllSessions();
    EXPECT_TRUE(core->Sessions().empty());
    EXPECT_EQ(alive, 0);
}

TEST_F(RegistriesTest, OrderedServerInfoWaitsForAllAndAnswersNewestFirst)
{
    Game* g1 = Add(1, GameStateLive, 100);
    Game* g2 = Add(2, GameStateLive, 300);
    Game* g3 = Add(3, GameStateLive, 200);
    core->AddSession(g1);
    core->AddSession(g2);
    core->AddSession(g3);
    Session(1)->SetPending(1001);
    Session(2)->SetPending(1002);

    // Two of three hosts wait: nothing is sent.
    core->SendOrderedServerInfo(true);
    EXPECT_TRUE(sent.empty());
    EXPECT_NE(Session(1)->PendingRequester(), nullptr);

    Session(3)->SetPending(1003);
    core->SendOrderedServerInfo(true);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].gameId, 2u);
    EXPECT_EQ(sent[0].port, 1002);
    EXPECT_EQ(sent[1].gameId, 3u);
    EXPECT_EQ(sent[2].gameId, 1u);
    EXPECT_EQ(Session(1)->PendingRequester(), nullptr);
    EXPECT_EQ(Session(2)->PendingRequester(), nullptr);

    // Without the condition the waiting ones are answered, newest first.
    sent.clear();
    Session(1)->SetPending(2001);
    Session(3)->SetPending(2003);
    core->SendOrderedServerInfo(false);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].gameId, 3u);
    EXPECT_EQ(sent[1].gameId, 1u);
}

TEST_F(RegistriesTest, HostRequestForANewDecisionIsHandledFromTheQueue)
{
    Game* game = Add(1, GameStateLive, 1);
    EXPECT_EQ(core->GetSession(1), nullptr);
    ClientEvent sweep(ClientEventGameSweep, 0, wxString());
    core->AddPendingEvent(sweep);
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return core->GetSession(1) != nullptr; }, 2000));
    EXPECT_EQ(game->mOffer, LanOfferedAuto);
    // The sweep notifies the list.
    EXPECT_EQ(Rows(), (std::vector<int32_t>{1}));
}

} // namespace
