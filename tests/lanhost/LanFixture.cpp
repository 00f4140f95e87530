#include "lanhost/LanFixture.h"

#include <cstring>
#include <fstream>

#include "core/GameData.h"
#include "lanhost/LanClient.h"
#include "lanhost/LanGameHost.h"
#include "peers/LanWire.h"
#include "platform/ProgramClock.h"
#include "platform/Registry.h"
#include "support/WxLoopback.h"

namespace lantest {

namespace {

void SetSlot(SlotRecord& slot, uint8_t playerId, uint8_t team, uint8_t colour)
{
    slot.mValid = 1;
    slot.mPlayerId = playerId;
    slot.mDownloadPercent = 100;
    slot.mStatus = kSlotStatusUsed;
    slot.mComputer = 0;
    slot.mTeam = team;
    slot.mColour = colour;
    slot.mRace = 0x20;
    slot.mComputerLevel = 1;
    slot.mHandicap = 100;
}

void SetPlayer(PlayerRecord& player, uint32_t joinCounter, const std::string& name)
{
    player.mValid = 1;
    player.mJoinCounter = joinCounter;
    player.mName = name;
}

} // namespace

std::string RawStatString()
{
    bcxtest::lan::ByteWriter w;
    w.U32(kMapFlags).U8(0).U16(kMapWidth).U16(kMapHeight).U32(kMapCrc);
    return w.Take();
}

void FillRelayInfoBytes(GameInfo& info, const std::string& mapPath)
{
    std::string raw = RawStatString() + mapPath + std::string(1, '\0');
    const std::string enc = bcxtest::lan::EncodeStatString(raw);
    uint8_t first[16];
    first[0] = kInfoPrefixByte;
    std::memcpy(first + 1, enc.data(), 15);
    std::memcpy(info.mInfoA, first, 6);
    std::memcpy(info.mInfoB, first + 6, 6);
    info.mInfoC = static_cast<uint32_t>(first[12]) | static_cast<uint32_t>(first[13]) << 8 |
                  static_cast<uint32_t>(first[14]) << 16 | static_cast<uint32_t>(first[15]) << 24;
}

ClientCore* StartCore(uint16_t lanPort)
{
    bcx::SetFakeRegistryForTesting(false, std::nullopt);
    {
        std::ofstream out("bcxClient.ini", std::ios::binary);
        out << "[Net]\nDatagramPort=0\nSessionPort=0\n";
    }
    bcx::ProgramClock::SetManual(true);
    bcx::ProgramClock::Set(100000);
    LanGameHost::EnableTimers(false);
    // The release is tested on its own here: packets pass unchanged unless a test installs a filter.
    LanGameHost::SetStreamFilter(nullptr);
    ClientCore::SetLanPortForTesting(lanPort);
    ClientCore* core = ClientCore::Get(false);
    return core;
}

ClientCore* StartCoreOnRealTimers(uint16_t lanPort)
{
    ClientCore* core = StartCore(lanPort);
    bcx::ProgramClock::SetManual(false);
    LanGameHost::EnableTimers(true);
    return core;
}

void StopCore()
{
    ClientCore::Get(true);
}

std::unique_ptr<Game> MakeFinishedGame(uint32_t id, const std::string& name, const std::string& mapPath,
                                       uint32_t entries)
{
    auto game = std::make_unique<Game>(id);
    game->mName = name;
    game->mState = GameStateFinished;
    game->mDownloadState = DownloadFinished;
    game->mStartTime = 1700000000;

    auto* info = new GameInfo(name, 0);
    info->mProduct = kProduct;
    info->mVersion = kVersion;
    FillRelayInfoBytes(*info, mapPath);
    info->mMapPath = mapPath;
    info->mSecondText = "Brawlcast";
    info->mInfoD = 0x11223344;
    info->mInfoE = 0x55667788;
    info->mPresent = 1;
    game->mInfo = info;

    auto* details = new GameDetails();
    details->mMapCheckWord = 1;
    details->mMapPath = mapPath;
    details->mMapSize = 0x0001F2A0;
    details->mMapInfo = 0xA1B2C3D4;
    details->mMapChecksum = 0x0BADF00D;
    details->mRandomSeed = 0x12345678;
    details->mLayoutStyle = 0;
    details->mPlayerSlots = 2;
    details->mSlotCount = 4;
    SetSlot(details->mSlots[0], 1, 0, 0);
    SetSlot(details->mSlots[1], 2, 1, 1);
    SetSlot(details->mSlots[2], 3, kObserverTeam, 12);
    SetSlot(details->mSlots[3], 4, kObserverTeam, 12);
    SetPlayer(details->mPlayers[1], 11, "Alpha");
    SetPlayer(details->mPlayers[2], 12, "Bravo");
    SetPlayer(details->mPlayers[3], 13, "Streamer");
    SetPlayer(details->mPlayers[4], 14, "Watcher");
    details->mViewPlayer = 3;
    for (int i = 0; i < 16; ++i)
        details->mJoinAddress[i] = static_cast<uint8_t>(i);
    details->mCompleteness = 15;
    game->mDetails = details;

    auto* data = new GameData();
    for (uint32_t i = 0; i < entries; ++i) {
        const std::string message = ActionMessage(100, static_cast<uint8_t>(1 + i % 2), std::string("\x10\x42", 2));
        data->Append(i * 100, static_cast<uint32_t>(message.size()), reinterpret_cast<const uint8_t*>(message.data()));
    }
    data->Finish();
    game->mData = data;
    return game;
}

std::string ActionMessage(uint16_t increment, uint8_t playerId, const std::string& actions)
{
    bcxtest::lan::ByteWriter blocks;
    blocks.U8(playerId).U16(static_cast<uint16_t>(actions.size())).Bytes(actions);
    bcxtest::lan::ByteWriter body;
    body.U16(increment).U16(static_cast<uint16_t>(bcxtest::lan::Crc32(blocks.Str()) & 0xFFFF)).Bytes(blocks.Str());
    return bcxtest::lan::Frame(0x0C, body.Str());
}

} // namespace lantest

namespace lantest {

void HostedGameTest::SetUp()
{
    ASSERT_TRUE(wc3.Ok());
    hook = std::make_unique<bcxtest::ScopedPumpHook>([this] { wc3.Poll(); });
    core = StartCore(wc3.UdpPort());
    ASSERT_NE(core, nullptr);
    listener = std::make_unique<LanListener>();
    wxIPV4address loopback = bcxtest::LoopbackWxAddress();
    ASSERT_TRUE(listener->BindSessionPort(0, &loopback));
    game = MakeFinishedGame(0x0000BEEF);
    host = std::make_unique<LanGameHost>(game.get());
    listener->SetHostLookup([this](uint32_t id) { return id == game->mId ? host.get() : nullptr; });
}

void HostedGameTest::TearDown()
{
    host.reset();
    listener.reset();
    game.reset();
    StopCore();
    hook.reset();
}

LanClient* HostedGameTest::JoinAndAttach(const bcxtest::JoinOptions& options)
{
    if (!wc3.Join(listener->SessionPort(), game->mId, options))
        return nullptr;
    if (!bcxtest::PumpUntil([&] { return host->Clients().Size() == 1; }))
        return nullptr;
    return host->FindClient(host->Clients().Ids().front());
}

LanClient* HostedGameTest::JoinAndLoad()
{
    LanClient* client = JoinAndAttach();
    if (!client || !bcxtest::PumpUntil([&] { return client->mStartRequested != 0; }))
        return nullptr;
    TickHost();  // completes the lobby
    if (!bcxtest::PumpUntil([&] { return client->mLoaded != 0; }))
        return nullptr;
    return client;
}

void HostedGameTest::TickHost(uint32_t ms, int pumpMs)
{
    bcx::ProgramClock::Advance(ms);
    host->Tick();
    bcxtest::PumpFor(pumpMs);
}

namespace {

size_t CountChatIf(const bcxtest::TestLanClient& wc3, const std::function<bool(const std::string&)>& match)
{
    size_t n = 0;
    for (const auto& chat : wc3.Chats())
        n += match(chat.text);
    return n;
}

} // namespace

size_t HostedGameTest::CountChat(const std::string& text) const
{
    return CountChatIf(wc3, [&](const std::string& chat) { return chat == text; });
}

size_t HostedGameTest::CountChatStartingWith(const std::string& prefix) const
{
    return CountChatIf(wc3, [&](const std::string& chat) { return chat.rfind(prefix, 0) == 0; });
}

size_t HostedGameTest::CountChatHolding(const std::string& fragment) const
{
    return CountChatIf(wc3, [&](const std::string& chat) { return chat.find(fragment) != std::string::npos; });
}

bool HostedGameTest::TickUntil(const std::function<bool()>& pred, int maxTicks)
{
    for (int i = 0; i < maxTicks; ++i) {
        if (pred())
            return true;
        TickHost();
    }
    return pred();
}

} // namespace lantest
