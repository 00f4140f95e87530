#include "lanhost/GameStreamFilter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include <wx/log.h>

#include "analyzer/ActionAnalyzer.h"
#include "core/ClientCore.h"
#include "core/ClientSettings.h"
#include "core/Crc32.h"
#include "core/GameRecords.h"
#include "lanhost/ChatOutput.h"
#include "lanhost/LanClient.h"
#include "platform/TextCodec.h"

namespace {

constexpr uint32_t kActionHeader = 8;       // 0xF7 0x0C, u16 length, u16 increment, u16 checksum
constexpr uint32_t kBlockHeader = 3;        // u8 player id, u16 length of the actions
constexpr uint32_t kMaxMessage = 0xFFFF;    // the u16 length field of a W3GS message
constexpr uint32_t kPingRecordSize = 16;    // one block holding one minimap ping
constexpr uint8_t kNoPlayingSlot = 99;      // ping target when no slot holds a player

uint16_t GetU16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t GetU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void PutU16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

uint32_t LowAddress(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p) & 0xFFFFFFFFu);
}

// Sizes of the actions, id byte included. 0: not an action id; kVariable: computed from the bytes.
constexpr uint8_t kVariable = 0xFF;

struct ActionSizeTable {
    uint8_t size[256] = {};
    constexpr ActionSizeTable()
    {
        Set(1, {0x01, 0x02, 0x04, 0x05, 0x20, 0x22, 0x23, 0x24, 0x25, 0x26, 0x29, 0x2A, 0x2B, 0x2C, 0x2F, 0x30,
                0x31, 0x32, 0x61, 0x66, 0x67});
        Set(2, {0x03, 0x19, 0x75});
        Set(3, {0x18});
        Set(5, {0x07, 0x2E});
        Set(6, {0x1E, 0x27, 0x28, 0x2D, 0x50});
        Set(9, {0x1D, 0x21});
        Set(10, {0x1B, 0x1C, 0x51});
        Set(13, {0x62, 0x68});
        Set(15, {0x10});
        Set(17, {0x69, 0x6A});
        Set(23, {0x11});
        Set(31, {0x12});
        Set(39, {0x13});
        Set(44, {0x14});
        Set(kVariable, {0x06, 0x16, 0x17, 0x1A, 0x60});
    }
    constexpr void Set(uint8_t actionSize, std::initializer_list<uint8_t> ids)
    {
        for (uint8_t id : ids)
            size[id] = actionSize;
    }
};

constexpr ActionSizeTable kActionSizes;

// Size of an action whose NUL-terminated text starts at offset textOffset. The scan stops at the block
// end; without a NUL there the action is taken to end one byte behind the block (a size error).
uint32_t TextActionSize(const uint8_t* data, uint32_t pos, uint32_t blockEnd, uint32_t textOffset)
{
    const uint32_t from = pos + textOffset;
    if (from < blockEnd) {
        const void* nul = std::memchr(data + from, 0, blockEnd - from);
        if (nul)
            return static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - (data + pos)) + 1;
    }
    return std::max(blockEnd - pos, textOffset) + 1;
}

// Size of the action at pos, reading nothing at or behind blockEnd; 0 for an id outside the table.
uint32_t ActionSize(const uint8_t* data, uint32_t pos, uint32_t blockEnd)
{
    const uint8_t id = data[pos];
    const uint8_t fixed = kActionSizes.size[id];
    if (fixed != kVariable)
        return fixed;
    switch (id) {
    case 0x06:
        return TextActionSize(data, pos, blockEnd, 1);
    case 0x60:
        return TextActionSize(data, pos, blockEnd, 9);
    case 0x16:
    case 0x17:
        // Without its count the action cannot end inside the block.
        if (pos + 4 > blockEnd)
            return 4;
        return 4 + 8 * static_cast<uint32_t>(GetU16(data + pos + 2));
    case 0x1A:
        return (pos + 1 < blockEnd && data[pos + 1] == 0x19) ? 14 : 1;
    default:
        return 0;
    }
}

// The analyzer flag that lets a category be reported; 0 for categories that never are.
uint32_t CategoryFlag(uint32_t category)
{
    switch (category) {
    case kCategoryBuilding: return AnalyzerBuildings;
    case kCategoryUnit:
    case kCategoryReviveHero:
    case kCategoryNeutralUnit: return AnalyzerUnits;
    case kCategoryResearch: return AnalyzerResearch;
    case kCategoryItem: return AnalyzerItems;
    case kCategoryHeroAbility: return AnalyzerHeroAbilities;
    default: return 0;
    }
}

const char kUnknownName[] = "unknown";

// The name of a player id of the stream; ids above 12 have no record.
const std::string& PlayerName(const GameDetails* details, uint32_t playerId)
{
    static const std::string unknown(kUnknownName);
    if (!details || playerId >= static_cast<uint32_t>(GameDetails::kPlayers))
        return unknown;
    return details->mPlayers[playerId].mName;
}

// The name of the player in a slot given by the stream; slot indexes outside the 12 slots are unknown.
const std::string& SlotPlayerName(const GameDetails* details, uint32_t slotIndex)
{
    static const std::string unknown(kUnknownName);
    if (!details || slotIndex >= static_cast<uint32_t>(GameDetails::kSlots))
        return unknown;
    return PlayerName(details, details->mSlots[slotIndex].mPlayerId);
}

// Whether the player sits in an observer slot (team 12). Ids without a slot of their own are no observers.
bool IsObserver(GameDetails* details, uint32_t playerId)
{
    if (!details || playerId == 0 || playerId >= static_cast<uint32_t>(GameDetails::kPlayers))
        return false;
    const SlotRecord* slot = details->GetPlayerSlot(static_cast<uint8_t>(playerId));
    return slot->mPlayerId == playerId && slot->mTeam == kObserverTeam;
}

// The player whose block a moved minimap ping goes to.
uint8_t PingTarget(const LanClient* client, const GameDetails* details, uint32_t pingSetting)
{
    if (pingSetting & PingToSystemSender)
        return static_cast<uint8_t>(client->mSenders[ChatSenderSystem].mPlayerId);
    if (details) {
        for (const SlotRecord& slot : details->mSlots)
            if (slot.mTeam != kObserverTeam)
                return slot.mPlayerId;
    }
    return kNoPlayingSlot;
}

// The text of a chat message from offset to its NUL or the end of the message.
std::string ChatText(const uint8_t* data, uint32_t length, uint32_t offset)
{
    if (offset >= length)
        return std::string();
    const void* nul = std::memchr(data + offset, 0, length - offset);
    const uint32_t end = nul ? static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - data) : length;
    return std::string(reinterpret_cast<const char*>(data + offset), end - offset);
}

// The message being filtered: the stored bytes until the first change, then a private new[] copy with
// room to grow.
class PacketCopy {
public:
    PacketCopy(const uint8_t* stored, uint8_t* own, uint32_t length, uint32_t capacity)
        : mStored(stored), mOwn(own), mCapacity(own ? capacity : 0), mLength(length)
    {
    }

    const uint8_t* Bytes() const { return mOwn ? mOwn : mStored; }
    uint8_t* Own() { return mOwn; }
    bool Copied() const { return mOwn != nullptr; }
    uint32_t Length() const { return mLength; }
    void SetLength(uint32_t length) { mLength = length; }

    // Makes sure the private copy exists and holds newLength bytes; the first copy logs
    // "[malloc]<firstTag>", every later change of size "[malloc]<growTag>" (new length, address).
    void Prepare(uint32_t newLength, int firstTag, int growTag, uint32_t slack)
    {
        if (!mOwn) {
            mCapacity = std::max(newLength, mLength) + slack;
            mOwn = new uint8_t[mCapacity];
            std::memcpy(mOwn, mStored, mLength);
            wxLogMessage(wxS("[malloc]%d: %5d  %08X"), firstTag, static_cast<int>(newLength), LowAddress(mOwn));
            return;
        }
        if (growTag < 0)
            return;
        if (newLength > mCapacity) {
            const uint32_t capacity = newLength + slack;
            uint8_t* grown = new uint8_t[capacity];
            std::memcpy(grown, mOwn, mLength);
            delete[] mOwn;
            mOwn = grown;
            mCapacity = capacity;
        }
        wxLogMessage(wxS("[malloc]%d: %5d  %08X"), growTag, static_cast<int>(newLength), LowAddress(mOwn));
    }

    // Opens n bytes at offset (length grows by n); room must have been prepared.
    void Open(uint32_t offset, uint32_t n)
    {
        std::memmove(mOwn + offset + n, mOwn + offset, mLength - offset);
        mLength += n;
    }

    // Removes the bytes [from, to).
    void Cut(uint32_t from, uint32_t to)
    {
        std::memmove(mOwn + from, mOwn + to, mLength - to);
        mLength -= to - from;
    }

private:
    const uint8_t* mStored;
    uint8_t* mOwn;
    uint32_t mCapacity;
    uint32_t mLength;
};

// Room kept in a private copy for the rewriting that usually follows (a few moved pings).
constexpr uint32_t kCopySlack = 64;

void Isolate(PacketCopy& packet, uint32_t& pos, uint32_t& blockEnd, uint32_t& blockStart, uint32_t size,
             uint8_t playerId, uint32_t slack)
{
    const bool first = pos == blockStart + kBlockHeader;
    const bool last = pos + size == blockEnd;
    const uint32_t grow = (first ? 0 : kBlockHeader) + (last ? 0 : kBlockHeader);
    packet.Prepare(packet.Length() + grow, 1, 2, slack);
    uint8_t* data = packet.Own();
    if (!first) {
        packet.Open(pos, kBlockHeader);
        data = packet.Own();
        PutU16(data + blockStart + 1, pos - blockStart - kBlockHeader);
        blockStart = pos;
        pos += kBlockHeader;
        blockEnd += kBlockHeader;
    }
    data[pos - 3] = playerId;
    PutU16(data + pos - 2, size);
    if (!last) {
        packet.Open(pos + size, kBlockHeader);
        data = packet.Own();
        data[pos + size] = playerId;
        PutU16(data + pos + size + 1, blockEnd - pos - size);
        blockEnd = pos + size;
    }
}

void Remove(PacketCopy& packet, uint32_t& pos, uint32_t& blockEnd, uint32_t& blockStart, uint32_t size,
            uint8_t playerId, uint32_t slack)
{
    Isolate(packet, pos, blockEnd, blockStart, size, playerId, slack);
    packet.Cut(blockStart, blockEnd);
    blockEnd = blockStart;
    pos = blockStart - size;
}

struct PendingPing {
    uint8_t x[4];
    uint8_t y[4];
};

// The pings queued for the end of one message: a few inline, more on the heap.
class PingQueue {
public:
    void Push(const uint8_t* x, const uint8_t* y)
    {
        PendingPing ping;
        std::memcpy(ping.x, x, 4);
        std::memcpy(ping.y, y, 4);
        if (mCount < kInline)
            mInline[mCount] = ping;
        else
            mMore.push_back(ping);
        ++mCount;
    }
    uint32_t Size() const { return mCount; }
    const PendingPing& operator[](uint32_t i) const { return i < kInline ? mInline[i] : mMore[i - kInline]; }

private:
    static constexpr uint32_t kInline = 16;
    PendingPing mInline[kInline];
    std::vector<PendingPing> mMore;
    uint32_t mCount = 0;
};

// ---------------------------------------------------------------------------------------------------
// W3GS 0x0C: the action blocks

void FilterActions(ActionAnalyzerSet* set, LanClient* client, PacketCopy& packet, std::vector<std::string>& lines,
                   const ClientSettings& settings)
{
    const uint32_t flags = static_cast<uint32_t>(settings.mAnalyzerFlags);
    GameDetails* details = client->mGame ? client->mGame->mDetails : nullptr;
    PingQueue pings;
    bool haveViewPlayer = false;
    uint32_t viewPlayer = 0;

    uint32_t blockStart = kActionHeader;
    while (blockStart < packet.Length()) {
        const uint8_t* data = packet.Bytes();
        uint32_t length = packet.Length();
        if (blockStart + kBlockHeader > length) {
            LogAction(wxString::Format(wxS("SizeError: %d"),
                                       static_cast<int>(length) - static_cast<int>(blockStart + kBlockHeader)));
            break;
        }
        const uint8_t p = data[blockStart];
        uint32_t blockEnd = blockStart + kBlockHeader + GetU16(data + blockStart + 1);
        if (blockEnd > length) {
            // The block claims more bytes than the message holds: nothing of it is read.
            LogAction(wxString::Format(wxS("SizeError: %d"), static_cast<int>(length) - static_cast<int>(blockEnd)));
            break;
        }
        uint32_t pos = blockStart + kBlockHeader;
        while (pos < blockEnd) {
            data = packet.Bytes();
            length = packet.Length();
            const uint8_t id = data[pos];
            const uint32_t size = ActionSize(data, pos, blockEnd);
            if (size == 0) {
                LogAction(wxString::Format(wxS("Error: Unknown Action: %d"), static_cast<int>(id)));
                break;
            }
            if (pos + size > blockEnd) {
                // Runs past its block: its fields are not read.
                pos += size;
                break;
            }
            const uint8_t* action = data + pos;
            switch (id) {
            case 0x01:
                if (client->mPauseStartGameTime == 0)
                    client->mPauseStartGameTime = client->mGameTime;
                break;
            case 0x02:
                if (client->mPauseStartGameTime > 0) {
                    client->mGameTime = client->mPauseStartGameTime;
                    client->mPauseStartGameTime = 0;
                }
                break;
            case 0x10:
            case 0x11:
            case 0x12:
            case 0x13:
            case 0x14: {
                ActionAnalyzer* analyzer = set->GetAnalyzer(p);
                if (!analyzer)
                    break;
                const ActionIdInfo& info =
                    analyzer->DescribeAction(GetU32(action + 3), id, static_cast<int32_t>(client->mGameTime));
                if (info.mId == 0 || !info.HasText())
                    break;
                const uint32_t bit = CategoryFlag(info.mCategory);
                if (bit != 0 && (flags & bit) != 0) {
                    const std::string& name = PlayerName(details, p);
                    std::string line;
                    line.reserve(name.size() + 1 + std::strlen(info.GetText()) + std::strlen(info.mName));
                    line += name;
                    line += ' ';
                    line += info.GetText();
                    line += info.mName;
                    lines.push_back(std::move(line));
                }
                if (id >= 0x11 && (flags & AnalyzerPingTargets) != 0)
                    pings.Push(action + 15, action + 19);
                break;
            }
            case 0x50:
                if (flags & AnalyzerAlliances) {
                    const std::string& a = PlayerName(details, p);
                    const std::string& b = SlotPlayerName(details, action[1]);
                    if (GetU32(action + 2) & 0x40)
                        lines.push_back(a + " shares control with " + b);
                    else
                        lines.push_back(a + " disables control sharing with " + b);
                }
                break;
            case 0x51:
                if (flags & AnalyzerAlliances) {
                    const int32_t gold = static_cast<int32_t>(GetU32(action + 2));
                    const int32_t lumber = static_cast<int32_t>(GetU32(action + 6));
                    const std::string& a = PlayerName(details, p);
                    const std::string& b = SlotPlayerName(details, action[1]);
                    char amount[80];
                    amount[0] = '\0';
                    if (gold != 0 && lumber != 0)
                        std::snprintf(amount, sizeof amount, " transfers %d gold and %d lumber to ", gold, lumber);
                    else if (gold != 0)
                        std::snprintf(amount, sizeof amount, " transfers %d gold to ", gold);
                    else if (lumber != 0)
                        std::snprintf(amount, sizeof amount, " transfers %d lumber to ", lumber);
                    if (amount[0] != '\0')
                        lines.push_back(a + amount + b);
                }
                break;
            case 0x62:
                if (!haveViewPlayer) {
                    viewPlayer = details ? details->GetViewPlayer() : 0xFFFFFFFFu;
                    haveViewPlayer = true;
                }
                if (p == viewPlayer) {
                    Remove(packet, pos, blockEnd, blockStart, size, p, kCopySlack);
                    // The walk goes on behind the removed block.
                    pos = blockStart;
                    continue;
                }
                break;
            case 0x68: {
                const bool obs = IsObserver(details, p);
                const uint32_t setting = static_cast<uint32_t>(obs ? settings.mObsPing : settings.mPlayerPing);
                const uint8_t target = PingTarget(client, details, setting);
                const bool first = pos == blockStart + kBlockHeader;
                const bool last = pos + size == blockEnd;
                const uint32_t grow = (first ? 0 : kBlockHeader) + (last ? 0 : kBlockHeader);
                // A move that would push the message past the u16 length leaves the ping where it is.
                if (target != p && length + grow <= kMaxMessage) {
                    Isolate(packet, pos, blockEnd, blockStart, size, p, kCopySlack);
                    packet.Own()[pos - kBlockHeader] = target;
                }
                if (setting & PingReport) {
                    std::string line = "MapPing by " + PlayerName(details, p);
                    if (obs)
                        line += " (Obs)";
                    lines.push_back(std::move(line));
                }
                break;
            }
            default:
                break;
            }
            pos += size;
        }
        if (pos != blockEnd)
            LogAction(wxString::Format(wxS("SizeError: %d"), static_cast<int>(pos) - static_cast<int>(blockEnd)));
        blockStart = blockEnd;
    }

    // The queued pings go behind the last block, as many as the u16 length allows.
    const uint32_t room = packet.Length() < kMaxMessage ? (kMaxMessage - packet.Length()) / kPingRecordSize : 0;
    const uint32_t count = std::min(pings.Size(), room);
    if (count > 0) {
        const uint32_t start = packet.Length();
        const uint32_t newLength = start + count * kPingRecordSize;
        packet.Prepare(newLength, 4, 5, kCopySlack);
        uint8_t* out = packet.Own() + start;
        const uint8_t sender = static_cast<uint8_t>(client->mSenders[ChatSenderSystem].mPlayerId);
        for (uint32_t i = 0; i < count; ++i, out += kPingRecordSize) {
            out[0] = sender;
            PutU16(out + 1, 13);
            out[3] = 0x68;
            std::memcpy(out + 4, pings[i].x, 4);
            std::memcpy(out + 8, pings[i].y, 4);
            std::memset(out + 12, 0, 4);
        }
        packet.SetLength(newLength);
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------------

void LogAction(const wxString& text)
{
    wxLogMessage(wxS("%s"), wxS("[action] ") + text);
}

uint32_t GetActionTimeIncrement(const uint8_t* data, uint32_t length)
{
    if (!data || length < 6 || data[0] != 0xF7 || data[1] != 0x0C)
        return 0;
    return GetU16(data + 4);
}

namespace {

// Runs one block edit (Isolate or Remove) on the message, copying it first when it is still the stored one.
bool EditAction(void (*edit)(PacketCopy&, uint32_t&, uint32_t&, uint32_t&, uint32_t, uint8_t, uint32_t),
                uint8_t*& data, uint32_t& length, uint32_t& pos, uint32_t& blockEnd, uint32_t& blockStart,
                uint32_t size, uint8_t playerId, const uint8_t* stored)
{
    const bool own = data != stored;
    PacketCopy packet(own ? nullptr : stored, own ? data : nullptr, length, length);
    edit(packet, pos, blockEnd, blockStart, size, playerId, 0);
    data = packet.Own();
    length = packet.Length();
    return true;
}

} // namespace

bool IsolateAction(uint8_t*& data, uint32_t& length, uint32_t& pos, uint32_t& blockEnd, uint32_t& blockStart,
                   uint32_t size, uint8_t playerId, const uint8_t* stored)
{
    return EditAction(Isolate, data, length, pos, blockEnd, blockStart, size, playerId, stored);
}

bool RemoveAction(uint8_t*& data, uint32_t& length, uint32_t& pos, uint32_t& blockEnd, uint32_t& blockStart,
                  uint32_t size, uint8_t playerId, const uint8_t* stored)
{
    return EditAction(Remove, data, length, pos, blockEnd, blockStart, size, playerId, stored);
}

int FilterGamePacket(ActionAnalyzerSet* set, const uint8_t*& data, uint32_t& length,
                     std::vector<std::string>& lines)
{
    static const ClientSettings defaults;
    ClientCore* core = ClientCore::Get();
    return FilterGamePacket(set, data, length, lines, core ? core->Settings() : defaults);
}

int FilterGamePacket(ActionAnalyzerSet* set, const uint8_t*& data, uint32_t& length,
                     std::vector<std::string>& lines, const ClientSettings& settings)
{
    if (!data || length < 2 || data[0] != 0xF7)
        return StreamFilterSend;
    LanClient* client = set ? set->GetOwner() : nullptr;
    if (!client)
        return StreamFilterSend;
    GameDetails* details = client->mGame ? client->mGame->mDetails : nullptr;

    switch (data[1]) {
    case 0x0C: {
        if (length < 11)
            return StreamFilterSend;
        PacketCopy packet(data, nullptr, length, 0);
        FilterActions(set, client, packet, lines, settings);
        if (packet.Copied() && packet.Length() != length && packet.Length() <= kMaxMessage)
            PutU16(packet.Own() + 2, packet.Length());
        const uint8_t* bytes = packet.Bytes();
        const uint32_t crc = Crc32(bytes + kActionHeader, packet.Length() - kActionHeader) & 0xFFFF;
        const uint32_t stored = GetU16(bytes + 6);
        if (crc != stored) {
            if (!packet.Copied()) {
                packet.Prepare(packet.Length(), 7, -1, 0);
                wxLogMessage(wxS("[CHECKSUM ERROR]: org=0x%4.4X  should=0x%4.4X"), stored, crc);
            }
            PutU16(packet.Own() + 6, crc);
        }
        if (packet.Copied()) {
            data = packet.Own();
            length = packet.Length();
        }
        return StreamFilterSend;
    }

    case 0x0F:
    case 0x28: {
        // u8 receiver count k, k receivers, u8 sender, u8 flag, [u32 extra flags when the flag is 0x20], text.
        const uint32_t k = length > 4 ? data[4] : 0;
        if (length < 7 + k) {
            // Without its sender and flag the message cannot be judged; it does not reach Warcraft III.
            return StreamFilterDrop;
        }
        const uint8_t sender = data[5 + k];
        const uint8_t flag = data[6 + k];
        const bool obs = IsObserver(details, sender);
        const std::string text = ChatText(data, length, flag == 0x20 ? 11 + k : 7 + k);
        if (flag == 0x20) {
            wxLogMessage(wxS("%s"), wxString::Format(wxS("[Chat] %s%s: '%s'"),
                                                     bcx::FromGbk(PlayerName(details, sender)),
                                                     obs ? wxS("(Obs)") : wxS(""), bcx::FromGbk(text)));
        }
        if (!obs) {
            if (settings.mPlayerChat == 0)
                return StreamFilterObserverChat;
            if (data[1] == 0x28) {
                PacketCopy packet(data, nullptr, length, 0);
                packet.Prepare(length, 8, -1, 0);
                packet.Own()[1] = 0x0F;
                data = packet.Own();
            }
            return StreamFilterSend;
        }
        if (settings.mObserverChat != 0)
            lines.push_back(PlayerName(details, sender) + ": " + text);
        return StreamFilterObserverChat;
    }

    case 0x07: {
        if (length < 5)
            return StreamFilterSend;
        const uint8_t playerId = data[4];
        if (details && playerId < GameDetails::kPlayers)
            details->mPlayers[playerId].mLeaveTime = static_cast<int32_t>(client->mGameTime);
        // Only senders that spoke for the leaver change.
        for (const ChatSender& sender : client->mSenders) {
            if (sender.mPlayerId == playerId) {
                OnPlayerLeft(client, playerId);
                break;
            }
        }
        if (client->mCursor.mEntriesRead - client->mSuppressedLeaves == 1) {
            client->mSuppressedLeaves += 1;
            wxLogMessage(wxS("Found an early leaver, suppressing"));
            return StreamFilterDrop;
        }
        return StreamFilterSend;
    }

    case 0x10:
        client->mLagging = 1;
        if (length > 5)
            lines.push_back(PlayerName(details, data[5]) + " laggs");
        return StreamFilterSend;

    case 0x11:
        client->mLagging = 0;
        return StreamFilterSend;

    default:
        return StreamFilterSend;
    }
}
