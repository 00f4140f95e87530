#include "core/Crc32.h"

#include <array>

namespace {

std::array<uint32_t, 256> MakeTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 1) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
        table[i] = r;
    }
    return table;
}

// Built once, on the first call (thread-safe static initialisation).
const std::array<uint32_t, 256>& Table()
{
    static const std::array<uint32_t, 256> table = MakeTable();
    return table;
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
    const std::array<uint32_t, 256>& table = Table();
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t r = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i)
        r = (r >> 8) ^ table[(r ^ p[i]) & 0xFF];
    return ~r;
}
