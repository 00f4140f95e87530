// The relay messages: ClientCore::HandlePacket acts on every server frame (logon, game list, game
// information, subscription, details, start, data blocks, finish, echo, server texts), and the requests
// the client sends (game list, subscription, unsubscription).

#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

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

// Reads a NUL-terminated string into a fresh value; one that does not lie wholly inside the packet gives
// an empty string and marks the packet's over-read.
std::string ReadText(PacketBuffer& packet)
{
    std::string text;
    packet.ReadString(text);
    return text;
}

void BeginFrame(bcxPacket& frame, RelayMsg id)
{
    frame.WriteHeader(static_cast<uint8_t>(id));
}

// One game-list entry as the relay sends it.
struct ListEntry {
    uint32_t id;
    uint32_t state;
    uint32_t startTime;
    std::string name;
};

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
    BeginFrame(frame, RelayMsg::GameList);
    frame.WriteU32(0xDEADC0DEu);
    frame.UpdateLength();
    if (SendToRelay(frame))
        LogServer(wxS("刷新游戏列表..."));
}

void ClientCore::SubscribeGame(Game* game, bool wantDetails)
{
    // Data that reached its bound is not asked for again: the relay would send it all again, and it would
    // break again at the same place.
    if (!game || (game->mData && game->mData->IsFull()))
        return;
    // A download that broke before its data began has nothing to resume from: start it afresh.
    if (wantDetails && game->mDownloadState == DownloadBroken && !game->mData) {
        game->mDownloadState = DownloadListed;
        DeleteAndNull(game->mResumeCursor);
    }
    mDiscardingData.erase(game->mId);
    bcxPacket frame;
    BeginFrame(frame, RelayMsg::Subscribe);
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
    BeginFrame(frame, RelayMsg::Unsubscribe);
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

RelayStatus ClientCore::HandlePacket()
{
    if (!mRelaySocket || !mIncoming.IsValid())
        return RelayStatus::Close;
    bcxPacket& packet = mIncoming;
    packet.SetCursor(packet.GetHeaderSize());
    packet.ClearOverRead();
    const uint32_t id = packet.GetId();
    switch (static_cast<RelayMsg>(id)) {
    case RelayMsg::Version: return HandleRelayVersion(packet);
    case RelayMsg::Logon: return HandleLogonAnswer(packet);
    case RelayMsg::GameList: return HandleGameList(packet);
    case RelayMsg::GameInfo: return HandleGameInfo(packet);
    case RelayMsg::Subscribe: return HandleSubscribed(packet);
    case RelayMsg::Unsubscribe: return HandleUnsubscribed(packet);
    case RelayMsg::GameDetails: return HandleGameDetails(packet);
    case RelayMsg::GameStart: return HandleGameStart(packet);
    case RelayMsg::GameData: return HandleGameDataBlock(packet);
    case RelayMsg::GameFinished: return HandleGameFinished(packet);
    case RelayMsg::Echo: return HandleEcho(packet);
    case RelayMsg::ErrorCode: return HandleErrorCode(packet);
    case RelayMsg::ServerText: return HandleServerText(packet);
    }
    LogServer(wxString::Format(wxS("Unknown packet 0x%02X received!"), id));
    return RelayStatus::Close;
}

RelayStatus ClientCore::HandleRelayVersion(PacketBuffer& packet)
{
    const uint32_t version = packet.ReadU32();
    if (packet.OverRead())
        return RelayStatus::Malformed;
    if ((version & kVersionMask) != (RelayVersion & kVersionMask)) {
        LogServer(wxS("Relayversion ") + VersionText(RelayVersion) + wxS(" not supported by server"));
        Disconnect(true, wxS("Disconnected: Version mismatch"));
        return RelayStatus::Ok;
    }
    LogServer(wxS("批准..."));
    bcxPacket logon;
    BeginFrame(logon, RelayMsg::Logon);
    logon.WriteString("Brawlcast - Client");
    logon.WriteU32(ClientVersion);
    logon.WriteU8(1);
    logon.WriteU32(version);
    logon.WriteString(mSettings.mUserName);
    logon.WriteString(mSettings.mPassword);
    logon.UpdateLength();
    SendToRelay(logon);
    PostRelayState(wxS("批准..."));
    return RelayStatus::Ok;
}

RelayStatus ClientCore::HandleLogonAnswer(PacketBuffer& packet)
{
    const uint8_t ok = packet.ReadU8();
    if (ok == 0) {
        const std::string reason = ReadText(packet);
        if (packet.OverRead())
            return RelayStatus::Malformed;
        const wxString text = bcx::FromGbk(reason);
        LogServer(text);
        Disconnect(true, wxS("Disconnected: ") + text);
        return RelayStatus::Ok;
    }

    const std::string serverName = ReadText(packet);
    const uint32_t serverVersion = packet.ReadU32();
    const std::string title = ReadText(packet);
    const std::string motd = ReadText(packet);
    const uint32_t inForce = mServerRelayVersion & kVersionMask;
    const bool withIrc = inForce >= kVersion102 && inForce < kVersion200;
    std::string ircServer, ircChannel, url;
    uint16_t ircPort = 0;
    if (withIrc) {
        ircServer = ReadText(packet);
        ircPort = packet.ReadU16();
        ircChannel = ReadText(packet);
    }
    if (inForce >= kVersion102)
        url = ReadText(packet);
    const bool withNews = !packet.OverRead() && packet.Cursor() < packet.Size();
    uint32_t newsWord = 0;
    std::string newsUrl, newsSecondUrl, newsDialogUrl;
    uint8_t newsFlags = 0;
    uint16_t newsWidth = 0, newsHeight = 0;
    if (withNews) {
        newsWord = packet.ReadU32();
        newsUrl = ReadText(packet);
        newsSecondUrl = ReadText(packet);
        newsFlags = packet.ReadU8();
        newsWidth = packet.ReadU16();
        newsHeight = packet.ReadU16();
        newsDialogUrl = ReadText(packet);
    }
    if (packet.OverRead())
        return RelayStatus::Malformed;

    mRelayState = RelayLoggedOn;
    LogServer(wxS("已登陆."));
    if (withIrc) {
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
    if (withNews) {
        mNewsWord = newsWord;
        mNewsUrl = newsUrl;
        mNewsSecondUrl = newsSecondUrl;
        mNewsFlags = newsFlags;
        mNewsWidth = newsWidth;
        mNewsHeight = newsHeight;
        mNewsDialogUrl = newsDialogUrl;
        PostEvent(mStatusTarget, ClientEventNews, 0, wxString());
    }

    mServerInfoText = wxS("Title:\t") + bcx::FromGbk(title) + wxS("\n\nVersion:\t") + bcx::FromGbk(serverName) +
                      wxS(" v") + VersionText(serverVersion) + wxS("\n\nURL:\t") + bcx::FromGbk(url) +
                      wxS("\n\nMotD:\t") + bcx::FromGbk(motd);

    PostRelayState(wxS("已登陆"));
    RequestGameList();
    return RelayStatus::Ok;
}

RelayStatus ClientCore::HandleGameList(PacketBuffer& packet)
{
    const uint32_t listWord = packet.ReadU32();
    if ((mServerRelayVersion & kVersionMask) >= kVersion200)
        packet.ReadU32();
    packet.ReadU32();
    const uint32_t count = packet.ReadU32();
    // Every entry takes at least ten bytes: a count the frame cannot hold is not believed.
    if (packet.OverRead() || count > packet.Remaining() / kMinListEntry) {
        LogServer(wxString::Format(wxS("GameList announces %u games, the message holds at most %u"), count,
                                   packet.Remaining() / kMinListEntry));
        return RelayStatus::Malformed;
    }
    std::vector<ListEntry> entries(count);
    for (ListEntry& entry : entries) {
        entry.id = packet.ReadU32();
        entry.state = packet.ReadU8();
        entry.startTime = packet.ReadU32();
        entry.name = ReadText(packet);
    }
    if (packet.OverRead())
        return RelayStatus::Malformed;

    mListWord = listWord;
    LogServer(wxString::Format(wxS("Got GameList with %d games"), static_cast<int>(count)));
    MarkAllGames();

    bcxPacket batch;
    for (ListEntry& entry : entries) {
        uint32_t state = entry.state;
        if (state >= GameStateCount) {
            LogGame(wxString::Format(wxS("[%08X] listed state %u is unknown, shown as broken"), entry.id, state));
            state = GameStateBroken;
        }

        Game* game = GetGame(entry.id);
        bool isNew = false;
        bool askInfo = false;
        if (!game) {
            game = new Game(entry.id);
            game->mDownloadState = DownloadListed;
            game->mKind = 3;
            isNew = true;
            askInfo = true;
        } else if (game->mState != state || game->mDownloadState == DownloadBroken) {
            askInfo = true;
        }
        game->mName.swap(entry.name);
        game->mState = state;
        game->mStartTime = entry.startTime;
        game->mMark = 0;
        if (isNew && !AddGame(game)) {
            delete game;
            continue;
        }
        if (askInfo) {
            // Each request is a whole frame; all of them go out in one write.
            bcxPacket request;
            BeginFrame(request, RelayMsg::GameInfo);
            request.WriteU32(entry.id);
            request.UpdateLength();
            batch.Write(request.Data(), request.Size());
        }
    }

    RemoveGames(3);
    RemoveUnusedSessions();
    UpdateLanGames(false);

    if (batch.Size() > 0)
        SendToRelay(batch);
    return RelayStatus::Ok;
}

RelayStatus ClientCore::HandleGameInfo(PacketBuffer& packet)
{
    const uint32_t gameId = packet.ReadU32();
    std::string players = ReadText(packet);
    std::string publisher = ReadText(packet);
    const uint32_t length = packet.ReadU32();
    std::string infoText1 = ReadText(packet);
    std::string infoText2 = ReadText(packet);
    const uint32_t infoValue = packet.ReadU32();
    ReadText(packet);  // not used
    Game* game = GetGame(gameId);
    GameInfo received(game ? game->mName : std::string(), static_cast<uint16_t>(mSessionPort));
    received.Read(packet);
    if (packet.OverRead())
        return RelayStatus::Malformed;
    if (!game)
        return RelayStatus::Ok;

    game->mPlayers.swap(players);
    game->mPublisher.swap(publisher);
    game->mLength = length;
    game->mInfoText1.swap(infoText1);
    game->mInfoText2.swap(infoText2);
    game->mInfoValue = infoValue;
    game->mInfoTime = bcx::WallClock::Now();
    game->mSubscribeTime = game->mInfoTime;

    // A broken download resumes when the game is the same and a Warcraft III client watches it; one that
    // broke at the data's bound stays broken.
    const bool full = game->mData && game->mData->IsFull();
    if (game->mInfo && game->mDownloadState == DownloadBroken && !full) {
        if (!SameGameInfo(received, *game->mInfo)) {
            LogServer(wxString::Format(wxS("[%08X] got different gameinfo for broken game"), gameId));
        } else if (IsWatched(gameId)) {
            DeleteAndNull(game->mResumeCursor);
            if (game->mData) {
                // The relay streams the game again from its first entry; the ones held are skipped.
                game->mResumeCursor = new GameDataCursor();
                game->mData->Seek(*game->mResumeCursor, 0);
            }
            // Without data the download starts afresh (SubscribeGame resets it).
            SubscribeGame(game, true);
            LogServer(wxString::Format(wxS("[%08X] Resubscribing broken game"), gameId));
        }
    } else if (!game->mInfo) {
        game->mInfo = new GameInfo(received);
        UpdateLanGames(false);
    }

    PostEvent(mGameListTarget, ClientEventGameRow, static_cast<int32_t>(gameId), wxString());
    return RelayStatus::Ok;
}

RelayStatus ClientCore::HandleSubscribed(PacketBuffer& packet)
{
    const uint32_t gameId = packet.ReadU32();
    const uint8_t ok = packet.ReadU8();
    if (packet.OverRead())
        return RelayStatus::Malformed;
    Game* game = GetGame(gameId);
    if (ok == 0) {
        LogServer(wxS("Game subscription failed"));
        return RelayStatus::Ok;
    }
    if (!game) {
        LogServer(wxS("Game subscription for unknown game received"));
        return RelayStatus::Ok;
    }
    if (game->mSubscription != SubscriptionDetailsRequested) {
        LogServer(wxString::Format(wxS("[%08X] Subscribed. Awaiting gamedata..."), gameId));
        return RelayStatus::Ok;
    }
    LogServer(wxString::Format(wxS("[%08X] Subscribed. Awaiting gamedetails..."), gameId));
    game->mSubscription = SubscriptionAwaitingDetails;
    if (game->mDownloadState == DownloadBroken)
        return RelayStatus::Ok;
    // A watched game keeps its records: the viewer's lobby and replay cursor point into them.
    if (IsWatched(gameId)) {
        if (!game->mDetails)
            game->mDetails = new GameDetails();
        return RelayStatus::Ok;
    }
    DeleteAndNull(game->mDetails);
    game->mDetails = new GameDetails();
    game->mSubscribeTime = bcx::ProgramClock::Now();
    DeleteAndNull(game->mResumeCursor);
    DeleteAndNull(game->mData);
    return RelayStatus::Ok;
}

RelayStatus ClientCore::HandleUnsubscribed(PacketBuffer& packet)
{
    const uint32_t gameId = packet.ReadU32();
    if (packet.OverRead())
        return RelayStatus::Malformed;
    Game* game = GetGame(gameId);
    if (!game) {
        LogServer(wxS("Game unsubscription for unknown game received"));
        return RelayStatus::Ok;
    }
    LogServer(wxString::Format(wxS("[%08X] Unsubscribed."), gameId));
    game->mSubscription = SubscriptionNone;
    return RelayStatus::Ok;
}

RelayStatus ClientCore::HandleGameDetails(PacketBuffer& packet)
{
    const uint32_t gameId = packet.ReadU32();
    if (packet.OverRead())
        return RelayStatus::Malformed;
    LogServer(wxString::Format(wxS("[%08X] Got GameDetails"), gameId));
    Game* game = GetGame(gameId);
    // Read into a copy: the viewer's lobby points into the stored record, which changes only when the
    // whole record was there.
    GameDetails received = game && game->mDetails ? *game->mDetails : GameDetails();
    received.Read(packet);
    if (packet.OverRead())
        return RelayStatus::Malformed;
    if (!game)
        return RelayStatus::Ok;
    if (!game->mDetails)
        game->mDetails = new GameDetails();
    if (game->mDownloadState != DownloadBroken) {
        *game->mDetails = received;
        game->mDownloadState = std::max<uint32_t>(game->mDownloadState, DownloadDetails);
        game->mState = std::max<uint32_t>(game->mState, GameStateAboutToStart);
    }
    PostEvent(mGameListTarget, ClientEventGameRow, static_cast<int32_t>(gameId), wxString());
    return RelayStatus::Ok;
}

RelayStatus ClientCore::HandleGameStart(PacketBuffer& packet)
{
    const uint32_t gameId = packet.ReadU32();
    const uint32_t seed = packet.ReadU32();
    const uint32_t seconds = packet.ReadU32();
    const uint32_t startTime = packet.ReadU32();
    if (packet.OverRead())
        return RelayStatus::Malformed;
    Game* game = GetGame(gameId);
    if (!game || !game->mDetails)
        return RelayStatus::Ok;
    if (seed != game->mDetails->mRandomSeed) {
        LogServer(wxString::Format(wxS("Invalid seed for game 0x%08X on start (%d != %d) !"), gameId,
                                   static_cast<int>(game->mDetails->mRandomSeed), static_cast<int>(seed)));
        PostEvent(mGameListTarget, ClientEventGameRow, static_cast<int32_t>(gameId), wxString());
        return RelayStatus::Ok;
    }
    game->mSecondsToStart = seconds;
    game->mDueTime = bcx::WallClock::Now() + seconds;
    game->mStartTime = startTime;
    game->mSubscription = std::max<uint32_t>(game->mSubscription, SubscriptionStartAnnounced);
    if (seconds > 0) {
        LogServer(wxString::Format(wxS("[%08X] Game starts in %d seconds"), gameId, static_cast<int>(seconds)));
        game->mDownloadState = DownloadStartAnnounced;
        game->mState = std::max<uint32_t>(game->mState, GameStateDelaying);
        return RelayStatus::Ok;
    }
    LogServer(wxString::Format(wxS("[%08X] Details finished. Receiving GameData..."), gameId));
    game->mDownloadState = std::max<uint32_t>(game->mDownloadState, DownloadReceiving);
    game->mState = std::max<uint32_t>(game->mState, GameStateLive);
    if (game->mDownloadState == DownloadBroken)
        return RelayStatus::Ok;
    if (!game->mData) {
        game->mData = new GameData();
    } else if (!game->mResumeCursor && game->mData->Count() > 0) {
        // The data is kept (a viewer may be reading it); the relay streams the game from its first
        // entry again, so the entries held are skipped by position.
        game->mResumeCursor = new GameDataCursor();
        game->mData->Seek(*game->mResumeCursor, 0);
    }
    return RelayStatus::Ok;
}

RelayStatus ClientCore::HandleGameDataBlock(PacketBuffer& packet)
{
    const uint32_t gameId = packet.ReadU32();
    const uint32_t sequence = packet.ReadU32();
    const uint32_t byteCount = packet.ReadU32();
    packet.ReadU32();
    packet.ReadU32();
    // A byte count past the frame's end is one of the frame's own fields running past it.
    if (packet.OverRead() || byteCount > packet.Size() - packet.Cursor())
        return RelayStatus::Malformed;
    Game* game = GetGame(gameId);
    if (!game || !game->mData)
        return RelayStatus::Ok;
    // After a malformed block, or once the game's data reached its bound, the blocks still under way are
    // dropped until the game is subscribed again: storing them would leave a hole in the data.
    if (mDiscardingData.count(gameId))
        return RelayStatus::Ok;

    // A whole frame whose run of entries is not whole is the game's fault, not the frame's: it is handled
    // here (the download stops; nothing of the block is stored; the block is still acknowledged with what
    // the game holds) and the frame counts as handled.
    if (!GameData::IsWholeRun(packet, byteCount)) {
        LogServer(wxString::Format(wxS("[%08X] Malformed data block %u"), gameId, sequence));
        mDiscardingData.insert(gameId);
        UnsubscribeGame(game);
    } else {
        const uint32_t stored = game->mData->ReadBlocks(packet, byteCount, game->mResumeCursor);
        if (game->mDownloadState == DownloadBroken && !game->mResumeCursor)
            game->mDownloadState = DownloadReceiving;
        if (stored == 2) {
            LogGame(wxString::Format(wxS("[%08X] Game data passed %u bytes: download broken"), gameId,
                                     GameData::kMaxTotal));
            game->mDownloadState = DownloadBroken;
            mDiscardingData.insert(gameId);
            UnsubscribeGame(game);
        }
    }

    bcxPacket ack;
    BeginFrame(ack, RelayMsg::GameData);
    ack.WriteU32(gameId);
    ack.WriteU32(sequence);
    ack.WriteU32(game->mData->Total());
    ack.UpdateLength();
    SendToRelay(ack);

    PostEvent(mGameListTarget, ClientEventDownload, static_cast<int32_t>(gameId), wxString());
    return RelayStatus::Ok;
}

RelayStatus ClientCore::HandleGameFinished(PacketBuffer& packet)
{
    const uint32_t gameId = packet.ReadU32();
    const uint32_t entries = packet.ReadU32();
    if (packet.OverRead())
        return RelayStatus::Malformed;
    Game* game = GetGame(gameId);
    if (!game || !game->mData)
        return RelayStatus::Ok;
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
    return RelayStatus::Ok;
}

RelayStatus ClientCore::HandleEcho(PacketBuffer& packet)
{
    const uint32_t value = packet.ReadU32();
    if (packet.OverRead())
        return RelayStatus::Malformed;
    bcxPacket echo;
    BeginFrame(echo, RelayMsg::Echo);
    echo.WriteU32(value);
    echo.UpdateLength();
    SendToRelay(echo);
    return RelayStatus::Ok;
}

RelayStatus ClientCore::HandleErrorCode(PacketBuffer& packet)
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
    const std::string fromServer = code == 0 ? ReadText(packet) : std::string();
    if (packet.OverRead())
        return RelayStatus::Malformed;
    wxString text;
    if (code == 0)
        text = bcx::FromGbk(fromServer);
    else if (code <= kErrorTextCount)
        text = kErrorTexts[code - 1];
    else
        text = wxString::Format(wxS("未知错误 %i.发送错误报告给 Brawlcast 团队!"), static_cast<int>(code));
    ShowServerMessage(text);
    return RelayStatus::Ok;
}

RelayStatus ClientCore::HandleServerText(PacketBuffer& packet)
{
    const std::string text = ReadText(packet);
    if (packet.OverRead())
        return RelayStatus::Malformed;
    ShowServerMessage(bcx::FromGbk(text));
    return RelayStatus::Ok;
}

void ClientCore::ShowServerMessage(const wxString& text)
{
    LogServer(text);
    // The hook shows the text to the user after this handler has returned (no nested event loop here).
    if (mServerMessageHook)
        mServerMessageHook(text);
}
