#pragma once
// The toolkit's socket address of 127.0.0.1, for the product's sockets under test (the raw POSIX side is
// in Loopback.h).

#include <cstdint>

#include <wx/socket.h>

namespace bcxtest {

// 127.0.0.1:port.
wxIPV4address LoopbackWxAddress(uint16_t port = 0);

} // namespace bcxtest
