#include "lanhost/LanGameHost.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <wx/log.h>

#include "analyzer/ActionAnalyzer.h"
#include "core/ClientCore.h"
#include "core/CountingSocket.h"
#include "core/GameRecords.h"
#include "core/Packet.h"
#include "lanhost/ChatOutput.h"
#include "lanhost/GameStreamFilter.h"
#include "platform/ProgramClock.h"
#include "platform/Random.h"
#include "platform/TextCodec.h"

namespace {

bool gTimersEnabled = true;

// The hosts that tick share one 100 ms timer: however many games are offered, and whenever each of them
// was offered, the process wakes up once per tick for all of them.
class SharedTick : public wxTimer {
public:
    void Add(LanGameHost* host)
    {
        mHosts.push_back(host);
        if (!IsRunning())
            Start(LanGameHost::kTickMs);
    }
    // True when no host is left (the timer is stopped then).
    bool Remove(LanGameHost* host)
    {
        mHosts.erase(std::remove(mHosts.begin(), mHosts.end(), host), mHosts.end());
        if (!mHosts.empty())
            return false;
        Stop();
        return true;
    }
    bool Ticking() const { return mTicking; }

    void Notify() override
    {
        // A tick may end hosts or start new ones: every host that is still there at its turn ticks once.
        const std::vector<LanGameHost*> hosts = mHosts;
        mTicking = true;
        for (LanGameHost* host : hosts)
            if (std::find(mHosts.begin(), mHosts.end(), host) != mHosts.end())
                host->Tick();
        mTicking = false;
    }

private:
    std::vector<LanGameHost*> mHosts;
    bool mTicking = false;
};

// Created with the first ticking host, deleted with the last one (kept, stopped, when that one ends
// inside a tick).
std::unique_ptr<SharedTick> gSharedTick;

int DefaultStreamFilter(ActionAnalyzerSet* set, const uint8_t*& data, uint32_t& length, std::vector<std::string>& lines)
{
    return FilterGamePacket(set, data, length, lines);
}
LanGameHost::StreamFilter gStreamFilter = DefaultStreamFilter;

constexpr uint8_t kGameInfo = 0x30;
constexpr uint8_t kCreateGame = 0x31;
constexpr uint8_t kDecreateGame = 0x33;
constexpr uint8_t kPlayerLoaded = 0x08;

constexpr uint32_t kVerboseLobby = 0x1;
constexpr uint32_t kVerboseServerInfo = 0x2;
constexpr uint32_t kVerboseDump = 0x200;

const ClientSettings& Settings()
{
    static const ClientSettings defaults;
    ClientCore* core = ClientCore::Get();
    return core ? core->Settings() : defaults;
}

uint32_t GameIdOf(const Game* game)
{
    return game ? game->mId : 0;
}

// "[%08X:%08X] " + text, the text taken literally.
void LogClient(const Game* game, const LanClient* client, const wxString& text)
{
    wxLogMessage(wxS("%s"), wxString::Format(wxS("[%08X:%08X] "), GameIdOf(game), client->GetConnectionId()) + text);
}

void SubscribeGame(Game* game, bool details)
{
    if (ClientCore* core = ClientCore::Get())
        core->SubscribeGame(game, details);
}

void UnsubscribeGame(Game* game)
{
    if (ClientCore* core = ClientCore::Get())
        core->UnsubscribeGame(game);
}

void SendOrderedServerInfo(bool onlyWhenAllPending)
{
    if (ClientCore* core = ClientCore::Get())
        core->SendOrderedServerInfo(onlyWhenAllPending);
}

void SendDatagram(const warPacket& packet)
{
    if (ClientCore* core = ClientCore::Get())
        core->DatagramSendTo(reinterpret_cast<const char*>(packet.Data()), static_cast<int32_t>(packet.Size()));
}

} // namespace

wxString PacketHexDump(const warPacket& packet, uint32_t maxBytes)
{
    const uint32_t size = packet.Size();
    const uint32_t shown = size < maxBytes ? size : maxBytes;
    wxString line = wxString::Format(wxS("Packet: %s, Type: %d(0x%x), Length: %d, Data:"), packet.GetClassName(),
                                     static_cast<int>(packet.GetId()), static_cast<unsigned>(packet.GetId()),
                                     static_cast<int>(size));
    wxString chars;
    const uint8_t* data = packet.Data();
    for (uint32_t i = 0; i < shown; ++i) {
        line += wxString::Format(wxS(" %02X"), static_cast<unsigned>(data[i]));
        const uint8_t b = data[i];
        chars += (b < 0x20 || b >= 0x80) ? wxUniChar('.') : wxUniChar(b);
        if ((i + 1) % 16 == 0) {
            line += wxS(" ");
            chars += wxS(" ");
        }
    }
    line += wxS(" \"") + chars + wxS("\"");
    if (size > maxBytes)
        line += wxString::Format(wxS(" [%d bytes truncated]"), static_cast<int>(size - maxBytes));
    return line;
}

wxBEGIN_EVENT_TABLE(LanGameHost, wxEvtHandler)
    EVT_SOCKET(LanGameHost::kSocketId, LanGameHost::OnSocketEvent)
    EVT_TIMER(LanGameHost::kTimerId, LanGameHost::OnTimer)
wxEND_EVENT_TABLE()

LanSession* LanGameHost::Factory(Game* game)
{
    return game ? new LanGameHost(game) : nullptr;
}

void LanGameHost::EnableTimers(bool on)
{
    gTimersEnabled = on;
}

LanGameHost::LanGameHost(Game* game) : mGame(game)
{
    if (!mGame || !mGame->mInfo)
        return;
    GameInfo* info = mGame->mInfo;
    ClientCore* core = ClientCore::Get();
    info->mSessionPort = static_cast<uint16_t>(core ? core->GetSessionPort() : 0);
    info->mHostCounter = mGame->mId;
    info->mEntryKey = bcx::ProgramClock::Now();
    info->mInfoA[5] = static_cast<uint8_t>(info->mInfoA[5] | 0x40);
    mTicking = true;
    if (gTimersEnabled) {
        if (!gSharedTick)
            gSharedTick = std::make_unique<SharedTick>();
        gSharedTick->Add(this);
        mOnSharedTick = true;
    }
}

LanGameHost::~LanGameHost()
{
    if (mOnSharedTick && gSharedTick && gSharedTick->Remove(this) && !gSharedTick->Ticking())
        gSharedTick.reset();
    warPacket packet;
    packet.WriteHeader(kDecreateGame);
    packet.WriteU32(GameIdOf(mGame));
    packet.UpdateLength();
    SendDatagram(packet);
    mClients.Clear();
    mPendingRequester.reset();
}

uint32_t LanGameHost::Verbose() const
{
    return static_cast<uint32_t>(Settings().mVerbose);
}

void LanGameHost::SendServerInfo(const sockaddr_in& to)
{
    if (!mGame || !mGame->mInfo)
        return;
    if (Verbose() & kVerboseServerInfo) {
        const uint32_t address = ntohl(to.sin_addr.s_addr);
        wxLogMessage(wxS("[%08X] send svServerInfo to %d.%d.%d.%d:%d"), mGame->mId, static_cast<int>(address >> 24),
                     static_cast<int>((address >> 16) & 0xFF), static_cast<int>((address >> 8) & 0xFF),
                     static_cast<int>(address & 0xFF), static_cast<int>(ntohs(to.sin_port)));
    }
    warPacket packet;
    packet.WriteHeader(kGameInfo);
    mGame->mInfo->WriteLanGameInfo(packet, mGame->mState <= GameStateLive);
    packet.UpdateLength();
    if (ClientCore* core = ClientCore::Get())
        core->DatagramSendTo(reinterpret_cast<const char*>(packet.Data()), static_cast<int32_t>(packet.Size()), to);
}

void LanGameHost::BroadcastCreateGame()
{
    if (!mGame)
        return;
    warPacket packet;
    packet.WriteHeader(kCreateGame);
    packet.WriteU32(mGame->mInfo ? mGame->mInfo->mProduct : 0);
    packet.WriteU32(mGame->mInfo ? mGame->mInfo->mVersion : 0);
    packet.WriteU32(mGame->mId);
    packet.UpdateLength();
    SendDatagram(packet);
}

bool LanGameHost::OnSearchGame(std::unique_ptr<sockaddr_in> requester)
{
    if (!requester)
        return true;
    if (mPendingRequester) {
        SendServerInfo(*requester);
        return true;
    }
    mPendingRequester = std::move(requester);
    mSearchTime = bcx::ProgramClock::Now();
    SendOrderedServerInfo(true);
    return false;
}

void LanGameHost::OnTimer(wxTimerEvent&)
{
    Tick();
}

void LanGameHost::Tick()
{
    if (!mTicking)
        return;
    const uint32_t now = bcx::ProgramClock::Now();
    if (now - mLastAnnounce > static_cast<uint32_t>(Settings().mSessionIdleTime)) {
        mLastAnnounce = now;
        BroadcastCreateGame();
    }
    if (mPendingRequester && now - mSearchTime > kSearchWaitMs) {
        if (Verbose() & kVerboseLobby)
            wxLogMessage(wxS("time is up -> sending ordered serverinfo"));
        SendOrderedServerInfo(false);
    }
    for (uint32_t id : mClients.Ids())
        if (LanClient* client = mClients.Find(id))
            PumpClient(client);
    if (mClients.Empty())
        PostSweep();
}

void LanGameHost::PostSweep()
{
    if (ClientCore* core = ClientCore::Get())
        ClientCore::PostEvent(core, ClientEventGameSweep, 0, wxString());
}

void LanGameHost::AttachClient(std::unique_ptr<LanClient> client)
{
    if (!client || !client->GetSocket())
        return;
    CountingPeerSocket* socket = client->GetSocket();
    socket->SetEventHandler(*this, kSocketId);
    socket->SetNotify(wxSOCKET_INPUT_FLAG | wxSOCKET_LOST_FLAG | wxSOCKET_OUTPUT_FLAG);
    socket->Notify(true);
    socket->SetFlags(wxSOCKET_NOWAIT);
    client->mGame = mGame;
    // A viewer's analyzers exist only from here: a connection that never names a game costs little.
    client->mAnalyzers->Build();
    if (mGame && !mGame->IsReadyForLan() && mGame->mSubscription == SubscriptionNone)
        SubscribeGame(mGame, true);
    LanClient* raw = client.get();
    const uint32_t id = raw->GetConnectionId();
    mClients.Add(std::move(client));
    PumpClient(raw);
    // Bytes that Warcraft III sent behind its join request are this host's now.
    if (mClients.Find(id) && ReadInput(raw) && mClients.Find(id))
        DropIfBroken(raw);
}

void LanGameHost::OnSocketEvent(wxSocketEvent& event)
{
    LanClient* client = mClients.FindBySocket(event.GetSocket());
    if (!client)
        return;
    const uint32_t id = client->GetConnectionId();
    switch (event.GetSocketEvent()) {
    case wxSOCKET_INPUT:
        if (!ReadInput(client)) {
            if (mClients.Empty())
                PostSweep();
            return;
        }
        break;
    case wxSOCKET_LOST:
        LogClient(mGame, client, wxS("Disconnected"));
        mClients.Erase(id);
        return;
    case wxSOCKET_OUTPUT:
        client->GetSocket()->FlushQueue();
        if (client->mClosing && FinishClosing(client)) {
            if (mClients.Empty())
                PostSweep();
            return;
        }
        break;
    default:
        break;
    }
    if (mClients.Find(id))
        DropIfBroken(client);
    if (mClients.Empty())
        PostSweep();
}

bool LanGameHost::DropIfBroken(LanClient* client)
{
    if (!client->IsConnected()) {
        LogClient(mGame, client, wxS("Disconnected."));
        mClients.Erase(client->GetConnectionId());
        return true;
    }
    if (client->SendFailed()) {
        LogClient(mGame, client, wxS("Disconnected, not reading (send backlog full)"));
        mClients.Erase(client->GetConnectionId());
        return true;
    }
    return false;
}

void LanGameHost::RemoveClient(LanClient* client)
{
    mClients.Erase(client->GetConnectionId());
}

bool LanGameHost::ReadInput(LanClient* client)
{
    CountingPeerSocket* socket = client->GetSocket();
    if (!socket)
        return true;
    socket->SetNotify(wxSOCKET_LOST_FLAG | wxSOCKET_OUTPUT_FLAG);
    while (socket->IsConnected()) {
        const ReadResult result = ReadLanPacket(client->mReceivePacket, *socket);
        if (result == ReadResult::Incomplete)
            break;
        if (result == ReadResult::Broken) {
            LogClient(mGame, client, wxS("Disconnected, broken packet"));
            RemoveClient(client);
            return false;
        }
        if (!HandlePacket(client))
            return false;
        client->mReceivePacket.Clear();
    }
    socket->SetNotify(client->mClosing == 2 ? (wxSOCKET_INPUT_FLAG | wxSOCKET_LOST_FLAG)
                                            : (wxSOCKET_INPUT_FLAG | wxSOCKET_LOST_FLAG | wxSOCKET_OUTPUT_FLAG));
    return true;
}

bool LanGameHost::HandlePacket(LanClient* client)
{
    if (!client->GetSocket())
        return false;
    warPacket& packet = client->mReceivePacket;
    if (!packet.IsValid())
        return true;
    packet.SetCursor(packet.GetHeaderSize());
    const uint32_t verbose = Verbose();
    if (verbose & kVerboseDump)
        LogClient(mGame, client, wxS("Recv: ") + PacketHexDump(packet, 1024));
    const uint32_t now = bcx::ProgramClock::Now();
    // Only the log lines need the name as text: a keep-alive costs no conversion.
    const auto name = [client] { return bcx::FromGbk(client->mPlayerName); };

    switch (packet.GetId()) {
    case 0x21:
        LogClient(mGame, client, wxS("'") + name() + wxS("' leaving"));
        RemoveClient(client);
        if (mClients.Empty() && mGame && mGame->mSubscription != SubscriptionNone &&
            mGame->mSubscription != SubscriptionFinished)
            UnsubscribeGame(mGame);
        return false;

    case 0x23:
        LogClient(mGame, client, wxS("'") + name() + wxS("' is ready, game starting"));
        if (mGame && mGame->mDetails) {
            for (uint8_t id = 1; id < GameDetails::kPlayers; ++id) {
                if (!mGame->mDetails->mPlayers[id].mValid)
                    continue;
                warPacket loaded;
                loaded.WriteHeader(kPlayerLoaded);
                loaded.WriteU8(id);
                loaded.UpdateLength();
                client->SendPacket(loaded);
            }
        }
        client->mLoaded = 1;
        client->mLastTimestepReport = now;
        client->mNextReleaseTime = now + 500;
        client->mCursor = GameDataCursor();
        if (mGame && mGame->mData)
            mGame->mData->Seek(client->mCursor, 0);
        break;

    case 0x26:
        if (verbose & kVerboseLobby)
            LogClient(mGame, client, wxS("Recv clInGameData: ") + PacketHexDump(packet, 1024));
        break;

    case 0x27:
        ++client->mKeepAliveCount;
        if (client->mKeepAliveCount == 30 && mGame) {
            if (!mGame->mInfoText1.empty())
                SendSystemMessage(client, mGame->mInfoText1);
            if (!mGame->mInfoText2.empty() && mGame->mInfoValue != 0)
                client->mRepeatTime = now + mGame->mInfoValue * 1000;
            if (Settings().mChangePlayerNames)
                client->ExecuteChatLine("/players");
            if (client->mReplaySpeed == 4.0 && mGame->mData && mGame->mData->LastTime() > 15000) {
                const uint32_t seconds = mGame->mData->LastTime() / 1000;
                SendSystemMessage(client, wxString::Format(wxS("You are %dmin %dsec behind. Speeding up..."),
                                                           static_cast<int>(seconds / 60),
                                                           static_cast<int>(seconds % 60)));
            }
        }
        break;

    case 0x28: {
        const uint8_t receivers = packet.ReadU8();
        packet.Read(nullptr, receivers);
        packet.ReadU8();  // sender
        const uint8_t flag = packet.ReadU8();
        if (packet.ReadError())
            break;
        if (flag == 0x10 || flag == 0x20) {
            if (flag == 0x20)
                packet.ReadU32();
            const uint32_t before = packet.Cursor();
            std::string text;
            packet.ReadString(text);
            if (packet.ReadError() || packet.Cursor() == before)
                break;  // no text with its NUL
            client->ExecuteChatLine(text);
        } else if (flag == 0x11) {
            wxLogMessage(wxS("[0x%08X:0x%08X] Starting game"), GameIdOf(mGame), client->GetConnectionId());
            StartGame(client);
        }
        break;
    }

    case 0x42: {
        packet.ReadU32();
        packet.ReadU8();
        const uint32_t mapSize = packet.ReadU32();
        if (packet.ReadError())
            break;  // a reply without its map size says nothing about the map
        if (mapSize > 0) {
            LogClient(mGame, client, wxString::Format(wxS("validated the map with 0x%08X"), mapSize));
            client->mMapValidated = 1;
            client->PrintWelcome(2);
            if (Settings().mQuickStart) {
                wxLogMessage(wxS("[0x%08X:0x%08X] Starting game"), GameIdOf(mGame), client->GetConnectionId());
                StartGame(client);
            }
        } else {
            const std::string path = mGame && mGame->mInfo ? mGame->mInfo->mMapPath : std::string();
            LogClient(mGame, client, wxS("map '") + bcx::FromGbk(path) + wxS("' not found!"));
            client->PrintWelcome(2);
        }
        break;
    }

    case 0x46:
        client->mPingRoundTrip = now - packet.ReadU32();
        break;

    default:
        LogClient(mGame, client, wxString::Format(wxS("unknown packet: %i"), static_cast<int>(packet.GetId())));
        break;
    }
    return true;
}

void LanGameHost::StartGame(LanClient* client)
{
    SendSystemMessage(client, std::string("Starting game as soon as its ready..."));
    client->mStartRequested = 1;
    if (mGame && mGame->mSubscription < SubscriptionDataOnly)
        SubscribeGame(mGame, false);
}

void LanGameHost::PumpClient(LanClient* client)
{
    if (!client->GetSocket() || !ClientCore::Get() || !mGame)
        return;
    const uint32_t id = client->GetConnectionId();
    if (client->mClosing) {
        FinishClosing(client);
        return;
    }
    if (client->mLoaded)
        PumpGame(client);
    else
        PumpLobby(client);
    if (LanClient* still = mClients.Find(id))
        DropIfBroken(still);
}

void LanGameHost::PumpLobby(LanClient* client)
{
    const uint32_t now = bcx::ProgramClock::Now();
    warPacket ping;
    ping.WriteHeader(0x01);
    ping.WriteU32(now);
    ping.UpdateLength();
    client->SendPacket(ping);

    GameDetails* details = mGame->mDetails;
    if (!details)
        return;
    const uint32_t verbose = Verbose();
    if (now - client->mLastLobbyStep > kLobbyStepMs) {
        client->mLastLobbyStep = now;
        const uint32_t pending = details->mCompleteness & ~client->mLobbyProgress;
        if (!(pending & (GameDetails::kHaveBase | GameDetails::kHaveSlots | GameDetails::kHaveMapCheck |
                         GameDetails::kHavePlayers))) {
            if (mGame->mDownloadState == DownloadStartAnnounced)
                client->PrintStreamingDelay();
        } else {
            if (pending & GameDetails::kHaveBase)
                client->mLobbyProgress |= GameDetails::kHaveBase;
            if (pending & GameDetails::kHaveSlots) {
                SendLobbyRecord(client, 0x04, 0, nullptr);
                client->mLobbyProgress |= GameDetails::kHaveSlots;
                if (verbose & kVerboseLobby)
                    LogClient(mGame, client, wxS("Send SlotInfos"));
            }
            if (pending & GameDetails::kHavePlayers) {
                const uint8_t view = details->GetViewPlayer();
                for (uint8_t id = 1; id < GameDetails::kPlayers; ++id)
                    if (details->mPlayers[id].mValid && id != view)
                        SendLobbyRecord(client, 0x06, id, nullptr);
                client->mLobbyProgress |= GameDetails::kHavePlayers;
                if (verbose & kVerboseLobby)
                    LogClient(mGame, client, wxS("Send PlayerInfos"));
            }
            if (pending & GameDetails::kHaveMapCheck) {
                SendLobbyRecord(client, 0x3D, 0, nullptr);
                client->mLobbyProgress |= GameDetails::kHaveMapCheck;
                LogClient(mGame, client, (verbose & kVerboseLobby) ? wxS("Send MapInfos") : wxS("Send Details"));
                client->PrintWelcome(1);
            }
        }
    }
    if (mGame->mData && client->mStartRequested && !client->mLobbyComplete)
        CompleteLobby(client);
}

void LanGameHost::SendLobbyRecord(LanClient* client, uint8_t id, uint32_t playerId, const std::string* name)
{
    warPacket packet;
    packet.WriteHeader(id);
    if (mGame->mDetails->WriteLanRecord(packet, id, playerId, name) != 0)
        return;
    packet.UpdateLength();
    client->SendPacket(packet);
}

void LanGameHost::CompleteLobby(LanClient* client)
{
    GameDetails* details = mGame->mDetails;
    const ClientSettings& settings = Settings();
    uint32_t n = details->CountObserverSlots();
    if (!settings.mChangePlayerNames)
        n = 1;

    // The chat senders: spread over the observers while there are enough of them, else the system
    // sender's player with the prompt as decoration.
    ChatSender* senders = client->mSenders;
    senders[ChatSenderSystem].mPlayerId = details->GetOtherPlayer(0);
    for (uint32_t k = 1; k < ChatSenderCount; ++k)
        senders[k].mPlayerId = n > k + 1 ? details->GetOtherPlayer(k) : senders[ChatSenderSystem].mPlayerId;
    for (uint32_t k = 0; k < ChatSenderCount; ++k)
        senders[k].mPrefix = n > k + 1 ? std::string() : "[" + settings.mChatPrompts[k] + "] ";

    if (settings.mChangePlayerNames) {
        const uint8_t view = details->GetViewPlayer();
        for (uint8_t id = 1; id < GameDetails::kPlayers; ++id) {
            if (!details->mPlayers[id].mValid || id == view)
                continue;
            const SlotRecord* slot = details->GetPlayerSlot(id);
            if (!IsObserverSlot(*slot) || slot->mPlayerId != id)
                continue;
            std::string name = " ";
            for (uint32_t k = 0; k < ChatSenderCount; ++k) {
                if (senders[k].mPlayerId == id) {
                    name = settings.mChatPrompts[k];
                    break;
                }
            }
            warPacket left;
            left.WriteHeader(0x07);
            left.WriteU8(id);
            left.WriteU32(7);
            left.UpdateLength();
            client->SendPacket(left);
            SendLobbyRecord(client, 0x06, id, &name);
        }
    }

    // The recolouring reaches only the wire: the stored records keep their colours.
    uint8_t colours[GameDetails::kSlots];
    for (int i = 0; i < GameDetails::kSlots; ++i)
        colours[i] = details->mSlots[i].mColour;
    if (settings.mChangeColors)
        AssignSlotColours(*details);
    SendLobbyRecord(client, 0x09, 0, nullptr);
    for (int i = 0; i < GameDetails::kSlots; ++i)
        details->mSlots[i].mColour = colours[i];

    for (uint8_t id : {uint8_t(0x0A), uint8_t(0x0B)}) {
        warPacket countdown;
        countdown.WriteHeader(id);
        countdown.UpdateLength();
        client->SendPacket(countdown);
    }
    client->mLobbyComplete = 1;
    if (mGame->IsReadyForLan() || mGame->mState > GameStateLive)
        client->mReplaySpeed = 1.0;
}

void LanGameHost::AssignSlotColours(GameDetails& details)
{
    uint32_t teamCount[256] = {};
    uint32_t teamOrder[256] = {};
    uint32_t rank[GameDetails::kSlots] = {};
    bool counted[GameDetails::kSlots] = {};
    uint32_t teams = 0;
    uint32_t total = 0;
    uint32_t largest = 0;
    for (int i = 0; i < GameDetails::kSlots; ++i) {
        const SlotRecord& slot = details.mSlots[i];
        if (!slot.mValid || slot.mStatus != kSlotStatusUsed)
            continue;
        const bool human = slot.mPlayerId != 0 && slot.mComputer == 0 && slot.mTeam != kObserverTeam;
        const bool computer = slot.mPlayerId == 0 && slot.mComputer == 1;
        if (!human && !computer)
            continue;
        counted[i] = true;
        rank[i] = ++teamCount[slot.mTeam];
        if (rank[i] == 1)
            teamOrder[slot.mTeam] = ++teams;
        ++total;
        if (teamCount[slot.mTeam] > largest)
            largest = teamCount[slot.mTeam];
    }
    if (teams > 2)
        return;
    if (total <= 2 && largest <= 1) {
        static const uint8_t kFirst[3] = {1, 2, 1};
        static const uint8_t kSecond[3] = {4, 5, 7};
        for (int i = 0; i < GameDetails::kSlots; ++i) {
            if (!counted[i])
                continue;
            const uint32_t r = bcx::Random::Next(3);
            details.mSlots[i].mColour = teamOrder[details.mSlots[i].mTeam] == 1 ? kFirst[r] : kSecond[r];
        }
        return;
    }
    if (total <= 6 && largest <= 3) {
        static const uint8_t kFirst[3] = {5, 0, 7};
        static const uint8_t kSecond[3] = {2, 1, 9};
        for (int i = 0; i < GameDetails::kSlots; ++i) {
            if (!counted[i])
                continue;
            const uint32_t r = rank[i] - 1;
            details.mSlots[i].mColour = teamOrder[details.mSlots[i].mTeam] == 1 ? kFirst[r] : kSecond[r];
        }
    }
}

void LanGameHost::SetStreamFilter(StreamFilter filter)
{
    gStreamFilter = filter;
}

void LanGameHost::SendChatToGame(warPacket& packet, const std::string& text, uint8_t fromPlayer)
{
    warPacket chat;
    BuildChatPacket(chat, text, 1, fromPlayer);
    packet.Write(chat.Data(), chat.Size());
}

void LanGameHost::PumpGame(LanClient* client)
{
    const uint32_t now = bcx::ProgramClock::Now();
    if (now <= client->mNextReleaseTime)
        return;
    GameData* data = mGame->mData;
    const ClientSettings& settings = Settings();

    if (client->mReplaySpeed > 0.0) {
        const double s = client->mReplaySpeed;
        const uint32_t elapsed = now - client->mNextReleaseTime + client->mCarriedRemainder;
        uint32_t budget = static_cast<uint32_t>(static_cast<double>(elapsed) * s);
        warPacket out;
        std::vector<std::string> lines;
        client->mEmptySteps += 1;
        uint32_t r = 2;
        for (;;) {
            const GameDataCursor saved = client->mCursor;
            uint32_t time = 0;
            uint32_t length = 0;
            const uint8_t* bytes = nullptr;
            // Without GameData nothing is held yet.
            r = data ? data->Next(client->mCursor, time, length, bytes, 0, GameData::kNoLimit) : 2;
            if (r == 0) {
                client->mEmptySteps = 0;
                const uint32_t increment = GetActionTimeIncrement(bytes, length);
                const uint32_t step =
                    (client->mLagging && s < 2.0) ? time - client->mLastEntryTime : increment;
                if (step >= budget) {
                    client->mStarvedSteps = 0;
                    client->mCursor = saved;
                    break;
                }
                client->mGameTime += increment;
                int f = 0;
                const uint8_t* sendBytes = bytes;
                uint32_t sendLength = length;
                if (gStreamFilter)
                    f = gStreamFilter(client->mAnalyzers.get(), sendBytes, sendLength, lines);
                if (f == 0)
                    out.Write(sendBytes, sendLength);
                if (sendBytes != bytes) {
                    wxLogMessage(wxS("[free]:           %08X"),
                                 static_cast<unsigned>(reinterpret_cast<uintptr_t>(sendBytes) & 0xFFFFFFFFu));
                    delete[] sendBytes;
                }
                const int sender = f == 1 ? ChatSenderObserver : ChatSenderWizard;
                for (const std::string& line : lines)
                    SendChatToGame(out, DecorateInGameLine(client, sender, line),
                                   static_cast<uint8_t>(client->mSenders[sender].mPlayerId));
                lines.clear();
                client->mLastEntryTime = time;
                budget -= step;
                if (static_cast<double>(client->mCarriedRemainder) * s > static_cast<double>(budget) &&
                    client->mStarvedSteps > 0) {
                    budget = 0;
                    break;
                }
            } else {
                if (r == 2)
                    client->mStarvedSteps += 1;
                break;
            }
        }
        client->mCarriedRemainder = static_cast<uint32_t>(static_cast<double>(budget) / s);
        client->mNextReleaseTime = now;
        if (out.Size() > 0) {
            client->SendPacket(out);
            if (Verbose() & kVerboseDump)
                LogClient(mGame, client, wxS("Send: ") + PacketHexDump(out, 1024));
        }
        if (r == 3) {
            LogClient(mGame, client, wxS("'") + bcx::FromGbk(client->mPlayerName) + wxS("' finished"));
            // The connection closes once everything released has left the send queue.
            client->mClosing = 1;
            FinishClosing(client);
            return;
        }
        if (client->mEmptySteps > 14 && !client->mLagging) {
            client->mReplaySpeed = 0.0;
            SendSystemMessage(client, std::string("Game halted due to lack of data from server."));
            client->mStarvedSteps = 0;
            client->mEmptySteps = -1;
        }
        if (client->mStarvedSteps > 20 && client->mReplaySpeed == 4.0) {
            client->mReplaySpeed = 1.0;
            SendSystemMessage(client, std::string("Reset speed to normal."));
        }
        client->mLagStart = 0;
    } else {
        warPacket keepAlive;
        keepAlive.WriteHeader(0x0C);
        keepAlive.WriteU16(0);
        keepAlive.UpdateLength();
        client->SendPacket(keepAlive);
        if (client->mLagStart == 0)
            client->mLagStart = now;
        const uint32_t lag = std::min<uint32_t>(now - client->mLagStart, 20000);
        client->mNextReleaseTime = now - lag / 4;
        // Resume once enough data lies ahead, or when the download has finished (the rest is all there is).
        if (client->mEmptySteps == -1 && data &&
            (client->mCursor.mTime + 5000 < data->LastTime() || data->IsFinished())) {
            SendSystemMessage(client, std::string("Game data available, resuming game..."));
            client->mReplaySpeed = 1.0;
            client->mNextStatusTime = now - 1;
            client->mEmptySteps = 0;
        }
    }

    // Day-time synchronisation and time shift.
    if (client->mReplaySpeed != client->mSyncSpeed)
        client->mSyncReference = 0;
    if (client->mSyncReference != 0) {
        double v = 1.0;
        if (client->mSyncMode == 1) {
            const uint32_t offset =
                client->mSyncReference - static_cast<uint32_t>(settings.mSyncReactionTime) * 1000 - now;
            const int32_t t = static_cast<int32_t>(GameClockMinutes(client, offset, -1));
            int32_t diff = client->mSyncTarget - t;
            if (diff > 1080)
                diff -= 1440;
            if (diff < -360)
                diff += 1440;
            bool decided = false;
            if (client->mSyncDirection == 0) {
                if (diff > -7 && diff < 7) {
                    v = 1.0;
                    decided = true;
                } else {
                    client->mSyncDirection = diff >= 0 ? 1 : -1;
                    if (diff >= 0) {
                        const int q = diff / 9;
                        SendSystemMessage(client, wxString::Format(wxS("Synchronising... (speeding up about %dmin%dsec)"),
                                                                   q / 60, q % 60));
                    } else {
                        const int q = -diff / 3;
                        SendSystemMessage(client, wxString::Format(wxS("Synchronising... (pausing game about %dmin%dsec)"),
                                                                   q / 60, q % 60));
                    }
                }
            }
            if (!decided) {
                if (client->mSyncDirection == 1) {
                    v = diff > 0 ? 4.0 : 1.0;
                } else {
                    // Signed: a negative difference must keep the game paused.
                    const int32_t waited = static_cast<int32_t>(3 * (now - client->mNextReleaseTime) / 1000);
                    v = diff >= waited ? 1.0 : 0.0;
                }
            }
        } else {
            const int32_t d = client->mSyncTarget;
            if (client->mSyncDirection == 0) {
                client->mSyncDirection = 1;
                if (d >= 0)
                    SendSystemMessage(client, wxString::Format(wxS("Shifting... (speeding up about %dsec)"),
                                                               (d / 1000) / 3));
                else
                    SendSystemMessage(client, wxString::Format(wxS("Shifting... (pausing game about %dsec)"),
                                                               -d / 1000));
            }
            if (d >= 0)
                v = now < client->mSyncReference + static_cast<uint32_t>(d / 3) ? 4.0 : 1.0;
            else
                v = now < client->mSyncReference - client->mNextReleaseTime - static_cast<uint32_t>(d) + now ? 0.0
                                                                                                          : 1.0;
        }
        client->mSyncSpeed = v;
        client->mReplaySpeed = v;
        if (v == 1.0) {
            SendSystemMessage(client, std::string(client->mSyncMode == 1 ? "Synchronising completed!"
                                                                         : "Shifting completed!"));
            if (client->mNextStatusTime == 0)
                client->mNextStatusTime = now - 1;
            client->mSyncReference = 0;
        }
    }

    const uint32_t dataTime = client->mCursor.mTime;
    const uint32_t lastTime = data ? data->LastTime() : 0;
    if (client->mNextStatusTime != 0 && client->mNextStatusTime < now) {
        if (client->mStatusInterval == 0) {
            client->mNextStatusTime = 0;
        } else {
            client->mNextStatusTime += client->mStatusInterval;
            if (client->mNextStatusTime < now)
                client->mNextStatusTime = now + client->mStatusInterval;
        }
        const int32_t ahead = static_cast<int32_t>(lastTime - dataTime) / 1000;
        SendSystemMessage(client, wxString::Format(wxS("Game time %02d:%02d (%s %02d:%02d)"),
                                                   static_cast<int>(dataTime / 1000 / 60),
                                                   static_cast<int>(dataTime / 1000 % 60),
                                                   (data && data->IsFinished()) ? wxS("remaining") : wxS("cached"),
                                                   static_cast<int>(ahead / 60), static_cast<int>(ahead % 60)));
    }
    if (client->mRepeatTime != 0 && client->mRepeatTime < now) {
        client->mRepeatTime = now + mGame->mInfoValue * 1000;
        SendSystemMessage(client, mGame->mInfoText2);
    }
    if (client->mShowTimesteps && now - client->mLastTimestepReport > 1000) {
        SendSystemMessage(client, wxString::Format(wxS("%d/%d bytes -- time %02d:%02d/%02d:%02d"),
                                                   static_cast<int>(client->mCursor.mBytesRead),
                                                   static_cast<int>(data ? data->Total() : 0),
                                                   static_cast<int>(dataTime / 1000 / 60),
                                                   static_cast<int>(dataTime / 1000 % 60),
                                                   static_cast<int>(lastTime / 1000 / 60),
                                                   static_cast<int>(lastTime / 1000 % 60)));
        client->mLastTimestepReport = now;
    }
}

bool LanGameHost::FinishClosing(LanClient* client)
{
    CountingPeerSocket* socket = client->GetSocket();
    const uint32_t now = bcx::ProgramClock::Now();
    if (!socket || client->SendFailed() || !client->IsConnected()) {
        RemoveClient(client);
        return true;
    }
    if (client->mClosing == 1) {
        socket->FlushQueue();
        if (socket->QueuedBytes() > 0)
            return false;
        // Everything is on its way: end the stream and let Warcraft III close. Closing at once could
        // reset the connection while its last keep-alives are unread and cut what it has not received.
        // (The toolkit's ShutdownOutput closes the socket as well; only the sending half ends here.)
        ::shutdown(socket->GetSocket(), SHUT_WR);
        socket->SetNotify(wxSOCKET_INPUT_FLAG | wxSOCKET_LOST_FLAG);
        client->mClosing = 2;
        client->mCloseTime = now;
        return false;
    }
    if (now - client->mCloseTime > kCloseWaitMs) {
        RemoveClient(client);
        return true;
    }
    return false;
}
