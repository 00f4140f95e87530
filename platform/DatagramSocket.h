#pragma once
// The LAN side's UDP socket: IPv4, non-blocking, broadcast allowed, polled (never event-driven).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <netinet/in.h>

namespace bcx {

class DatagramSocket {
public:
    // The longest datagram that Receive keeps; longer ones are dropped.
    static constexpr size_t kMaxDatagram = 64;

    DatagramSocket() = default;
    ~DatagramSocket();
    DatagramSocket(const DatagramSocket&) = delete;
    DatagramSocket& operator=(const DatagramSocket&) = delete;

    // Creates the socket (closing an open one first), makes it non-blocking, allows broadcast and binds it
    // to any local address and the given port. False when the socket could not be created (the handle
    // stays -1) or the bind failed; after a failed bind the socket stays open and sends still work from a
    // port the system picks, but nothing sent to the given port arrives.
    bool Open(uint16_t port);
    // Shuts the socket down both ways and closes it; the handle becomes -1.
    void Close();

    bool IsOpen() const { return mHandle >= 0; }
    int Handle() const { return mHandle; }
    // The bound local port (host order); 0 when closed or not yet bound.
    uint16_t LocalPort() const;

    // One datagram to the given address. The bytes sent, or -1 with errno set.
    int SendTo(const void* data, size_t length, const sockaddr_in& to);

    // Polls without waiting for one datagram. True with its bytes (1 to 64) and the sender's address.
    // False when nothing waits, the receive failed, the datagram was empty or longer than 64 bytes (then
    // it is consumed and dropped).
    bool Receive(std::vector<char>& data, sockaddr_in& from);

private:
    int mHandle = -1;
};

// Reads "a.b.c.d" (four decimal numbers, surrounding blanks ignored) as the address
// ((a*256+b)*256+c)*256+d in host order, without a range check on the parts, so a part above 255 carries
// into the part before it (10.0.0.256 gives 10.0.1.0). False when the text is not four decimal numbers.
bool ParseDottedAddress(const std::string& text, uint32_t& hostOrderAddress);

} // namespace bcx
