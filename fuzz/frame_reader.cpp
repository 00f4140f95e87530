// Feeds arbitrary bytes to the packet buffer's read operations in the order a relay or LAN handler uses
// them: numbers, strings and raw runs chosen by the input itself, past the end included.

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/Packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t plan = data[0];
    const bool lan = (data[1] & 1) != 0;
    bcxPacket relay;
    warPacket war;
    PacketBuffer& packet = lan ? static_cast<PacketBuffer&>(war) : static_cast<PacketBuffer&>(relay);
    packet.Write(data + 2, static_cast<uint32_t>(size - 2));
    // The framing's own view of the bytes.
    packet.IsValid();
    packet.GetLength();
    packet.GetId();
    packet.UpdateLength();
    packet.SetCursor(packet.GetHeaderSize());

    std::string text;
    uint8_t raw[64];
    for (int step = 0; step < 64; ++step) {
        switch ((plan >> (step % 8)) & 3) {
        case 0: packet.ReadU8(); break;
        case 1: packet.ReadU32(); break;
        case 2: packet.ReadString(text); break;
        default: packet.Read(raw, static_cast<uint32_t>(step % sizeof(raw))); break;
        }
    }
    packet.Clear();
    return 0;
}
