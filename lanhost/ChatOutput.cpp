#include "lanhost/ChatOutput.h"

#include <wx/intl.h>
#include <wx/log.h>

#include "core/ClientCore.h"
#include "core/GameRecords.h"
#include "core/Packet.h"
#include "lanhost/LanClient.h"
#include "platform/TextCodec.h"

namespace {

// The settings of the client core (created on first use); the defaults once it is gone.
const ClientSettings& Settings()
{
    static const ClientSettings defaults;
    ClientCore* core = ClientCore::Get();
    return core ? core->Settings() : defaults;
}

// One decorated line from a chat sender, lobby or in-game form by the client's loaded flag.
void SendDecorated(LanClient* client, int sender, const std::string& line)
{
    const ClientSettings& settings = Settings();
    std::string text;
    if (client->mLoaded)
        text = DecorateInGameLine(client, sender, line);
    else
        text = "[" + settings.mChatPrompts[sender] + "]" + line;
    warPacket packet;
    BuildChatPacket(packet, text, client->mLoaded, static_cast<uint8_t>(client->mSenders[sender].mPlayerId));
    client->SendPacket(packet);
}

} // namespace

void BuildChatPacket(warPacket& packet, const std::string& text, uint8_t inGame, uint8_t fromPlayer)
{
    const uint32_t limit = inGame ? kInGameChatLimit : kLobbyChatLimit;
    const uint32_t n = text.size() > limit ? limit : static_cast<uint32_t>(text.size());
    packet.WriteHeader(0x0F);
    packet.WriteU8(1);
    packet.WriteU8(0xFF);
    packet.WriteU8(fromPlayer);
    packet.WriteU8(inGame ? 0x20 : 0x10);
    if (inGame)
        packet.WriteU32(0);
    packet.Write(text.data(), n);
    packet.WriteU8(0);
    packet.UpdateLength();
}

std::string DecorateInGameLine(const LanClient* client, int sender, const std::string& gbkLine)
{
    const ClientSettings& settings = Settings();
    return client->mSenders[sender].mPrefix + settings.mChatPromptPrefixes[sender] + gbkLine +
           settings.mChatPromptPostfixes[sender];
}

void SendSystemMessage(LanClient* client, const std::string& gbkLine)
{
    if (!client || !client->GetSocket())
        return;
    wxLogMessage(wxS("%s"), wxS("Send system msg: '") + bcx::FromGbk(gbkLine) + wxS("'"));
    SendDecorated(client, ChatSenderSystem, gbkLine);
}

void SendSystemMessage(LanClient* client, const wxString& line)
{
    SendSystemMessage(client, bcx::ToGbk(line));
}

void ForwardLineToGame(LanClient* client, const std::string& gbkLine)
{
    if (!client || !client->GetSocket())
        return;
    SendDecorated(client, ChatSenderIrc, gbkLine);
}

bool OnPlayerLeft(LanClient* client, uint32_t playerId)
{
    if (!client)
        return true;
    const ClientSettings& settings = Settings();
    ChatSender* senders = client->mSenders;
    if (senders[ChatSenderSystem].mPlayerId == playerId) {
        uint32_t next = 0;
        if (client->mGame && client->mGame->mDetails)
            next = client->mGame->mDetails->GetOtherPlayer(0);
        senders[ChatSenderSystem].mPlayerId = next;
        senders[ChatSenderSystem].mPrefix = "[" + settings.mChatPrompts[ChatPromptBcx] + "]";
    }
    for (int k = ChatSenderObserver; k < ChatSenderCount; ++k) {
        if (senders[k].mPlayerId == playerId) {
            senders[k].mPlayerId = senders[ChatSenderSystem].mPlayerId;
            senders[k].mPrefix = "[" + settings.mChatPrompts[k] + "]";
        }
    }
    return true;
}

wxString DescribeSlot(const SlotRecord& slot)
{
    if (!slot.mValid)
        return wxGetTranslation(wxS("<未使用>"));
    if (slot.mStatus == kSlotStatusOpen)
        return wxGetTranslation(wxS("<空闲>"));
    if (slot.mStatus == kSlotStatusClosed)
        return wxGetTranslation(wxS("<已关闭>"));
    if (slot.mComputer) {
        switch (slot.mComputerLevel) {
        case 0:
            return wxGetTranslation(wxS("电脑 (简单)"));
        case 1:
            return wxGetTranslation(wxS("电脑 (中等)"));
        case 2:
            return wxGetTranslation(wxS("电脑 (疯狂)"));
        default:
            return wxString();
        }
    }
    return wxString();
}

uint32_t GameClockMinutes(LanClient* client, uint32_t offset, int32_t time)
{
    uint32_t base = static_cast<uint32_t>(time);
    if (time == -1 && client)
        base = client->mPauseStartGameTime ? client->mPauseStartGameTime : client->mGameTime;
    const uint32_t t = base + offset;
    const double scaled = static_cast<double>(t) * 2.9947;
    const uint32_t truncated = static_cast<uint32_t>(static_cast<uint64_t>(scaled));
    return (truncated / 1000 + 480) % 1440;
}
