#pragma once
// Packed version numbers: major in bits 24-31, minor in bits 8-23, patch in bits 0-7, printed
// "%d.%02d.%02d" (0x01000500 is 1.05.00).

#include <cstdint>
#include <cstdio>
#include <string>

using PackedVersion = uint32_t;

constexpr PackedVersion MakePackedVersion(uint32_t major, uint32_t minor, uint32_t patch)
{
    return ((major & 0xFFu) << 24) | ((minor & 0xFFFFu) << 8) | (patch & 0xFFu);
}

constexpr uint32_t PackedVersionMajor(PackedVersion v) { return (v >> 24) & 0xFFu; }
constexpr uint32_t PackedVersionMinor(PackedVersion v) { return (v >> 8) & 0xFFFFu; }
constexpr uint32_t PackedVersionPatch(PackedVersion v) { return v & 0xFFu; }

// "%d.%02d.%02d"; digits only, independent of the locale.
inline std::string FormatPackedVersion(PackedVersion v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d.%02d.%02d", static_cast<int>(PackedVersionMajor(v)),
                  static_cast<int>(PackedVersionMinor(v)), static_cast<int>(PackedVersionPatch(v)));
    return text;
}

// This client (0.95.00).
constexpr PackedVersion ClientVersion = MakePackedVersion(0, 95, 0);
// The raw protocol word exchanged when a relay connection opens (1.03.00).
constexpr PackedVersion LogonProtVersion = MakePackedVersion(1, 3, 0);
// The relay protocol version (1.05.00).
constexpr PackedVersion RelayVersion = MakePackedVersion(1, 5, 0);
// The upload protocol version (1.06.01).
constexpr PackedVersion UploadProtVersion = MakePackedVersion(1, 6, 1);

static_assert(ClientVersion == 0x00005F00u, "client version");
static_assert(LogonProtVersion == 0x01000300u, "logon protocol version");
static_assert(RelayVersion == 0x01000500u, "relay version");
static_assert(UploadProtVersion == 0x01000601u, "upload protocol version");
