#pragma once
// Byte-level helpers of the test LAN game client: little-endian writer and bounds-checked reader,
// the Warcraft III LAN frame (u8 0xF7, u8 id, u16 total length including the 4-byte header), the
// CRC-32 of IEEE 802.3 and the stat-string encoding of the game-info datagram.
//
// Written on its own from the LAN protocol; it shares no code with the product, so that a fault in the
// product's framing cannot hide behind the same fault here.

#include <cstddef>
#include <cstdint>
#include <string>

namespace bcxtest {
namespace lan {

constexpr uint8_t kFrameMagic = 0xF7;
constexpr size_t kFrameHeaderSize = 4;

// CRC-32 (reflected, polynomial 0x04C11DB7, initial value and final complement 0xFFFFFFFF).
uint32_t Crc32(const void* data, size_t size);
inline uint32_t Crc32(const std::string& bytes) { return Crc32(bytes.data(), bytes.size()); }

// Appends little-endian numbers and NUL-terminated strings to a byte string.
class ByteWriter {
public:
    ByteWriter& U8(uint8_t v);
    ByteWriter& U16(uint16_t v);
    ByteWriter& U32(uint32_t v);
    ByteWriter& Bytes(const std::string& bytes);
    ByteWriter& Zeros(size_t n);
    ByteWriter& CStr(const std::string& s); // the bytes, then one NUL
    const std::string& Str() const { return mOut; }
    std::string Take() { return std::move(mOut); }

private:
    std::string mOut;
};

// Reads little-endian fields; every read is checked against the bytes present. A failed read yields 0
// (or an empty string), leaves the position and sets Failed() for good.
class ByteReader {
public:
    ByteReader(const std::string& bytes, size_t pos = 0) : mBytes(bytes), mPos(pos) {}
    uint8_t U8();
    uint16_t U16();
    uint32_t U32();
    std::string Bytes(size_t n);
    std::string CStr(); // up to the NUL, which is consumed; fails when no NUL follows
    size_t Pos() const { return mPos; }
    size_t Left() const { return mPos <= mBytes.size() ? mBytes.size() - mPos : 0; }
    bool AtEnd() const { return mPos == mBytes.size(); }
    bool Failed() const { return mFailed; }

private:
    bool Need(size_t n);
    const std::string& mBytes;
    size_t mPos;
    bool mFailed = false;
};

// A whole frame: 0xF7, id, u16 length (4 + body size), body.
std::string Frame(uint8_t id, const std::string& body);

// The Warcraft III stat-string encoding: blocks of up to seven bytes, each led by a mask byte whose bit 0
// is 1 and whose bit k+1 is 1 when byte k of the block is odd; odd bytes are kept, even ones sent plus 1.
// The encoding ends with a 0 byte (appended by EncodeStatString).
std::string EncodeStatString(const std::string& raw);
// Decodes from `enc` at `pos` up to the terminating 0 byte; `pos` ends behind that 0. False when the
// terminator is missing (out then holds what was decoded).
bool DecodeStatString(const std::string& enc, size_t& pos, std::string& out);

// Hex of the bytes, "F7 1E 31 00 ...", for messages.
std::string Hex(const std::string& bytes, size_t maxBytes = 64);

} // namespace lan
} // namespace bcxtest
