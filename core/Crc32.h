#pragma once
// CRC-32 of IEEE 802.3: reflected, polynomial 0x04C11DB7 (0xEDB88320 reflected), initial value and final
// complement 0xFFFFFFFF. The check value of "123456789" is 0xCBF43926; an empty input gives 0.

#include <cstddef>
#include <cstdint>

// Builds the 256-entry table once; later calls do nothing. Crc32 builds it on first use as well.
void Crc32BuildTable();

uint32_t Crc32(const void* data, size_t length);
