#include "platform/DatagramSocket.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bcx {

DatagramSocket::~DatagramSocket()
{
    Close();
}

bool DatagramSocket::Open(uint16_t port)
{
    Close();
    mHandle = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (mHandle < 0) {
        mHandle = -1;
        return false;
    }
    const int on = 1;
    ::setsockopt(mHandle, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);

    sockaddr_in local;
    std::memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(port);
    return ::bind(mHandle, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

void DatagramSocket::Close()
{
    if (mHandle < 0)
        return;
    ::shutdown(mHandle, SHUT_RDWR);
    ::close(mHandle);
    mHandle = -1;
}

uint16_t DatagramSocket::LocalPort() const
{
    if (mHandle < 0)
        return 0;
    sockaddr_in local;
    socklen_t len = sizeof local;
    std::memset(&local, 0, sizeof local);
    if (::getsockname(mHandle, reinterpret_cast<sockaddr*>(&local), &len) != 0)
        return 0;
    return ntohs(local.sin_port);
}

int DatagramSocket::SendTo(const void* data, size_t length, const sockaddr_in& to)
{
    if (mHandle < 0) {
        errno = EBADF;
        return -1;
    }
    const ssize_t sent =
        ::sendto(mHandle, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent < 0 ? -1 : int(sent);
}

bool DatagramSocket::Receive(std::vector<char>& data, sockaddr_in& from)
{
    data.clear();
    std::memset(&from, 0, sizeof from);
    if (mHandle < 0)
        return false;
    pollfd pfd;
    pfd.fd = mHandle;
    pfd.events = POLLIN;
    pfd.revents = 0;
    if (::poll(&pfd, 1, 0) <= 0 || !(pfd.revents & POLLIN))
        return false;

    // One byte more than kept: a datagram that fills it is too long, also where MSG_TRUNC does not
    // report the real length.
    char buffer[kMaxDatagram + 1];
    socklen_t len = sizeof from;
    int recvFlags = 0;
#ifdef MSG_TRUNC
    recvFlags |= MSG_TRUNC;
#endif
    const ssize_t got =
        ::recvfrom(mHandle, buffer, sizeof buffer, recvFlags, reinterpret_cast<sockaddr*>(&from), &len);
    if (got < 1 || size_t(got) > kMaxDatagram) {
        std::memset(&from, 0, sizeof from);
        return false;
    }
    data.assign(buffer, buffer + got);
    return true;
}

bool ParseDottedAddress(const std::string& text, uint32_t& hostOrderAddress)
{
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    size_t pos = 0;
    size_t end = text.size();
    while (pos < end && blank(text[pos]))
        ++pos;
    while (end > pos && blank(text[end - 1]))
        --end;

    uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= end || text[pos] != '.')
                return false;
            ++pos;
        }
        uint64_t value = 0;
        size_t digits = 0;
        while (pos < end && text[pos] >= '0' && text[pos] <= '9') {
            value = value * 10 + uint64_t(text[pos] - '0');
            if (++digits > 10)
                return false;
            ++pos;
        }
        if (digits == 0 || value > UINT32_MAX)
            return false;
        address = address * 256u + uint32_t(value);
    }
    if (pos != end)
        return false;
    hostOrderAddress = address;
    return true;
}

} // namespace bcx
