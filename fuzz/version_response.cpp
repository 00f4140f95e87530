// Feeds arbitrary bytes to the reader of the version server's answer: the first two bytes choose the
// HTTP status, the rest is the body.

#include <cstddef>
#include <cstdint>
#include <string>

#include <wx/init.h>

#include "core/VersionMessage.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static wxInitializer toolkit;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const long status = 100 + (data[0] | (data[1] << 8)) % 500;
    const std::string body(reinterpret_cast<const char*>(data) + 2, size - 2);
    VersionMessageFromAnswer(status, body);
    ExtractVersionMessage(body);
    return 0;
}
