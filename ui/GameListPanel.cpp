#include "ui/GameListPanel.h"

#include <algorithm>
#include <ctime>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/config.h>
#include <wx/datetime.h>
#include <wx/log.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>

#include "core/ClientCore.h"
#include "core/GameRecords.h"
#include "lanhost/LanGameHost.h"
#include "lanhost/LanListener.h"
#include "platform/ProgramClock.h"
#include "platform/TextCodec.h"

static_assert(sizeof(wxUIntPtr) > sizeof(uint32_t), "the placeholder marker must not be a game id");

namespace {

constexpr uint32_t kProductTft = 0x57335850; // 'W3XP'
constexpr uint32_t kProductRoc = 0x57415233; // 'WAR3'

const char* const kObsMarker = "  Obs: ";
const char* const kVsMarker = ") -vs- ";
const char* const kPlusMarker = ") + ";

// Minutes up to which the start time is shown with the time since then.
constexpr uint32_t kRecentMinutes = 181;

struct ColumnLayout {
    const char* heading; // UTF-8
    int format;
    int width;
    // A typical longest cell text (UTF-8): the default width grows to show it in the list's font.
    const char* sample;
};

const ColumnLayout kColumns[GameColCount] = {
    {"状态", wxLIST_FORMAT_LEFT, 70, "About to start"},
    {"名称", wxLIST_FORMAT_LEFT, 150, ""},
    {"开始时间", wxLIST_FORMAT_LEFT, 108, "00:00 (180分钟前)"},
    {"长度", wxLIST_FORMAT_RIGHT, 50, "~000分"},
    {"下载", wxLIST_FORMAT_CENTRE, 62, "00m00s"},
    {"发布者", wxLIST_FORMAT_LEFT, 80, ""},
    {"类型", wxLIST_FORMAT_CENTRE, 40, "FFA12"},
    {"玩家", wxLIST_FORMAT_LEFT, 250, ""},
    {"地图", wxLIST_FORMAT_LEFT, 146, ""},
    {"版本", wxLIST_FORMAT_CENTRE, 60, "TFT 1.26"},
};

// Cell padding of the list beside the text.
constexpr int kCellPadding = 16;

const wxColour kOfferedBackground(230, 234, 255);

wxString Utf8(const char* text)
{
    return wxString::FromUTF8(text);
}

wxString LocalTime(uint32_t seconds, const wxString& format)
{
    return wxDateTime(static_cast<time_t>(seconds)).Format(format);
}

wxString MinutesSeconds(uint32_t ms)
{
    return wxString::Format(wxS("%um%02us"), ms / 60000, (ms / 1000) % 60);
}

// The playback position of the first Warcraft III client watching the game; -1 when none watches.
int64_t PlaybackPosition(ClientCore* core, uint32_t gameId)
{
    auto* host = dynamic_cast<LanGameHost*>(core->GetSession(gameId));
    if (!host)
        return -1;
    for (uint32_t id : host->Clients().Ids()) {
        if (LanClient* client = host->FindClient(id))
            return client->mCursor.mTime;
    }
    return -1;
}

int CompareGames(wxUIntPtr item1, wxUIntPtr item2)
{
    ClientCore* core = ClientCore::Get();
    auto lookup = [core](wxUIntPtr value) -> Game* {
        if (!core || value > 0xFFFFFFFFu)
            return nullptr;
        return core->GetGame(static_cast<uint32_t>(value));
    };
    Game* first = lookup(item1);
    Game* second = lookup(item2);
    if (!first)
        return second ? 1 : 0;
    if (!second)
        return -1;
    if (first->mStartTime > second->mStartTime)
        return -1;
    if (first->mStartTime < second->mStartTime)
        return 1;
    return 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// Texts

wxString GameVersion::GetName() const
{
    if (mProduct == 0)
        return wxString();
    const int minor = static_cast<int>(mMinor);
    if (mProduct == kProductTft)
        return wxString::Format(wxS("TFT 1.%02i"), minor);
    if (mProduct == kProductRoc)
        return wxString::Format(wxS("ROC 1.%02i"), minor);
    return wxString::Format(wxS("v1.%02i"), minor);
}

std::string PlayersPart(const std::string& players)
{
    const size_t obs = players.find(kObsMarker);
    return obs == std::string::npos ? players : players.substr(0, obs);
}

std::string GameTypeFromPlayers(const std::string& players)
{
    // The markers begin with ASCII bytes that are never the second byte of a GBK character, so a byte
    // search finds only real markers.
    const std::string part = PlayersPart(players);
    std::string type;
    size_t pos = 0;
    uint32_t team = 1;
    uint32_t largest = 1;
    for (;;) {
        const size_t vs = part.find(kVsMarker, pos);
        const size_t plus = part.find(kPlusMarker, pos);
        if (plus != std::string::npos && (vs == std::string::npos || plus < vs)) {
            ++team;
            pos = plus + 4;
            continue;
        }
        if (vs == std::string::npos)
            break;
        largest = std::max(largest, team);
        type += std::to_string(team) + "v";
        team = 1;
        pos = vs + 7;
    }
    if (pos < part.size())
        type += std::to_string(team);
    largest = std::max(largest, team);
    if (largest == 1 && team == 1) {
        const auto count = static_cast<int>(std::count(type.begin(), type.end(), 'v'));
        if (count > 1)
            type = "FFA" + std::to_string(count + 1);
    }
    return type;
}

std::string MapFileName(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

wxString StartTimeText(uint32_t startTime, uint32_t now)
{
    if (startTime == 0)
        return wxS("-");
    const bool past = now >= startTime;
    const uint32_t minutes = (past ? now - startTime : startTime - now) / 60;
    if (minutes >= kRecentMinutes)
        return LocalTime(startTime, wxS("%H:%M %b%d "));
    wxString text = LocalTime(startTime, wxS("%H:%M"));
    // A start in the future (an announced game, or a clock behind the relay's) has no "ago".
    if (past)
        text += wxString::Format(wxS(" (%u"), minutes) + Utf8("分钟前)");
    return text;
}

wxString LengthText(const Game& game, uint32_t now)
{
    if (game.mState < GameStateLive)
        return wxS("-   ");
    if (game.mState == GameStateLive) {
        // Nothing known yet about the length: no estimate.
        if (game.mInfoTime == 0)
            return wxS("-   ");
        const uint64_t since = now > game.mInfoTime ? now - game.mInfoTime : 0;
        const uint64_t seconds = game.mLength / 1000 + since;
        return wxS("~") + wxString::Format(wxS("%llu"), static_cast<unsigned long long>(seconds / 60)) +
               Utf8("分");
    }
    return wxString::Format(wxS("%u"), game.mLength / 60000) + Utf8("分");
}

wxString DownloadText(const Game& game, int64_t position)
{
    if (!game.mData)
        return game.mDownloadState == DownloadListed ? wxS("-") : wxS("--");
    const uint32_t last = game.mData->LastTime();
    // Percentages only against a known length.
    const bool percent = game.mState == GameStateFinished && game.mLength > 0;
    wxString text;
    if (game.mDownloadState == DownloadFinished)
        text = wxS("done");
    else if (percent)
        text = wxString::Format(wxS("%u%%"),
                                static_cast<unsigned>(std::min<uint64_t>(100, uint64_t(last) * 100 / game.mLength)));
    else
        text = MinutesSeconds(last);
    if (position >= 0) {
        const auto at = static_cast<uint32_t>(std::min<int64_t>(position, 0xFFFFFFFF));
        if (percent)
            text += wxString::Format(
                wxS(" (%u%%)"), static_cast<unsigned>(std::min<uint64_t>(100, uint64_t(at) * 100 / game.mLength)));
        else
            text += wxS(" (") + MinutesSeconds(at) + wxS(")");
    }
    return text;
}

// ---------------------------------------------------------------------------------------------------
// The list

const wxUIntPtr GameListCtrl::kPlaceholder = ~static_cast<wxUIntPtr>(0);

GameListCtrl::GameListCtrl(wxWindow* parent, wxWindowID id)
    // A small real initial size: GTK complains about a scrollbar laid out in a window of no size.
    : wxListCtrl(parent, id, wxDefaultPosition, wxSize(200, 80), wxLC_REPORT | wxLC_VIRTUAL, wxDefaultValidator,
                 wxS("listCtrl"))
{
}

long GameListCtrl::FindGame(uint32_t id) const
{
    const auto found = mRowOfGame.find(id);
    return found == mRowOfGame.end() ? -1 : found->second;
}

long GameListCtrl::AppendGameRow(uint32_t id)
{
    const long row = static_cast<long>(mRows.size());
    mRows.emplace_back();
    mRows.back().data = static_cast<wxUIntPtr>(id);
    mRowOfGame[id] = row;
    RowsChanged();
    return row;
}

long GameListCtrl::InsertPlaceholderRow()
{
    mRows.insert(mRows.begin(), Row());
    mRows.front().data = kPlaceholder;
    Reindex();
    RowsChanged();
    return 0;
}

void GameListCtrl::DeleteRow(long row)
{
    if (!ValidRow(row))
        return;
    mRows.erase(mRows.begin() + row);
    Reindex();
    RowsChanged();
}

void GameListCtrl::DeleteAllRows()
{
    mRows.clear();
    mRowOfGame.clear();
    // Also tells the list's listeners that every row went.
    DeleteAllItems();
    RowsChanged();
}

void GameListCtrl::SortRows(int (*compare)(wxUIntPtr, wxUIntPtr))
{
    std::stable_sort(mRows.begin(), mRows.end(),
                     [compare](const Row& a, const Row& b) { return compare(a.data, b.data) < 0; });
    Reindex();
    Refresh();
}

void GameListCtrl::Reindex()
{
    mRowOfGame.clear();
    for (size_t row = 0; row < mRows.size(); ++row) {
        if (mRows[row].data <= 0xFFFFFFFFu)
            mRowOfGame[static_cast<uint32_t>(mRows[row].data)] = static_cast<long>(row);
    }
}

bool GameListCtrl::GameIdOfRow(long row, uint32_t& id) const
{
    if (!ValidRow(row) || mRows[row].data > 0xFFFFFFFFu)
        return false;
    id = static_cast<uint32_t>(mRows[row].data);
    return true;
}

bool GameListCtrl::IsPlaceholder(long row) const
{
    return ValidRow(row) && mRows[row].data == kPlaceholder;
}

wxString GameListCtrl::GetItemText(long row, int column) const
{
    if (!ValidRow(row) || column < 0 || column >= GameColCount)
        return wxString();
    return mRows[row].cells[column];
}

void GameListCtrl::SetCellText(long row, int column, const wxString& text)
{
    // Unchanged cells are not written again, so that rows do not flicker.
    if (!ValidRow(row) || column < 0 || column >= GameColCount || mRows[row].cells[column] == text)
        return;
    mRows[row].cells[column] = text;
    RefreshItem(row);
}

wxUIntPtr GameListCtrl::GetItemData(long row) const
{
    return ValidRow(row) ? mRows[row].data : 0;
}

wxColour GameListCtrl::GetItemTextColour(long row) const
{
    return ValidRow(row) ? mRows[row].attr.GetTextColour() : wxColour();
}

void GameListCtrl::SetItemTextColour(long row, const wxColour& colour)
{
    if (!ValidRow(row) || mRows[row].attr.GetTextColour() == colour)
        return;
    mRows[row].attr.SetTextColour(colour);
    RefreshItem(row);
}

wxColour GameListCtrl::GetItemBackgroundColour(long row) const
{
    return ValidRow(row) ? mRows[row].attr.GetBackgroundColour() : wxColour();
}

void GameListCtrl::SetItemBackgroundColour(long row, const wxColour& colour)
{
    if (!ValidRow(row) || mRows[row].attr.GetBackgroundColour() == colour)
        return;
    mRows[row].attr.SetBackgroundColour(colour);
    RefreshItem(row);
}

wxString GameListCtrl::OnGetItemText(long row, long column) const
{
    return GetItemText(row, static_cast<int>(column));
}

wxListItemAttr* GameListCtrl::OnGetItemAttr(long row) const
{
    if (!ValidRow(row))
        return nullptr;
    const wxListItemAttr& attr = mRows[row].attr;
    return attr.HasTextColour() || attr.HasBackgroundColour() ? const_cast<wxListItemAttr*>(&attr) : nullptr;
}

void GameListCtrl::RowsChanged()
{
    if (GetItemCount() != static_cast<long>(mRows.size()))
        SetItemCount(static_cast<long>(mRows.size()));
    Refresh();
}

// ---------------------------------------------------------------------------------------------------
// The page

wxBEGIN_EVENT_TABLE(GameListPanel, wxPanel)
    EVT_TIMER(GameListTimeTimerId, GameListPanel::OnTimeTimer)
    EVT_TIMER(GameListRefreshTimerId, GameListPanel::OnRefreshTimer)
    EVT_CLIENT_EVENT(ClientEventGameList, GameListPanel::OnGameList)
    EVT_CLIENT_EVENT(ClientEventGameRow, GameListPanel::OnGameChanged)
    EVT_CLIENT_EVENT(ClientEventDownload, GameListPanel::OnGameProgress)
    EVT_CLIENT_EVENT(ClientEventRelayState, GameListPanel::OnConnectionState)
    EVT_LIST_ITEM_SELECTED(GameListListId, GameListPanel::OnItemSelected)
    EVT_LIST_ITEM_RIGHT_CLICK(GameListListId, GameListPanel::OnItemRightClick)
    EVT_BUTTON(GameListRefreshId, GameListPanel::OnRefresh)
    EVT_CHECKBOX(GameListPlayAllId, GameListPanel::OnPlayAll)
wxEND_EVENT_TABLE()

GameListPanel::GameListPanel(wxWindow* parent)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxNO_BORDER),
      mTimeTimer(this, GameListTimeTimerId), mRefreshTimer(this, GameListRefreshTimerId)
{
    ClientCore* core = ClientCore::Get();

    mRefresh = new wxButton(this, GameListRefreshId, Utf8("刷新列表"));
    mPlayAll = new wxCheckBox(this, GameListPlayAllId, Utf8("在 Warcraft 中播放所有游戏"));
    mPlayAll->SetValue(core && core->Settings().mPlayAllGames != 0);
    mPlayAll->SetToolTip(wxS("Normally only Live-games will be shown in the Warcraft-LAN-screen\n"
                             "or if there are no live-games the newest completed game."));
    mRefresh->Enable(false);

    mList = new GameListCtrl(this, GameListListId);

    wxBoxSizer* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(mRefresh, 0, 0, 0);
    buttons->Add(mPlayAll, 0, wxLEFT | wxALIGN_CENTRE_VERTICAL, 20);
    wxBoxSizer* inner = new wxBoxSizer(wxVERTICAL);
    inner->Add(buttons, 0, wxBOTTOM, 5);
    inner->Add(mList, 1, wxEXPAND);
    wxBoxSizer* outer = new wxBoxSizer(wxVERTICAL);
    outer->Add(inner, 1, wxEXPAND | wxALL, 5);
    SetAutoLayout(true);
    SetSizer(outer);

    for (int column = 0; column < GameColCount; ++column)
        mList->InsertColumn(column, Utf8(kColumns[column].heading), kColumns[column].format, DefaultColumnWidth(column));
    RebuildRows();
    if (mList->GetItemCount() > 0)
        mList->SetItemTextColour(0, *wxBLACK);

    if (wxConfigBase* config = wxConfigBase::Get(false)) {
        config->SetPath(wxS("/GUI"));
        for (int column = 0; column < GameColCount; ++column) {
            const long width = config->ReadLong(ColumnKey(column), 0);
            if (width > 0)
                mList->SetColumnWidth(column, static_cast<int>(width));
        }
    }

    mTimeTimer.Start(15000);

    // The session port, the LAN-search poll and the joined connections live in the listener.
    mListener = new LanListener();
    if (core)
        mListener->BindSessionPort(core->Settings().mSessionPort);
    mListener->StartSearchTimer();

    if (core)
        core->SetGameListTarget(this);
}

GameListPanel::~GameListPanel()
{
    ClientCore* core = ClientCore::Get();
    if (core && core->GetGameListTarget() == this)
        core->SetGameListTarget(nullptr);

    SaveColumnWidths();

    mTimeTimer.Stop();
    mRefreshTimer.Stop();
    // Frees the unattached Warcraft III connections and closes the session port.
    const uint16_t port = mListener->SessionPort();
    delete mListener;
    mListener = nullptr;
    if (core && port != 0 && core->GetSessionPort() == port)
        core->SetSessionPort(0);
}

void GameListPanel::SaveColumnWidths()
{
    if (wxConfigBase* config = wxConfigBase::Get(false)) {
        config->SetPath(wxS("/GUI"));
        for (int column = 0; column < GameColCount; ++column)
            config->Write(ColumnKey(column), static_cast<long>(mList->GetColumnWidth(column)));
    }
}

int GameListPanel::DefaultColumnWidth(int column) const
{
    const ColumnLayout& layout = kColumns[column];
    int width = layout.width;
    // The classic widths were made for a smaller font; texts of this font must not be cut.
    for (const char* text : {layout.heading, layout.sample}) {
        if (*text)
            width = std::max(width, mList->GetTextExtent(Utf8(text)).x + kCellPadding);
    }
    return width;
}

wxString GameListPanel::ColumnKey(int column)
{
    return wxString::Format(wxS("GameListCol%02d"), column);
}

void GameListPanel::RebuildRows()
{
    ClientCore* core = ClientCore::Get();
    mList->Freeze();
    mList->DeleteAllRows();
    if (core) {
        for (const auto& entry : core->Games())
            AddRow(entry.second);
    }
    mList->Thaw();
    PlaceholderCheck();
    SortRows();
}

void GameListPanel::PlaceholderCheck()
{
    if (mList->GetItemCount() > 1) {
        for (long row = mList->GetItemCount() - 1; row >= 0; --row) {
            if (mList->IsPlaceholder(row))
                mList->DeleteRow(row);
        }
    }
    if (mList->GetItemCount() == 0) {
        const long row = mList->InsertPlaceholderRow();
        mList->SetCellText(row, GameColState, wxS(" "));
        mList->SetCellText(row, GameColName, Utf8("没有可观看的游戏"));
    }
}

void GameListPanel::SortRows()
{
    mList->SortRows(CompareGames);
}

void GameListPanel::OnGameList(ClientEvent& event)
{
    if (event.GetValue() == 0)
        mRebuildPending = true;
    else
        mPendingGames.insert(static_cast<uint32_t>(event.GetValue()));
    // Queued behind the notifications already waiting, so that all of them are applied at once.
    if (!mListChangesQueued) {
        mListChangesQueued = true;
        CallAfter(&GameListPanel::ApplyListChanges);
    }
}

void GameListPanel::ApplyListChanges()
{
    mListChangesQueued = false;
    std::unordered_set<uint32_t> ids;
    ids.swap(mPendingGames);
    if (mRebuildPending) {
        mRebuildPending = false;
        RebuildRows();
        return;
    }
    ClientCore* core = ClientCore::Get();
    if (!core)
        return;
    mList->Freeze();
    for (uint32_t id : ids) {
        Game* game = core->GetGame(id);
        if (!game)
            continue;
        // A game already shown gets its row updated, not a second row.
        const long row = mList->FindGame(id);
        if (row >= 0)
            UpdateRow(game, row);
        else
            AddRow(game);
    }
    mList->Thaw();
    PlaceholderCheck();
    SortRows();
}

void GameListPanel::AddRow(Game* game)
{
    if (!game)
        return;
    // Rows live in the list's own table: adding one cannot fail.
    const long row = mList->AppendGameRow(game->mId);
    mList->SetCellText(row, GameColName, bcx::FromGbk(game->mName));
    UpdateRow(game, row);
}

void GameListPanel::UpdateRow(Game* game, long row)
{
    ClientCore* core = ClientCore::Get();
    if (!game || !core || row < 0 || row >= mList->GetItemCount())
        return;

    wxString stateText = GameStateName(game->mState);
    GameStateRgb rgb = GameStateColour(game->mState);
    if (game->mState == GameStateLocal && game->mDownloadState != DownloadFinished) {
        stateText = wxS("Incomplete");
        rgb = GameStateColour(GameStateBroken);
    }
    mList->SetCellText(row, GameColState, stateText);
    mList->SetItemTextColour(row, wxColour(rgb.r, rgb.g, rgb.b));

    const bool offered = core->Settings().mPlayAllGames == 0 && game->mOffer != LanNotOffered &&
                         game->mOffer != LanWithdrawnByUser;
    mList->SetItemBackgroundColour(row, offered ? kOfferedBackground : *wxWHITE);

    mList->SetCellText(row, GameColName, bcx::FromGbk(game->mName));
    SetStartTimeCell(game, row);
    SetLengthCell(game, row);
    SetDownloadCell(game, row);
    mList->SetCellText(row, GameColPublisher, bcx::FromGbk(game->mPublisher));

    const std::string players = PlayersPart(game->mPlayers);
    mList->SetCellText(row, GameColType, wxString::FromAscii(GameTypeFromPlayers(game->mPlayers).c_str()));
    mList->SetCellText(row, GameColPlayers, bcx::FromGbk(players));

    if (game->mDetails) {
        mList->SetCellText(row, GameColMap, bcx::FromGbk(MapFileName(game->mDetails->mMapPath)));
        GameVersion version;
        if (game->mInfo) {
            version.mProduct = game->mInfo->mProduct;
            version.mMinor = game->mInfo->mVersion;
        }
        mList->SetCellText(row, GameColVersion, version.GetName());
    }
}

void GameListPanel::SetStartTimeCell(Game* game, long row)
{
    mList->SetCellText(row, GameColStart, StartTimeText(game->mStartTime, bcx::WallClock::Now()));
}

void GameListPanel::SetLengthCell(Game* game, long row)
{
    const uint32_t now = bcx::WallClock::Now();
    // New data beyond the known length raises it; the live estimate counts from then.
    if (game->mData && game->mLength < game->mData->LastTime()) {
        game->mLength = game->mData->LastTime();
        game->mInfoTime = now;
    }
    mList->SetCellText(row, GameColLength, LengthText(*game, now));
}

void GameListPanel::SetDownloadCell(Game* game, long row)
{
    ClientCore* core = ClientCore::Get();
    const int64_t position = core ? PlaybackPosition(core, game->mId) : -1;
    mList->SetCellText(row, GameColDownload, DownloadText(*game, position));
}

void GameListPanel::OnGameChanged(ClientEvent& event)
{
    ClientCore* core = ClientCore::Get();
    const auto id = static_cast<uint32_t>(event.GetValue());
    const long row = mList->FindGame(id);
    Game* game = core ? core->GetGame(id) : nullptr;
    if (row >= 0 && game)
        UpdateRow(game, row);
}

void GameListPanel::OnGameProgress(ClientEvent& event)
{
    ClientCore* core = ClientCore::Get();
    const auto id = static_cast<uint32_t>(event.GetValue());
    const long row = mList->FindGame(id);
    Game* game = core ? core->GetGame(id) : nullptr;
    if (row >= 0 && game) {
        SetLengthCell(game, row);
        SetDownloadCell(game, row);
    }
}

void GameListPanel::OnTimeTimer(wxTimerEvent&)
{
    ClientCore* core = ClientCore::Get();
    if (!core)
        return;
    for (long row = mList->GetItemCount() - 1; row >= 0; --row) {
        uint32_t id = 0;
        if (!mList->GameIdOfRow(row, id))
            continue;
        if (Game* game = core->GetGame(id)) {
            SetStartTimeCell(game, row);
            SetLengthCell(game, row);
        }
    }
}

void GameListPanel::OnRefresh(wxCommandEvent&)
{
    if (ClientCore* core = ClientCore::Get())
        core->RequestGameList();
    if (!mRefreshTimer.IsRunning())
        mRefreshTimer.StartOnce(5000);
    mRefresh->Enable(false);
}

void GameListPanel::OnRefreshTimer(wxTimerEvent&)
{
    mRefresh->Enable(true);
}

void GameListPanel::OnConnectionState(ClientEvent& event)
{
    if (event.GetValue() == RelayDisconnected) {
        mRefresh->Enable(false);
    } else if (event.GetValue() == RelayLoggedOn) {
        mRefresh->Enable(true);
        mRefresh->SetFocus();
    }
}

void GameListPanel::OnItemSelected(wxListEvent& event)
{
    const long row = event.GetIndex();
    // Rows never stay selected.
    mList->SetItemState(row, 0, wxLIST_STATE_SELECTED);

    ClientCore* core = ClientCore::Get();
    uint32_t id = 0;
    if (!core || core->Settings().mPlayAllGames != 0 || !mList->GameIdOfRow(row, id))
        return;
    Game* game = core->GetGame(id);
    if (!game)
        return;
    if (game->mOffer == LanNotOffered || game->mOffer == LanWithdrawnByUser) {
        game->mOffer = LanOfferedByUser;
    } else if (LanSession* session = core->GetSession(id); session && session->HasClient()) {
        // Only a host with a Warcraft III client attached keeps its offer; a game without a host (its
        // information has not come yet) has nobody watching and is withdrawn. The box goes through the
        // owner: on a closing frame none opens, and the offer simply stays.
        const wxString text = wxS("Cannot deactivate this game, someone is still watching.");
        if (mAskMessageBox)
            mAskMessageBox(text, wxS("Message"));
        else
            wxMessageBox(text, wxS("Message"), wxOK | wxCENTRE, this);
        // The box ran a nested event loop: the game may be gone.
        core = ClientCore::Get();
        game = core ? core->GetGame(id) : nullptr;
        if (!game)
            return;
    } else {
        game->mOffer = LanWithdrawnByUser;
    }
    core->UpdateLanGames(true);
    // The row follows the offer also when no host was created or removed.
    const long current = mList->FindGame(id);
    if (current >= 0 && (game = core->GetGame(id)) != nullptr)
        UpdateRow(game, current);
}

void GameListPanel::OnItemRightClick(wxListEvent& event)
{
    ClientCore* core = ClientCore::Get();
    uint32_t id = 0;
    if (!core || !mList->GameIdOfRow(event.GetIndex(), id))
        return;
    Game* game = core->GetGame(id);
    if (!game)
        return;
    const std::string& players = game->mPlayers;
    const size_t obs = players.find("Obs");
    std::string playerPart = players;
    std::string obsPart;
    if (obs != std::string::npos) {
        playerPart = players.substr(0, obs >= 2 ? obs - 2 : 0);
        obsPart = obs + 5 <= players.size() ? players.substr(obs + 5) : std::string();
    }
    wxLogMessage(wxS("%s"), wxS("[gamedetails] ") + bcx::FromGbk(game->mName));
    wxLogMessage(wxS("     - ID:     %08X"), game->mId);
    wxLogMessage(wxS("%s"), wxS("     - Map:    ") +
                                (game->mDetails ? bcx::FromGbk(game->mDetails->mMapPath) : wxString(wxS("n/a"))));
    wxLogMessage(wxS("%s"), wxS("     - Player: ") + bcx::FromGbk(playerPart));
    wxLogMessage(wxS("%s"), wxS("     - Obs:    ") + bcx::FromGbk(obsPart));
}

void GameListPanel::OnPlayAll(wxCommandEvent&)
{
    ClientCore* core = ClientCore::Get();
    if (!core)
        return;
    const bool on = mPlayAll->GetValue();
    core->Settings().mPlayAllGames = on ? 1 : 0;
    core->UpdateLanGames(false);
    RebuildRows();
    if (wxConfigBase* config = wxConfigBase::Get(false)) {
        config->SetPath(wxS("/Misc"));
        config->Write(Utf8("播放所有游戏"), static_cast<long>(on ? 1 : 0));
    }
}
