#pragma once
// Byte helpers for the game record tests: a builder for crafted relay bytes and a reader that parses
// written records on its own, independently of the product's packet buffer.

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace rectest {

class Bytes {
public:
    Bytes& U8(uint8_t v) { mData.push_back(v); return *this; }
    Bytes& U16(uint16_t v) { U8(uint8_t(v)); return U8(uint8_t(v >> 8)); }
    Bytes& U32(uint32_t v) { U16(uint16_t(v)); return U16(uint16_t(v >> 16)); }
    Bytes& Str(const std::string& s) { mData.insert(mData.end(), s.begin(), s.end()); return U8(0); }
    Bytes& Raw(const std::string& s) { mData.insert(mData.end(), s.begin(), s.end()); return *this; }
    Bytes& Fill(size_t n, uint8_t v) { mData.insert(mData.end(), n, v); return *this; }
    Bytes& Entry(uint32_t time, const std::string& payload)
    {
        U32(time).U32(uint32_t(payload.size()));
        return Raw(payload);
    }
    const std::vector<uint8_t>& Data() const { return mData; }
    size_t Size() const { return mData.size(); }
    void Truncate(size_t n) { mData.resize(n); }

private:
    std::vector<uint8_t> mData;
};

// Reads little-endian fields; a read past the end fails the test and yields zeros.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : mData(data), mSize(size) {}
    explicit Reader(const std::string& bytes)
        : mData(reinterpret_cast<const uint8_t*>(bytes.data())), mSize(bytes.size()) {}

    uint8_t U8()
    {
        if (mPos + 1 > mSize) { ADD_FAILURE() << "read past the end at " << mPos; mFailed = true; mPos = mSize; return 0; }
        return mData[mPos++];
    }
    uint16_t U16() { uint16_t lo = U8(); return uint16_t(lo | U8() << 8); }
    uint32_t U32() { uint32_t lo = U16(); return lo | uint32_t(U16()) << 16; }
    std::string Str()
    {
        size_t end = mPos;
        while (end < mSize && mData[end] != 0)
            ++end;
        if (end >= mSize) { ADD_FAILURE() << "unterminated string at " << mPos; mFailed = true; mPos = mSize; return {}; }
        std::string s(reinterpret_cast<const char*>(mData + mPos), end - mPos);
        mPos = end + 1;
        return s;
    }
    std::string Raw(size_t n)
    {
        if (mPos + n > mSize) { ADD_FAILURE() << "read past the end at " << mPos; mFailed = true; mPos = mSize; return {}; }
        std::string s(reinterpret_cast<const char*>(mData + mPos), n);
        mPos += n;
        return s;
    }
    size_t Left() const { return mSize - mPos; }
    size_t Pos() const { return mPos; }
    // No read has run past the end.
    bool Ok() const { return !mFailed; }

private:
    const uint8_t* mData;
    size_t mSize;
    size_t mPos = 0;
    bool mFailed = false;
};

// "bCx\0"
constexpr uint32_t kMagic = 0x62 | 0x43 << 8 | 0x78 << 16;

} // namespace rectest
