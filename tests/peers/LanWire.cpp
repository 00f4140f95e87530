#include "peers/LanWire.h"

#include <array>
#include <cstdio>

namespace bcxtest {
namespace lan {

namespace {

std::array<uint32_t, 256> MakeCrcTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        table[i] = c;
    }
    return table;
}

} // namespace

uint32_t Crc32(const void* data, size_t size)
{
    static const std::array<uint32_t, 256> table = MakeCrcTable();
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

ByteWriter& ByteWriter::U8(uint8_t v)
{
    mOut.push_back(static_cast<char>(v));
    return *this;
}

ByteWriter& ByteWriter::U16(uint16_t v)
{
    U8(static_cast<uint8_t>(v & 0xFF));
    return U8(static_cast<uint8_t>(v >> 8));
}

ByteWriter& ByteWriter::U32(uint32_t v)
{
    U16(static_cast<uint16_t>(v & 0xFFFF));
    return U16(static_cast<uint16_t>(v >> 16));
}

ByteWriter& ByteWriter::Bytes(const std::string& bytes)
{
    mOut += bytes;
    return *this;
}

ByteWriter& ByteWriter::Zeros(size_t n)
{
    mOut.append(n, '\0');
    return *this;
}

ByteWriter& ByteWriter::CStr(const std::string& s)
{
    mOut += s;
    mOut.push_back('\0');
    return *this;
}

bool ByteReader::Need(size_t n)
{
    if (mFailed || mPos > mBytes.size() || mBytes.size() - mPos < n) {
        mFailed = true;
        return false;
    }
    return true;
}

uint8_t ByteReader::U8()
{
    if (!Need(1))
        return 0;
    return static_cast<uint8_t>(mBytes[mPos++]);
}

uint16_t ByteReader::U16()
{
    if (!Need(2))
        return 0;
    uint16_t lo = static_cast<uint8_t>(mBytes[mPos]);
    uint16_t hi = static_cast<uint8_t>(mBytes[mPos + 1]);
    mPos += 2;
    return static_cast<uint16_t>(lo | (hi << 8));
}

uint32_t ByteReader::U32()
{
    if (!Need(4))
        return 0;
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<uint8_t>(mBytes[mPos + i]);
    mPos += 4;
    return v;
}

std::string ByteReader::Bytes(size_t n)
{
    if (!Need(n))
        return std::string();
    std::string out = mBytes.substr(mPos, n);
    mPos += n;
    return out;
}

std::string ByteReader::CStr()
{
    if (!Need(1))
        return std::string();
    size_t nul = mBytes.find('\0', mPos);
    if (nul == std::string::npos) {
        mFailed = true;
        return std::string();
    }
    std::string out = mBytes.substr(mPos, nul - mPos);
    mPos = nul + 1;
    return out;
}

std::string Frame(uint8_t id, const std::string& body)
{
    ByteWriter w;
    w.U8(kFrameMagic).U8(id).U16(static_cast<uint16_t>(kFrameHeaderSize + body.size())).Bytes(body);
    return w.Take();
}

std::string EncodeStatString(const std::string& raw)
{
    std::string out;
    for (size_t start = 0; start < raw.size(); start += 7) {
        size_t n = raw.size() - start < 7 ? raw.size() - start : 7;
        uint8_t mask = 1;
        std::string block;
        for (size_t k = 0; k < n; ++k) {
            uint8_t b = static_cast<uint8_t>(raw[start + k]);
            if (b & 1) {
                mask = static_cast<uint8_t>(mask | (1u << (k + 1)));
                block.push_back(static_cast<char>(b));
            } else {
                block.push_back(static_cast<char>(b + 1));
            }
        }
        out.push_back(static_cast<char>(mask));
        out += block;
    }
    out.push_back('\0');
    return out;
}

bool DecodeStatString(const std::string& enc, size_t& pos, std::string& out)
{
    out.clear();
    while (pos < enc.size()) {
        uint8_t mask = static_cast<uint8_t>(enc[pos++]);
        if (mask == 0)
            return true; // the terminator in place of a mask byte
        for (int k = 0; k < 7; ++k) {
            if (pos >= enc.size())
                return false;
            uint8_t b = static_cast<uint8_t>(enc[pos]);
            if (b == 0) {
                ++pos;
                return true;
            }
            ++pos;
            out.push_back(static_cast<char>((mask & (1u << (k + 1))) ? b : static_cast<uint8_t>(b - 1)));
        }
    }
    return false;
}

std::string Hex(const std::string& bytes, size_t maxBytes)
{
    std::string out;
    char buf[4];
    for (size_t i = 0; i < bytes.size() && i < maxBytes; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", static_cast<uint8_t>(bytes[i]));
        if (!out.empty())
            out.push_back(' ');
        out += buf;
    }
    if (bytes.size() > maxBytes)
        out += " ...";
    return out;
}

} // namespace lan
} // namespace bcxtest
