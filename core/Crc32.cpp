#include "core/Crc32.h"

#include <array>

namespace {

// Eight tables for processing eight bytes per step ("slicing by 8"); the first one is the classic
// byte-at-a-time table of the reflected polynomial 0xEDB88320.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

Tables MakeTables()
{
    Tables tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 1) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
        tables[0][i] = r;
    }
    for (uint32_t i = 0; i < 256; ++i)
        for (size_t t = 1; t < tables.size(); ++t)
            tables[t][i] = (tables[t - 1][i] >> 8) ^ tables[0][tables[t - 1][i] & 0xFF];
    return tables;
}

// Built once, on the first call (thread-safe static initialisation).
const Tables& Table()
{
    static const Tables tables = MakeTables();
    return tables;
}

} // namespace

void Crc32BuildTable()
{
    Table();
}

uint32_t Crc32(const void* data, size_t length)
{
    if (length == 0 || data == nullptr)
        return 0;
    const Tables& t = Table();
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t r = 0xFFFFFFFFu;
    for (; length >= 8; length -= 8, p += 8) {
        const uint32_t lo = r ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
        const uint32_t hi = uint32_t(p[4]) | uint32_t(p[5]) << 8 | uint32_t(p[6]) << 16 | uint32_t(p[7]) << 24;
        r = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    }
    for (; length > 0; --length, ++p)
        r = (r >> 8) ^ t[0][(r ^ *p) & 0xFF];
    return ~r;
}
