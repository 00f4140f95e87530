#pragma once
// The Games page of the main window's notebook: the list of the relay's games (state, name, start time,
// length, download progress, publisher, type, players, map, version), the refresh button and the
// play-all switch. Selecting a row toggles whether the game is offered to the local Warcraft III. The
// page is ClientCore's game-list target (ClientEvent 1000, 1010-1012) and owns the LAN listener: the
// session port on which Warcraft III joins, the LAN-search poll and the joined but unattached clients.

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <wx/listctrl.h>
#include <wx/panel.h>
#include <wx/timer.h>

class ClientEvent;
class Game;
class LanListener;
class wxButton;
class wxCheckBox;

// Control and timer ids of the page.
enum GameListId : int {
    GameListRefreshId = 1000,
    GameListPlayAllId = 1001,
    GameListListId = 1002,
    GameListTimeTimerId = 1101,
    GameListRefreshTimerId = 1102,
};

// The list columns.
enum GameListColumn : int {
    GameColState = 0,
    GameColName,
    GameColStart,
    GameColLength,
    GameColDownload,
    GameColPublisher,
    GameColType,
    GameColPlayers,
    GameColMap,
    GameColVersion,
    GameColCount
};

// A Warcraft III game version: product four-character code ('W3XP', 'WAR3') and minor number.
struct GameVersion {
    uint32_t mProduct = 0;
    uint32_t mMinor = 0;

    // "TFT 1.%02i", "ROC 1.%02i", "v1.%02i" for other products, empty for product 0.
    wxString GetName() const;
};

// The game type of a players text: "1v1", "2v2", "2v2v2", "FFA4"... The observers behind "  Obs: " do
// not count.
std::string GameTypeFromPlayers(const std::string& players);

// The players part of a players text: everything before "  Obs: " (all of it without the marker).
std::string PlayersPart(const std::string& players);

// The file name of a map path (Warcraft III writes backslashes), without its directories.
std::string MapFileName(const std::string& path);

// The cell texts (now: wall-clock seconds since 1970).
wxString StartTimeText(uint32_t startTime, uint32_t now);
wxString LengthText(const Game& game, uint32_t now);
// position: the watching client's playback position in ms, or a negative value without one.
wxString DownloadText(const Game& game, int64_t position);

// The report list of the page: a virtual list that shows its own table of rows, so that thousands of
// rows cost nothing until they are on screen. Row item data: the game id; the placeholder row carries
// kPlaceholder, which is no game id. The row accessors below read and write that table.
class GameListCtrl : public wxListCtrl {
public:
    static const wxUIntPtr kPlaceholder;

    GameListCtrl(wxWindow* parent, wxWindowID id);

    // The row whose item data is the game id; -1 when none.
    long FindGame(uint32_t id) const;
    // Appends a row for the game id; the row.
    long AppendGameRow(uint32_t id);
    // Inserts the placeholder row at the top; the row.
    long InsertPlaceholderRow();
    void DeleteRow(long row);
    void DeleteAllRows();
    // Sorts the rows by their item data with the comparison (negative: first before second).
    void SortRows(int (*compare)(wxUIntPtr, wxUIntPtr));
    // The game id of a row; false for the placeholder row.
    bool GameIdOfRow(long row, uint32_t& id) const;
    // True when the row is the placeholder row.
    bool IsPlaceholder(long row) const;

    wxString GetItemText(long row, int column = 0) const;
    // Writes the cell and shows it; an unchanged text is not written again.
    void SetCellText(long row, int column, const wxString& text);
    wxUIntPtr GetItemData(long row) const;
    wxColour GetItemTextColour(long row) const;
    void SetItemTextColour(long row, const wxColour& colour);
    wxColour GetItemBackgroundColour(long row) const;
    void SetItemBackgroundColour(long row, const wxColour& colour);

protected:
    wxString OnGetItemText(long row, long column) const override;
    wxListItemAttr* OnGetItemAttr(long row) const override;

private:
    struct Row {
        wxUIntPtr data = 0;
        wxString cells[GameColCount];
        wxListItemAttr attr;
    };
    bool ValidRow(long row) const { return row >= 0 && static_cast<size_t>(row) < mRows.size(); }
    // Tells the list how many rows there are and shows them again.
    void RowsChanged();
    // Rebuilds the index of rows by game id after rows moved.
    void Reindex();

    std::vector<Row> mRows;
    // The row of each game id.
    std::unordered_map<uint32_t, long> mRowOfGame;
};

class GameListPanel : public wxPanel {
public:
    // parent: the main window's notebook.
    explicit GameListPanel(wxWindow* parent);
    ~GameListPanel() override;

    // Writes the column widths under /GUI (GameListCol00, ...) into the configuration object; the
    // destructor does it too.
    void SaveColumnWidths();

    // ClientEvent 1010: value 0 rebuilds the list; a game id adds that game's row. The rows follow once
    // for all the notifications queued together (one relay frame can name thousands of games): sorted
    // once, rebuilt at most once.
    void OnGameList(ClientEvent& event);
    void OnGameChanged(ClientEvent& event);
    void OnGameProgress(ClientEvent& event);
    void OnConnectionState(ClientEvent& event);
    void OnRefresh(wxCommandEvent& event);
    void OnPlayAll(wxCommandEvent& event);
    void OnItemSelected(wxListEvent& event);
    void OnItemRightClick(wxListEvent& event);
    void OnTimeTimer(wxTimerEvent& event);
    void OnRefreshTimer(wxTimerEvent& event);

    GameListCtrl* GetList() const { return mList; }
    wxButton* GetRefreshButton() const { return mRefresh; }
    wxCheckBox* GetPlayAllBox() const { return mPlayAll; }
    // The session-port listener; null only when it could not be created.
    LanListener* GetListener() const { return mListener; }

    // Shows a message box for the page, or none when the owner allows none (it is closing). The page's
    // owner sets it, so that the page's boxes follow the owner's rules; without one the page shows a
    // plain box.
    using MessageBoxAsker = std::function<void(const wxString& text, const wxString& caption)>;
    void SetMessageBoxAsker(MessageBoxAsker asker) { mAskMessageBox = std::move(asker); }

    // Configuration key of a column width: "GameListCol%02d".
    static wxString ColumnKey(int column);
    // The width a column starts with when none is saved: the classic width, or wider where the list's
    // font needs it for the heading and a typical cell.
    int DefaultColumnWidth(int column) const;

private:
    // Applies the game-list changes noted since the last call.
    void ApplyListChanges();
    void RebuildRows();
    void AddRow(Game* game);
    void UpdateRow(Game* game, long row);
    void SetStartTimeCell(Game* game, long row);
    void SetLengthCell(Game* game, long row);
    void SetDownloadCell(Game* game, long row);
    void SortRows();
    void PlaceholderCheck();

    wxButton* mRefresh = nullptr;
    wxCheckBox* mPlayAll = nullptr;
    GameListCtrl* mList = nullptr;
    wxTimer mTimeTimer;
    wxTimer mRefreshTimer;
    LanListener* mListener = nullptr;
    MessageBoxAsker mAskMessageBox;
    // Game-list changes waiting for ApplyListChanges.
    std::unordered_set<uint32_t> mPendingGames;
    bool mRebuildPending = false;
    bool mListChangesQueued = false;

    wxDECLARE_EVENT_TABLE();
};
