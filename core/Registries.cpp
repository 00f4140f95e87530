// The registries of ClientCore: the games known from the relay (GameMap) and the LAN game hosts that
// present some of them to the local Warcraft III (SessionMap), and the decision which games are offered.

#include <vector>

#include <wx/log.h>

#include "core/ClientCore.h"
#include "core/GameRecords.h"
#include "core/LanSession.h"
#include "platform/TextCodec.h"

// ---------------------------------------------------------------------------------------------------
// Game registry

bool ClientCore::AddGame(Game* game)
{
    if (!game)
        return false;
    auto found = mGames.find(game->mId);
    if (found == mGames.end()) {
        if (mGames.size() >= kMaxGames) {
            if (!mGamesFull)
                LogGame(wxString::Format(wxS("the games list holds %zu games, the most it keeps; further games "
                                             "are not listed"),
                                         kMaxGames));
            mGamesFull = true;
            return false;
        }
        mGamesFull = false;
        mGames[game->mId] = game;
        PostEvent(mGameListTarget, ClientEventGameList, static_cast<int32_t>(game->mId),
                  bcx::FromGbk(game->mName));
        return true;
    }
    if (found->second == game)
        return true;
    wxString oldName = found->second ? bcx::FromGbk(found->second->mName) : wxString(wxS("null-pointer"));
    LogGame(wxS("[AddGame]ERROR: found old game '") + oldName +
            wxString::Format(wxS("' with same id (%d)"), static_cast<int>(game->mId)));
    return false;
}

Game* ClientCore::GetGame(uint32_t id) const
{
    auto found = mGames.find(id);
    return found == mGames.end() ? nullptr : found->second;
}

bool ClientCore::RemoveGame(uint32_t id, bool deleteIt)
{
    auto found = mGames.find(id);
    if (found == mGames.end())
        return false;
    // The host goes first: it refers to its game.
    if (mSessions.count(id))
        RemoveSession(id, true);
    found = mGames.find(id);
    if (found == mGames.end())
        return false;
    Game* game = found->second;
    mGames.erase(found);
    if (deleteIt)
        delete game;
    PostEvent(mGameListTarget, ClientEventGameList, 0, wxString());
    return true;
}

bool ClientCore::IsWatched(uint32_t id) const
{
    LanSession* session = GetSession(id);
    return session && session->HasClient();
}

void ClientCore::RemoveGames(int32_t mode)
{
    // Choose first, remove afterwards: removing deletes hosts, which must not happen while the map is
    // being walked.
    std::vector<uint32_t> doomed;
    for (auto& entry : mGames) {
        Game* game = entry.second;
        if (!game) {
            doomed.push_back(entry.first);
            continue;
        }
        bool remove;
        switch (mode) {
        case 1:
            remove = game->mKind == 3;
            break;
        case 2:
            remove = game->mKind == 3 && game->mDownloadState < DownloadReceiving;
            break;
        case 3:
            remove = game->mMark && game->mDownloadState < DownloadReceiving;
            if (game->mMark && game->mDownloadState >= DownloadReceiving)
                game->mState = GameStateLocal;
            break;
        default:
            remove = true;
            break;
        }
        // A watched game stays whatever the mode.
        if (remove && !IsWatched(entry.first))
            doomed.push_back(entry.first);
    }
    for (uint32_t id : doomed)
        RemoveGame(id, true);
    PostEvent(mGameListTarget, ClientEventGameList, 0, wxString());
}

void ClientCore::MarkAllGames()
{
    for (auto& entry : mGames)
        if (entry.second)
            entry.second->mMark = 1;
}

void ClientCore::CloseAllGames()
{
    for (auto& entry : mGames) {
        Game* game = entry.second;
        if (!game || game->mDownloadState >= DownloadFinished)
            continue;
        game->mDownloadState = DownloadBroken;
        DeleteAndNull(game->mResumeCursor);
    }
}

void ClientCore::DeleteAllGames()
{
    while (!mGames.empty()) {
        auto first = mGames.begin();
        Game* game = first->second;
        mGames.erase(first);
        delete game;
    }
    mListWord = 0;
}

void ClientCore::LogGame(const wxString& text)
{
    wxLogMessage(wxS("%s"), wxS("[g] ") + text);
}

// ---------------------------------------------------------------------------------------------------
// Session registry

void ClientCore::SetSessionFactory(LanSessionFactory factory)
{
    mSessionFactory = std::move(factory);
}

void ClientCore::AddSession(Game* game)
{
    if (!game)
        return;
    if (mSessions.count(game->mId)) {
        LogSession(wxString::Format(wxS("Trying to add sessions that is already existent: 0x%08X"), game->mId));
        return;
    }
    LanSession* session = mSessionFactory ? mSessionFactory(game) : nullptr;
    if (!session) {
        LogSession(wxString::Format(wxS("No LAN game host can be created for game 0x%08X"), game->mId));
        return;
    }
    mSessions[game->mId] = session;
}

LanSession* ClientCore::GetSession(uint32_t id) const
{
    auto found = mSessions.find(id);
    return found == mSessions.end() ? nullptr : found->second;
}

bool ClientCore::RemoveSession(uint32_t id, bool deleteIt)
{
    auto found = mSessions.find(id);
    if (found == mSessions.end())
        return false;
    LanSession* session = found->second;
    mSessions.erase(found);
    if (deleteIt)
        delete session;
    return true;
}

void ClientCore::RemoveUnusedSessions()
{
    std::vector<uint32_t> unused;
    for (auto& entry : mSessions) {
        LanSession* session = entry.second;
        if (session && !session->HasClient() && session->GetGame())
            unused.push_back(entry.first);
    }
    for (uint32_t id : unused)
        RemoveSession(id, true);
}

void ClientCore::DeleteAllSessions()
{
    while (!mSessions.empty()) {
        auto first = mSessions.begin();
        LanSession* session = first->second;
        mSessions.erase(first);
        delete session;
    }
}

void ClientCore::SendOrderedServerInfo(bool onlyWhenAllPending)
{
    if (onlyWhenAllPending) {
        size_t pending = 0;
        for (auto& entry : mSessions)
            if (entry.second && entry.second->PendingRequester())
                ++pending;
        if (pending != mSessions.size())
            return;
    }
    // Newest game first; every round answers one host, so the walk ends after at most one round per host.
    for (size_t round = 0; round < mSessions.size(); ++round) {
        LanSession* chosen = nullptr;
        uint32_t chosenStart = 0;
        for (auto& entry : mSessions) {
            LanSession* session = entry.second;
            if (!session || !session->PendingRequester())
                continue;
            Game* game = session->GetGame();
            uint32_t start = game ? game->mStartTime : 0;
            if (!chosen || start > chosenStart) {
                chosen = session;
                chosenStart = start;
            }
        }
        if (!chosen)
            return;
        sockaddr_in to = *chosen->PendingRequester();
        chosen->SendServerInfo(to);
        chosen->ClearPendingRequester();
    }
}

void ClientCore::LogSession(const wxString& text)
{
    wxLogMessage(wxS("%s"), wxS("[s] ") + text);
}

// ---------------------------------------------------------------------------------------------------
// Offer decision

void ClientCore::UpdateLanGames(bool notify)
{
    // Pass 1: automatic offers. Live games are offered; when none is live, the newest game is.
    bool anyLive = false;
    Game* newest = nullptr;
    for (auto& entry : mGames) {
        Game* game = entry.second;
        if (!game)
            continue;
        if (IsLiveGameState(game->mState)) {
            anyLive = true;
            if (game->mOffer == LanNotOffered)
                game->mOffer = LanOfferedAuto;
        } else if (game->mOffer == LanOfferedAuto) {
            game->mOffer = LanNotOffered;
        }
        if (!newest || game->mStartTime > newest->mStartTime)
            newest = game;
    }
    if (!anyLive && newest && newest->mOffer == LanNotOffered)
        newest->mOffer = LanOfferedAuto;

    // Pass 2: a host for exactly the offered games (all games with play-all), and for watched ones.
    const bool playAll = mSettings.mPlayAllGames != 0;
    for (auto& entry : mGames) {
        Game* game = entry.second;
        if (!game)
            continue;
        const uint32_t id = entry.first;
        const bool offered = game->mOffer == LanOfferedAuto || game->mOffer == LanOfferedByUser;
        LanSession* session = GetSession(id);
        if (playAll || offered) {
            if (!session && game->mInfo) {
                if (notify)
                    PostEvent(mGameListTarget, ClientEventGameRow, static_cast<int32_t>(id), wxString());
                AddSession(game);
            }
        } else if (session) {
            if (session->HasClient()) {
                game->mOffer = LanOfferedAuto;
            } else {
                RemoveSession(id, true);
                if (notify)
                    PostEvent(mGameListTarget, ClientEventGameRow, static_cast<int32_t>(id), wxString());
            }
        }
    }
}

void ClientCore::OnGameSweep(ClientEvent&)
{
    UpdateLanGames(true);
}
