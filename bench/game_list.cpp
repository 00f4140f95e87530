// Games list page: how long the rows take to follow the relay when the list is large.
//
// On a private Xvfb display, the page of a real main window's kind (a GameListPanel in a frame) is the
// game-list target of the client core. Measured, each the median of several rounds (wall clock, from the
// first notification until the rows are shown and painted):
//   - fill:    10,000 games added at once (one relay frame's worth of notifications), from an empty list;
//   - replace: one frame that removes 4,000 of the 10,000 games and adds 4,000 others (the removals each
//              notify "rebuild", the additions one game each);
//   - update:  one notification for each of the 10,000 games (a game list that names them all again).

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/log.h>

#include "BenchGui.h"
#include "core/ClientCore.h"
#include "core/GameRecords.h"
#include "ui/GameListPanel.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kGames = 10000;
constexpr uint32_t kReplaced = 4000;
constexpr int kRounds = 5;

Game* MakeGame(uint32_t id)
{
    Game* game = new Game(id);
    game->mName = "Game " + std::to_string(id);
    game->mPlayers = "Alder (Hum) + Birch (Orc) -vs- Cedar (Ud) + Daisy (NE)  Obs: Caster";
    game->mPublisher = "caster";
    game->mStartTime = 1765000000 - id * 7 % 86400;
    game->mState = id % 3 == 0 ? GameStateLive : GameStateFinished;
    game->mKind = 3;
    return game;
}

// Handles what is queued and paints, until the list shows count rows and nothing is pending.
void Settle(wxListCtrl* list, long count)
{
    for (int spin = 0; spin < 1000000; ++spin) {
        wxTheApp->ProcessPendingEvents();
        if (list->GetItemCount() == count && !wxTheApp->HasPendingEvents())
            break;
    }
    wxEventLoopBase::GetActive()->YieldFor(wxEVT_CATEGORY_ALL);
    list->Update();
}

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

} // namespace

int main()
{
    std::vector<double> fill, replace, update;
    const int rc = bench::RunWithGuiToolkit("[Net]\nDatagramPort=0\nSessionPort=0\n", [&] {
        wxGUIEventLoop loop;
        wxEventLoopActivator activate(&loop);
        ClientCore* core = ClientCore::Get();
        wxFrame* frame = new wxFrame(nullptr, wxID_ANY, wxS("bench"), wxPoint(0, 0), wxSize(1260, 520));
        GameListPanel* page = new GameListPanel(frame);
        frame->Show();
        GameListCtrl* list = page->GetList();
        Settle(list, 1);

        for (int round = 0; round < kRounds; ++round) {
            const uint32_t base = 1 + round * 100000;
            auto start = Clock::now();
            for (uint32_t id = base; id < base + kGames; ++id)
                core->AddGame(MakeGame(id));
            Settle(list, kGames);
            fill.push_back(Seconds(Clock::now() - start));

            start = Clock::now();
            for (uint32_t id = base; id < base + kReplaced; ++id)
                core->RemoveGame(id, true);
            for (uint32_t id = base + 50000; id < base + 50000 + kReplaced; ++id)
                core->AddGame(MakeGame(id));
            Settle(list, kGames);
            replace.push_back(Seconds(Clock::now() - start));

            start = Clock::now();
            for (const auto& entry : core->Games())
                ClientCore::PostEvent(page, ClientEventGameList, static_cast<int32_t>(entry.first));
            Settle(list, kGames);
            update.push_back(Seconds(Clock::now() - start));

            core->RemoveGames(0);
            Settle(list, 1);
        }
        frame->Destroy();
        wxTheApp->ProcessPendingEvents();
        wxEventLoopBase::GetActive()->YieldFor(wxEVT_CATEGORY_ALL);
        ClientCore::Get(true);
        return 0;
    });
    if (rc != 0)
        return rc;

    std::printf("games list page, %u rows, median of %d rounds (s):\n", kGames, kRounds);
    std::printf("  fill %u games:                 %.3f\n", kGames, bench::Median(fill));
    std::printf("  replace %u of them in a frame: %.3f\n", kReplaced, bench::Median(replace));
    std::printf("  update all %u rows:            %.3f\n", kGames, bench::Median(update));
    return 0;
}
