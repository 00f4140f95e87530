// The relay messages: ClientCore::HandlePacket acts on every server frame (logon, game list, game
// information, subscription, details, start, data blocks, finish, echo, server texts), and the requests
// the client sends (game list, subscription, unsubscription).

#include <algorithm>
#include <string>
#include <unordered_set>

#include <wx/log.h>

#include "core/ClientCore.h"
#include "core/GameRecords.h"
#include "core/LanSession.h"
#include "core/Recording.h"
#include "core/Version.h"
#include "platform/ProgramClock.h"
#include "platform/TextCodec.h"

namespace {

// The relay version gates of the logon answer and the game list compare after masking the patch byte.
constexpr uint32_t kVersionMask = 0xFFFFFF00u;
constexpr uint32_t kVersion102 = 0x01000200u;
constexpr uint32_t kVersion200 = 0x02000000u;

// The smallest game-list entry: u32 id, u8 state, u32 start time, an empty name.
constexpr uint32_t kMinListEntry = 10;

wxString VersionText(uint32_t version)
{
    return wxString::FromAscii(FormatPackedVersion(version).c_str());
}

// Reads a NUL-terminated string; false (out unchanged) when none lies wholly inside the packet.
bool ReadText(PacketBuffer& packet, std::string& out)
{
    const uint32_t before = packet.Cursor();
    std::string text;
    packet.ReadString(text);
    if (packet.Cursor() == before)
        return false;
    out.swap(text);
    return true;
}

bool SameGameInfo(const GameInfo& a, const GameInfo& b)
{
    return a.mProduct == b.mProduct && a.mVersion == b.mVersion && a.mInfoC == b.mInfoC &&
           a.mMapPath == b.mMapPath;
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// Requests

void ClientCore::RequestGameList()
{
    if (!mRelaySocket)
        return;
    bcxPacket frame;
    frame.WriteHeader(0x20);
    frame.WriteU32(0xDEADC0DEu);
    frame.UpdateLength();
    if (SendToRelay(frame))
        LogServer(wxS("刷新游戏列表..."));
}

void ClientCore::SubscribeGame(Game* game, bool wantDetails)
{
    if (!game)
        return;
    // A download that broke before its data began has nothing to resume from: start it afresh.
    if (wantDetails && game->mDownloadState == DownloadBroken && !game->mData) {
        game->mDownloadState = DownloadListed;
        DeleteAndNull(game->mResumeCursor);
    }
    mDiscardingData.erase(game->mId);
    bcxPacket frame;
    frame.WriteHeader(0x22);
    frame.WriteU32(game->mId);
    frame.WriteU32(wantDetails ? 1u : 0u);
    frame.UpdateLength();
    SendToRelay(frame);
    game->mSubscription = wantDetails ? SubscriptionDetailsRequested : SubscriptionDataOnly;
    LogServer(wxString::Format(wxS("[%08X] Subscribing game%s..."), game->mId,
                               wantDetails ? wxS("详细信息") : wxS("")));
}

void ClientCore::UnsubscribeGame(Game* game)
{
    if (!game)
        return;
    bcxPacket frame;
    frame.WriteHeader(0x23);
    frame.WriteU32(game->mId);
    frame.UpdateLength();
    SendToRelay(frame);
    LogServer(wxString::Format(wxS("[%08X] Unsubscribing game..."), game->mId));
}

void ClientCore::SetServerMessageHook(ServerMessageHook hook)
{
    mServerMessageHook = std::move(hook);
}

// ---------------------------------------------------------------------------------------------------
// Server frames

bool ClientCore::HandlePacket()
{
    if (!mRelaySocket || !mIncoming.IsValid())
        return false;
    bcxPacket& packet = mIncoming;
    packet.SetCursor(packet.GetHeaderSize());
    const uint32_t id = packet.GetId();
    switch (id) {
    case 0x00:
        HandleRelayVersion(packet);
        return true;
    case 0x01:
        HandleLogonAnswer(packet);
        return true;
    case 0x20:
        HandleGameList(packet);
        return true;
    case 0x21:
        HandleGameInfo(packet);
        return true;
    case 0x22:
        HandleSubscribed(packet);
        return true;
    case 0x23:
        HandleUnsubscribed(packet);
        return true;
    case 0x24:
        HandleGameDetails(packet);
        return true;
    case 0x25:
        HandleGameStart(packet);
        return true;
    case 0x26:
        HandleGameDataBlock(packet);
        return true;
    case 0x27:
        HandleGameFinished(packet);
        return true;
    case 0x28: {
        const uint32_t value = packet.ReadU32();
        bcxPacket echo;
        echo.WriteHeader(0x28);
        echo.WriteU32(value);
        echo.UpdateLength();
        SendToRelay(echo);
        return true;
    }
    case 0xF2:
        HandleErrorCode(packet);
        return true;
    case 0xF3: {
        std::string text;
        ReadText(packet, text);
        ShowServerMessage(bcx::FromGbk(text));
        return true;
    }
    default:
        LogServer(wxString::Format(wxS("Unknown packet 0x%02X received!"), id));
        return false;
    }
}

void ClientCore::HandleRelayVersion(PacketBuffer& packet)
{
    const uint32_t version = packet.ReadU32();
    if ((version & kVersionMask) != (RelayVersion & kVersionMask)) {
        LogServer(wxS("Relayversion ") + VersionText(RelayVersion) + wxS(" not supported by server"));
        Disconnect(true, wxS("Disconnected: Version mismatch"));
        return;
    }
    LogServer(wxS("批准..."));
    bcxPacket logon;
    logon.WriteHeader(0x01);
    logon.WriteString("Brawlcast - Client");
    logon.WriteU32(ClientVersion);
    logon.WriteU8(1);
    logon.WriteU32(version);
    logon.WriteString(mSettings.mUserName);
    logon.WriteString(mSettings.mPassword);
    logon.UpdateLength();
    SendToRelay(logon);
    PostRelayState(wxS("批准..."));
}

void ClientCore::HandleLogonAnswer(PacketBuffer& packet)
{
    const uint8_t ok = packet.ReadU8();
    if (ok == 0) {
        std::string reason;
        ReadText(packet, reason);
        const wxString text = bcx::FromGbk(reason);
        LogServer(text);
        Disconnect(true, wxS("Disconnected: ") + text);
        return;
    }
    mRelayState = RelayLoggedOn;
    LogServer(wxS("已登陆."));

    std::string serverName, title, motd, url;
    ReadText(packet, serverName);
    const uint32_t serverVersion = packet.ReadU32();
    ReadText(packet, title);
    ReadText(packet, motd);

    const uint32_t inForce = mServerRelayVersion & kVersionMask;
    if (inForce >= kVersion102 && inForce < kVersion200) {
        std::string ircServer, ircChannel;
        ReadText(packet, ircServer);
        const uint16_t ircPort = packet.ReadU16();
        ReadText(packet, ircChannel);
        if (mSettings.mUseAutomaticServer) {
            mIrcServer = ircServer;
            mIrcPort = ircPort;
            mIrcChannel = ircChannel;
        } else {
            mIrcServer = mSettings.mIRCServerName;
            mIrcPort = static_cast<uint16_t>(mSettings.mIRCServerPort);
            mIrcChannel = mSettings.mIRCAutoChannel;
        }
    }
    if (inForce >= kVersion102)
        ReadText(packet, url);

    if (packet.Cursor() < packet.Size()) {
        mNewsWord = packet.ReadU32();
        ReadText(packet, mNewsUrl);
        ReadText(packet, mNewsSecondUrl);
        mNewsFlags = packet.ReadU8();
        mNewsWidth = packet.ReadU16();
        mNewsHeight = packet.ReadU16();
        ReadText(packet, mNewsDialogUrl);
        PostEvent(mStatusTarget, ClientEventNews, 0, wxString());
    }

    mServerInfoText = wxS("Title:\t") + bcx::FromGbk(title) + wxS("\n\nVersion:\t") + bcx::FromGbk(serverName) +
                      wxS(" v") + VersionText(serverVersion) + wxS("\n\nURL:\t") + bcx::FromGbk(url) +
                      wxS("\n\nMotD:\t") + bcx::FromGbk(motd);

    PostRelayState(wxS("已登陆"));
    RequestGameList();
}

void ClientCore::HandleGameList(PacketBuffer& packet)
{
    mListWord = packet.ReadU32();
    if ((mServerRelayVersion & kVersionMask) >= kVersion200)
        packet.ReadU32();
    packet.ReadU32();
    const uint32_t announced = packet.ReadU32();
    // Every entry takes at least ten bytes: the count cannot exceed what the frame holds.
    const uint32_t fits = packet.ReadError() ? 0 : packet.Remaining() / kMinListEntry;
    const uint32_t count = std::min(announced, fits);
    if (count != announced)
        LogServer(wxString::Format(wxS("GameList announces %u games, the message holds at most %u"),
                                   announced, fits));
    LogServer(wxString::Format(wxS("Got GameList with %d games"), static_cast<int>(count)));

    MarkAllGames();

    bcxPacket batch;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t gameId = packet.ReadU32();
        uint32_t state = packet.ReadU8();
        const uint32_t startTime = packet.ReadU32();
        std::string name;
        if (packet.ReadError() || !ReadText(packet, name)) {
            LogServer(wxString::Format(wxS("GameList entry %u of %u is incomplete"), i + 1, count));
            break;
        }
        if (state >= GameStateCount) {
            LogGame(wxString::Format(wxS("[%08X] listed state %u is unknown, shown as broken"), gameId, state));
            state = GameStateBroken;
        }

        Game* game = GetGame(gameId);
        bool isNew = false;
        bool askInfo = false;
        if (!game) {
            game = new Game(gameId);
            game->mDownloadState = DownloadListed;
            game->mKind = 3;
            isNew = true;
            askInfo = true;
        } else if (game->mState != state || game->mDownloadState == DownloadBroken) {
            askInfo = true;
        }
        game->mName = name;
        game->mState = state;
        game->mStartTime = startTime;
        game->mMark = 0;
        if (isNew && !AddGame(game)) {
            delete game;
            continue;
        }
        if (askInfo) {
            // Each request is a whole frame; all of them go out in one write.
            bcxPacket request;
            request.WriteHeader(0x21);
            request.WriteU32(gameId);
            request.UpdateLength();
            batch.Write(request.Data(), request.Size());
        }
    }

    RemoveGames(3);
    RemoveUnusedSessions();
    UpdateLanGames(false);

    if (batch.Size() > 0)
        SendToRelay(batch);
}

void ClientCore::HandleGameInfo(PacketBuffer& packet)
{
    const uint32_t gameId = packet.ReadU32();
    Game* game = GetGame(gameId);
    if (!game)
        return;

    ReadText(packet, game->mPlayers);
    ReadText(packet, game->mPublisher);
    game->mLength = packet.ReadU32();
    ReadText(packet, game->mInfoText1);
    ReadText(packet, game->mInfoText2);
    game->mInfoValue = packet.ReadU32();
    std::string dropped;
    ReadText(packet, dropped);
    game->mInfoTime = bcx::WallClock::Now();
    game->mSubscribeTime = game->mInfoTime;

    if (game->mInfo && game->mDownloadState == DownloadBroken) {
        // A broken download resumes when the game is the same and a Warcraft III client watches it.
        GameInfo received(game->mName, static_cast<uint16_t>(mSessionPort));
        received.Read(packet);
        if (!SameGameInfo(received, *game->mInfo)) {
            LogGame(wxString::Format(wxS("[%08X] got different gameinfo for broken game"), gameId));
        } else if (IsWatched(gameId)) {
            DeleteAndNull(game->mResumeCursor);
            if (game->mData) {
                // The relay streams the game again from its first entry; the ones held are skipped.
                game->mResumeCursor = new GameDataCursor();
                game->mData->Seek(*game->mResumeCursor, 0);
            }
            // Without data the download starts afresh (SubscribeGame resets it).
            SubscribeGame(game, true);
            LogGame(wxString::Format(wxS("[%08X] Resubscribing broken game"), gameId));
        }
    } else if (!game->mInfo) {
        GameInfo* info = new GameInfo(game->mName, static_cast<uint16_t>(mSessionPort));
        info->Read(packet);
        game->mInfo = info;
        UpdateLanGames(false);
    }

    PostEvent(mGameListTarget, ClientEventGameRow, static_cast<int32_t>(gameId), wxString());
}

void ClientCore::HandleSubscribed(PacketBuffer& packet)
{
    const uint32_t gameId = packet.ReadU32();
    const uint8_t ok = packet.ReadU8();
    Game* game = GetGame(gameId);
    if (ok == 0) {
        LogServer(wxS("Game subscription failed"));
        return;
    }
    if (!game) {
        LogServer(wxS("Game subscription for unknown game received"));
        return;
    }
    if (game->mSubscription != SubscriptionDetailsRequested) {
        LogServer(wxString::Format(wxS("[%08X] Subscribed. Awaiting gamedata..."), gameId));
        return;
    }
    LogServer(wxString::Format(wxS("[%08X] Subscribed. Awaiting gamedetails..."), gameId));
    game->mSubscription = SubscriptionAwaitingDetails;
    if (game->mDownloadState == DownloadBroken)
        return;
    // A watched game keeps its records: the viewer's lobby and replay cursor point into them.
    if (IsWatched(gameId)) {
        if (!game->mDetails)
            game->mDetails = new GameDetails();
        return;
    }
    DeleteAndNull(game->mDetails);
    game->mDetails = new GameDetails();
    game->mSubscribeTime = bcx::ProgramClock::Now();
    DeleteAndNull(game->mResumeCursor);
    DeleteAndNull(game->mData);
}

void ClientCore::HandleUnsubscribed(PacketBuffer& packet)
{
    const uint32_t gameId = packet.ReadU32();
    Game* game = GetGame(gameId);
    if (!game) {
        LogServer(wxS("Game unsubscription for unknown game received"));
        return;
    }
    LogServer(wxString::Format(wxS("[%08X] Unsubscribed."), gameId));
    game->mSubscription = SubscriptionNone;
}

void ClientCore::HandleGameDetails(PacketBuffer& packet)
{
    const uint32_t gameId = packet.ReadU32();
    LogServer(wxString::Format(wxS("[%08X] Got GameDetails"), gameId));
    Game* game = GetGame(gameId);
    if (!game)
        return;
    if (!game->mDetails)
        game->mDetails = new GameDetails();
    if (game->mDownloadState != DownloadBroken) {
        game->mDetails->Read(packet);
        game->mDownloadState = std::max<uint32_t>(game->mDownloadState, DownloadDetails);
        game->mState = std::max<uint32_t>(game->mState, GameStateAboutToStart);
    }
    PostEvent(mGameListTarget, ClientEventGameRow, static_cast<int32_t>(gameId), wxString());
}

void ClientCore::HandleGameStart(PacketBuffer& packet)
{
    const uint32_t gameId = packet.ReadU32();
    const uint32_t seed = packet.ReadU32();
    const uint32_t seconds = packet.ReadU32();
    const uint32_t startTime = packet.ReadU32();
    Game* game = GetGame(gameId);
    if (!game || !game->mDetails)
        return;
    if (seed != game->mDetails->mRandomSeed) {
        LogServer(wxString::Format(wxS("Invalid seed for game 0x%08X on start (%d != %d) !"), gameId,
                                   static_cast<int>(game->mDetails->mRandomSeed), static_cast<int>(seed)));
        PostEvent(mGameListTarget, ClientEventGameRow, static_cast<int32_t>(gameId), wxString());
        return;
    }
    game->mSecondsToStart = seconds;
    game->mDueTime = bcx::WallClock::Now() + seconds;
    game->mStartTime = startTime;
    game->mSubscription = std::max<uint32_t>(game->mSubscription, SubscriptionStartAnnounced);
    if (seconds > 0) {
        LogServer(wxString::Format(wxS("[%08X] Game starts in %d seconds"), gameId, static_cast<int>(seconds)));
        game->mDownloadState = DownloadStartAnnounced;
        game->mState = std::max<uint32_t>(game->mState, GameStateDelaying);
        return;
    }
    LogServer(wxString::Format(wxS("[%08X] Details finished. Receiving GameData..."), gameId));
    game->mDownloadState = std::max<uint32_t>(game->mDownloadState, DownloadReceiving);
    game->mState = std::max<uint32_t>(game->mState, GameStateLive);
    if (game->mDownloadState == DownloadBroken)
        return;
    if (!game->mData) {
        game->mData = new GameData();
    } else if (!game->mResumeCursor && game->mData->Count() > 0) {
        // The data is kept (a viewer may be reading it); the relay streams the game from its first
        // entry again, so the entries held are skipped by position.
        game->mResumeCursor = new GameDataCursor();
        game->mData->Seek(*game->mResumeCursor, 0);
    }
}

void ClientCore::HandleGameDataBlock(PacketBuffer& packet)
{
    const uint32_t gameId = packet.ReadU32();
    const uint32_t sequence = packet.ReadU32();
    const uint32_t byteCount = packet.ReadU32();
    packet.ReadU32();
    packet.ReadU32();
    Game* game = GetGame(gameId);
    if (!game || !game->mData)
        return;
    // After a malformed block the blocks still under way are dropped until the game is subscribed again:
    // storing them would leave a hole in the data.
    if (mDiscardingData.count(gameId))
        return;
    if (game->mData->ReadBlocks(packet, byteCount, game->mResumeCursor) == 1) {
        LogServer(wxString::Format(wxS("[%08X] Malformed data block %u"), gameId, sequence));
        mDiscardingData.insert(gameId);
        UnsubscribeGame(game);
    }
    if (game->mDownloadState == DownloadBroken && !game->mResumeCursor)
        game->mDownloadState = DownloadReceiving;

    bcxPacket ack;
    ack.WriteHeader(0x26);
    ack.WriteU32(gameId);
    ack.WriteU32(sequence);
    ack.WriteU32(game->mData->Total());
    ack.UpdateLength();
    SendToRelay(ack);

    PostEvent(mGameListTarget, ClientEventDownload, static_cast<int32_t>(gameId), wxString());
}

void ClientCore::HandleGameFinished(PacketBuffer& packet)
{
    const uint32_t gameId = packet.ReadU32();
    const uint32_t entries = packet.ReadU32();
    Game* game = GetGame(gameId);
    if (!game || !game->mData)
        return;
    if (entries != game->mData->Count()) {
        LogServer(wxString::Format(wxS("0x%08X: incorrect number of packets on finish: is=%d should:%d"), gameId,
                                   static_cast<int>(game->mData->Count()), static_cast<int>(entries)));
    } else {
        LogServer(wxString::Format(wxS("[%08X] Download finished."), gameId));
        game->mData->Finish();
        DeleteAndNull(game->mResumeCursor);
        game->mDownloadState = DownloadFinished;
        game->mState = std::max<uint32_t>(game->mState, GameStateFinished);
        game->mSubscription = SubscriptionFinished;
        if (!mSettings.mGamesPath.empty())
            SaveRecording(*game, mSettings.mGamesPath);
        UpdateLanGames(false);
    }
    PostEvent(mGameListTarget, ClientEventGameRow, static_cast<int32_t>(gameId), wxString());
}

void ClientCore::HandleErrorCode(PacketBuffer& packet)
{
    // The relay's error codes 1 to 9.
    static const wxStringCharType* const kErrorTexts[] = {
        wxS("Error: Login not allowed. You are most likely banned or unknown."),
        wxS("Error: Invalid password."),
        wxS("Error: Packet error. Please report to the Brawlcast dev team. Please attach the log."),
        wxS("Error: Invalid version. Please download the latest Brawlcast client from our website."),
        wxS("Error: You are already logged in. Multiple logins with the same account are disabled."),
        wxS("Error: Out of order packet received. Please report to the Brawlcast dev team. Please attach the log."),
        wxS("Error: Server is full! Try again later!"),
        wxS("Error: Internal server error, report to Brawlcast dev team!"),
        wxS("Error: Out of sequence data block received, report to Brawlcast dev team!"),
    };
    constexpr uint8_t kErrorTextCount = sizeof kErrorTexts / sizeof kErrorTexts[0];

    const uint8_t code = packet.ReadU8();
    wxString text;
    if (code == 0) {
        std::string fromServer;
        ReadText(packet, fromServer);
        text = bcx::FromGbk(fromServer);
    } else if (code <= kErrorTextCount) {
        text = kErrorTexts[code - 1];
    } else {
        text = wxString::Format(wxS("未知错误 %i.发送错误报告给 Brawlcast 团队!"), static_cast<int>(code));
    }
    ShowServerMessage(text);
}

void ClientCore::ShowServerMessage(const wxString& text)
{
    LogServer(text);
    // The hook shows the text to the user after this handler has returned (no nested event loop here).
    if (mServerMessageHook)
        mServerMessageHook(text);
}
