#include "core/Packet.h"

#include <cstdlib>
#include <cstring>

#include <wx/log.h>

#include "core/CountingSocket.h"

namespace {

constexpr uint8_t kReadFill = 0xAD;
constexpr uint32_t kDefaultGrowStep = 256;

} // namespace

// ---------------------------------------------------------------------------------------------------
// PacketBuffer

PacketBuffer::PacketBuffer()
    : mData(nullptr), mCapacity(0), mSize(0), mGrowStep(kDefaultGrowStep), mCursor(0), mReadError(false)
{
}

PacketBuffer::PacketBuffer(const PacketBuffer& other)
    : mData(nullptr), mCapacity(0), mSize(0), mGrowStep(other.mGrowStep), mCursor(0),
      mReadError(other.mReadError), mOverRead(other.mOverRead)
{
    if (other.mData && other.mCapacity) {
        mData = static_cast<uint8_t*>(std::malloc(other.mCapacity));
        if (mData) {
            std::memcpy(mData, other.mData, other.mSize);
            mCapacity = other.mCapacity;
            mSize = other.mSize;
            mCursor = other.mCursor;
        }
    }
}

PacketBuffer::PacketBuffer(PacketBuffer&& other) noexcept
    : mData(other.mData), mCapacity(other.mCapacity), mSize(other.mSize), mGrowStep(other.mGrowStep),
      mCursor(other.mCursor), mReadError(other.mReadError), mOverRead(other.mOverRead)
{
    other.mData = nullptr;
    other.mCapacity = other.mSize = other.mCursor = 0;
}

PacketBuffer& PacketBuffer::operator=(const PacketBuffer& other)
{
    if (this == &other)
        return *this;
    uint8_t* data = nullptr;
    if (other.mData && other.mCapacity) {
        data = static_cast<uint8_t*>(std::malloc(other.mCapacity));
        if (!data)
            return *this;  // keeps its own contents when the copy cannot be made
        std::memcpy(data, other.mData, other.mSize);
    }
    std::free(mData);
    mData = data;
    mCapacity = data ? other.mCapacity : 0;
    mSize = data ? other.mSize : 0;
    mCursor = data ? other.mCursor : 0;
    mGrowStep = other.mGrowStep;
    mReadError = other.mReadError;
    mOverRead = other.mOverRead;
    return *this;
}

PacketBuffer& PacketBuffer::operator=(PacketBuffer&& other) noexcept
{
    if (this != &other) {
        std::free(mData);
        mData = other.mData;
        mCapacity = other.mCapacity;
        mSize = other.mSize;
        mGrowStep = other.mGrowStep;
        mCursor = other.mCursor;
        mReadError = other.mReadError;
        mOverRead = other.mOverRead;
        other.mData = nullptr;
        other.mCapacity = other.mSize = other.mCursor = 0;
    }
    return *this;
}

PacketBuffer::~PacketBuffer()
{
    std::free(mData);
    mData = nullptr;
    mCapacity = mSize = mCursor = 0;
}

bool PacketBuffer::Reserve(uint32_t n)
{
    if (!mData) {
        uint32_t capacity = n > mGrowStep ? n : mGrowStep;
        if (capacity == 0)
            capacity = 1;
        mData = static_cast<uint8_t*>(std::malloc(capacity));
        if (!mData)
            return false;
        mCapacity = capacity;
        mSize = mCursor = 0;
        return true;
    }
    const uint64_t need = uint64_t(mSize) + n;
    if (need < mCapacity)
        return true;
    uint64_t capacity = need > uint64_t(mCapacity) + mGrowStep ? uint64_t(mCapacity) + n
                                                              : uint64_t(mCapacity) + mGrowStep;
    if (capacity < need)
        capacity = need;  // only when the cursor ran ahead of size; never hand out less than asked
    if (capacity > UINT32_MAX)
        return false;
    void* grown = std::realloc(mData, size_t(capacity));
    if (!grown)
        return false;
    mData = static_cast<uint8_t*>(grown);
    mCapacity = uint32_t(capacity);
    return true;
}

void PacketBuffer::Clear()
{
    std::free(mData);
    mData = nullptr;
    mCapacity = mSize = mCursor = 0;
    mOverRead = false;
}

void PacketBuffer::Write(const void* src, uint32_t n)
{
    if (!src)
        return;
    const uint64_t end = uint64_t(mCursor) + n;
    if (end > mSize) {
        if (end > UINT32_MAX || !Reserve(uint32_t(end - mSize)))
            return;
    }
    if (!mData || end > mCapacity)
        return;  // never write past the storage
    if (n)
        std::memcpy(mData + mCursor, src, n);
    mCursor = uint32_t(end);
    if (mCursor > mSize)
        mSize = mCursor;
}

void PacketBuffer::WriteU8(uint8_t v)
{
    Write(&v, 1);
}

void PacketBuffer::WriteU16(uint16_t v)
{
    const uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
    Write(b, 2);
}

void PacketBuffer::WriteU32(uint32_t v)
{
    const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    Write(b, 4);
}

void PacketBuffer::WriteString(const std::string& s)
{
    if (s.size() >= UINT32_MAX)
        return;
    const uint32_t n = uint32_t(s.size());
    const uint64_t end = uint64_t(mCursor) + n;
    Write(s.data(), n);
    // Terminate only what was really written.
    if (mCursor == end) {
        const uint8_t nul = 0;
        Write(&nul, 1);
    }
}

void PacketBuffer::Read(void* dst, uint32_t n)
{
    if (mData && uint64_t(mCursor) + n <= mSize) {
        if (dst && n)
            std::memcpy(dst, mData + mCursor, n);
        mCursor += n;
        mReadError = false;
        return;
    }
    if (dst && n)
        std::memset(dst, kReadFill, n);
    mReadError = true;
    mOverRead = true;
}

uint8_t PacketBuffer::ReadU8()
{
    uint8_t b;
    Read(&b, 1);
    return b;
}

uint16_t PacketBuffer::ReadU16()
{
    uint8_t b[2];
    Read(b, 2);
    return uint16_t(b[0] | (b[1] << 8));
}

uint32_t PacketBuffer::ReadU32()
{
    uint8_t b[4];
    Read(b, 4);
    return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

void PacketBuffer::ReadString(std::string& out)
{
    if (!mData || mCursor >= mSize) {
        mOverRead = true;
        return;
    }
    const void* nul = std::memchr(mData + mCursor, 0, mSize - mCursor);
    if (!nul) {
        mOverRead = true;
        return;
    }
    const uint32_t length = uint32_t(static_cast<const uint8_t*>(nul) - (mData + mCursor));
    out.assign(reinterpret_cast<const char*>(mData + mCursor), length);
    mCursor += length + 1;
}

void PacketBuffer::SetCursor(uint32_t pos)
{
    mCursor = pos > mSize ? mSize : pos;
}

uint16_t PacketBuffer::PeekU16(uint32_t offset) const
{
    return uint16_t(mData[offset] | (mData[offset + 1] << 8));
}

void PacketBuffer::PokeU16(uint32_t offset, uint16_t v)
{
    mData[offset] = uint8_t(v);
    mData[offset + 1] = uint8_t(v >> 8);
}

// ---------------------------------------------------------------------------------------------------
// bcxPacket: EF BE id len-lo len-hi

void bcxPacket::UpdateLength()
{
    if (mData && mSize >= 5)
        PokeU16(3, uint16_t(mSize));
}

void bcxPacket::WriteMagic()
{
    WriteU16(0xBEEF);
}

void bcxPacket::WriteLengthPlaceholder()
{
    WriteU16(0xDEAD);
}

void bcxPacket::WriteHeader(uint8_t id)
{
    WriteMagic();
    WriteU8(id);
    WriteLengthPlaceholder();
}

bool bcxPacket::IsValid() const
{
    return mData && mSize >= 2 && PeekU16(0) == 0xBEEF;
}

uint32_t bcxPacket::GetLength() const
{
    return mData && mSize >= 5 ? PeekU16(3) : 0;
}

uint32_t bcxPacket::GetId() const
{
    return mData && mSize >= 3 ? mData[2] : 0;
}

uint32_t bcxPacket::GetHeaderSize() const
{
    return 5;
}

wxString bcxPacket::GetClassName() const
{
    return wxS("bcxPacket");
}

// ---------------------------------------------------------------------------------------------------
// warPacket: F7 id len-lo len-hi

void warPacket::UpdateLength()
{
    if (mData && mSize >= 4)
        PokeU16(2, uint16_t(mSize));
}

void warPacket::WriteMagic()
{
    WriteU8(0xF7);
}

void warPacket::WriteLengthPlaceholder()
{
    WriteU16(0);
}

bool warPacket::IsValid() const
{
    return mData && mSize >= 1 && (mData[0] == 0xF7 || mData[0] == 0xFF);
}

uint32_t warPacket::GetLength() const
{
    return mData && mSize >= 4 ? PeekU16(2) : 0;
}

uint32_t warPacket::GetId() const
{
    return mData && mSize >= 2 ? mData[1] : 0;
}

uint32_t warPacket::GetHeaderSize() const
{
    return 4;
}

wxString warPacket::GetClassName() const
{
    return wxS("warPacket");
}

// ---------------------------------------------------------------------------------------------------
// filePacket: no frame

void filePacket::UpdateLength() {}
void filePacket::WriteMagic() {}
void filePacket::WriteLengthPlaceholder() {}
void filePacket::WriteHeader(uint8_t) {}

bool filePacket::IsValid() const
{
    return true;
}

uint32_t filePacket::GetLength() const
{
    return 0;
}

uint32_t filePacket::GetId() const
{
    return 0;
}

uint32_t filePacket::GetHeaderSize() const
{
    return 0;
}

wxString filePacket::GetClassName() const
{
    return wxS("filePacket");
}

// ---------------------------------------------------------------------------------------------------
// Incremental frame readers

class PacketSocketFill {
public:
    enum class Fill { Got, WouldBlock, Error };

    // Reads up to n bytes from the socket straight behind the packet's size; the room was reserved.
    template <class Socket>
    static Fill Append(PacketBuffer& packet, Socket& socket, uint32_t n)
    {
        if (!packet.mData || uint64_t(packet.mSize) + n > packet.mCapacity)
            return Fill::Error;
        socket.Read(packet.mData + packet.mSize, n);
        const uint32_t got = socket.LastCount();
        if (got > n)
            return Fill::Error;
        packet.mSize += got;
        if (got > 0)
            return Fill::Got;
        // The peer's orderly close is not a frame fault: the lost-connection event reports it.
        if (socket.IsClosed())
            return Fill::WouldBlock;
        if (socket.Error() && socket.LastError() != wxSOCKET_WOULDBLOCK)
            return Fill::Error;
        return Fill::WouldBlock;
    }

    // The LAN reader's bytes come from the peer socket's input buffer, refilled by one read when empty.
    static Fill Append(PacketBuffer& packet, CountingPeerSocket& socket, uint32_t n)
    {
        if (!packet.mData || uint64_t(packet.mSize) + n > packet.mCapacity)
            return Fill::Error;
        switch (socket.ReadInput()) {
        case CountingPeerSocket::Input::Error:
            return Fill::Error;
        case CountingPeerSocket::Input::Nothing:
            return Fill::WouldBlock;
        case CountingPeerSocket::Input::Got:
            break;
        }
        packet.mSize += socket.TakeInput(packet.mData + packet.mSize, n);
        return Fill::Got;
    }

    static bool HeaderBroken(const PacketBuffer& packet)
    {
        return !packet.IsValid() || packet.GetLength() < packet.GetHeaderSize();
    }

    static void LogBrokenHeader(const PacketBuffer& packet)
    {
        wxLogMessage(wxS("Broken header received!"));
        wxLogMessage(wxS("Info: %s 0x%04X 0x%02X 0x%04X "), packet.GetClassName(), packet.GetLength(),
                     packet.GetId(), packet.GetHeaderSize());
    }

    template <class Socket>
    static ReadResult ReadFrame(PacketBuffer& packet, Socket& socket)
    {
        const uint32_t h = packet.GetHeaderSize();
        if (h == 0)
            return ReadResult::Broken;

        if (packet.mSize >= h) {
            // The header was completed by an earlier call (and logged there when broken).
            if (HeaderBroken(packet))
                return ReadResult::Broken;
        } else {
            while (packet.mSize < h) {
                if (!packet.Reserve(h - packet.mSize))
                    return ReadResult::Broken;
                switch (Append(packet, socket, h - packet.mSize)) {
                case Fill::Error:
                    return ReadResult::Broken;
                case Fill::WouldBlock:
                    return ReadResult::Incomplete;
                case Fill::Got:
                    break;
                }
            }
            if (HeaderBroken(packet)) {
                LogBrokenHeader(packet);
                return ReadResult::Broken;
            }
        }

        const uint32_t length = packet.GetLength();
        while (packet.mSize < length) {
            const uint32_t missing = length - packet.mSize;
            if (!packet.Reserve(missing))
                return ReadResult::Broken;
            switch (Append(packet, socket, missing)) {
            case Fill::Error:
                return ReadResult::Broken;
            case Fill::WouldBlock:
                return ReadResult::Incomplete;
            case Fill::Got:
                break;
            }
        }
        packet.mCursor = h;
        return ReadResult::Complete;
    }
};

ReadResult ReadPacketFromSocket(PacketBuffer& packet, CountingSocket& socket)
{
    return PacketSocketFill::ReadFrame(packet, socket);
}

ReadResult ReadLanPacket(PacketBuffer& packet, CountingPeerSocket& socket)
{
    return PacketSocketFill::ReadFrame(packet, socket);
}
