#include "support/Loopback.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bcxtest {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : int(left);
}

// Waits for the events on fd; true when one of them (or an error/hang-up) is signalled in time.
bool WaitFor(int fd, short events, int timeoutMs)
{
    pollfd pfd;
    pfd.fd = fd;
    pfd.events = events;
    pfd.revents = 0;
    for (;;) {
        const int r = ::poll(&pfd, 1, timeoutMs);
        if (r < 0 && errno == EINTR)
            continue;
        return r > 0;
    }
}

uint16_t BoundPort(int fd)
{
    sockaddr_in a;
    socklen_t len = sizeof a;
    std::memset(&a, 0, sizeof a);
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

uint16_t FreePort(int type)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in a = LoopbackAddress(0);
    uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
        port = BoundPort(fd);
    ::close(fd);
    return port;
}

} // namespace

sockaddr_in LoopbackAddress(uint16_t port)
{
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

uint16_t FreeTcpPort()
{
    return FreePort(SOCK_STREAM);
}

uint16_t FreeUdpPort()
{
    return FreePort(SOCK_DGRAM);
}

// ---------------------------------------------------------------------------------------------------

LoopbackConnection::LoopbackConnection(int fd) : mFd(fd) {}

LoopbackConnection::~LoopbackConnection()
{
    Close();
}

std::unique_ptr<LoopbackConnection> LoopbackConnection::Connect(uint16_t port, int timeoutMs)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return nullptr;
    sockaddr_in a = LoopbackAddress(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (errno != EINPROGRESS || !WaitFor(fd, POLLOUT, timeoutMs)) {
            ::close(fd);
            return nullptr;
        }
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
            ::close(fd);
            return nullptr;
        }
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL, 0) & ~O_NONBLOCK);
    return std::unique_ptr<LoopbackConnection>(new LoopbackConnection(fd));
}

uint16_t LoopbackConnection::LocalPort() const
{
    return mFd < 0 ? 0 : BoundPort(mFd);
}

bool LoopbackConnection::WriteAll(const void* data, size_t n, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        if (mFd < 0 || !WaitFor(mFd, POLLOUT, MsLeft(deadline)))
            return false;
        const ssize_t w = ::send(mFd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (w < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            return false;
        }
        p += w;
        n -= size_t(w);
    }
    return true;
}

bool LoopbackConnection::ReadExact(std::string& out, size_t n, int timeoutMs)
{
    out.clear();
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[65536];
    while (out.size() < n) {
        if (mFd < 0 || !WaitFor(mFd, POLLIN, MsLeft(deadline)))
            return false;
        const size_t want = n - out.size() < sizeof buffer ? n - out.size() : sizeof buffer;
        const ssize_t r = ::recv(mFd, buffer, want, MSG_DONTWAIT);
        if (r == 0)
            return false;
        if (r < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            return false;
        }
        out.append(buffer, size_t(r));
    }
    return true;
}

std::string LoopbackConnection::ReadSome(size_t maxBytes, int timeoutMs)
{
    std::string out;
    if (mFd < 0 || maxBytes == 0 || !WaitFor(mFd, POLLIN, timeoutMs))
        return out;
    out.resize(maxBytes);
    const ssize_t r = ::recv(mFd, &out[0], maxBytes, MSG_DONTWAIT);
    out.resize(r > 0 ? size_t(r) : 0);
    return out;
}

bool LoopbackConnection::ReadUntilClosed(std::string& out, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[65536];
    for (;;) {
        if (mFd < 0 || !WaitFor(mFd, POLLIN, MsLeft(deadline)))
            return false;
        const ssize_t r = ::recv(mFd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (r == 0)
            return true;
        if (r < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            return errno == ECONNRESET;
        }
        out.append(buffer, size_t(r));
    }
}

bool LoopbackConnection::NothingArrives(int timeoutMs)
{
    return mFd >= 0 && !WaitFor(mFd, POLLIN, timeoutMs);
}

void LoopbackConnection::SetReceiveBuffer(int bytes)
{
    if (mFd >= 0)
        ::setsockopt(mFd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

void LoopbackConnection::SetSendBuffer(int bytes)
{
    if (mFd >= 0)
        ::setsockopt(mFd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

void LoopbackConnection::ShutdownWrite()
{
    if (mFd >= 0)
        ::shutdown(mFd, SHUT_WR);
}

void LoopbackConnection::Reset()
{
    if (mFd >= 0) {
        linger lg;
        lg.l_onoff = 1;
        lg.l_linger = 0;
        ::setsockopt(mFd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    }
    Close();
}

void LoopbackConnection::Close()
{
    if (mFd >= 0) {
        ::close(mFd);
        mFd = -1;
    }
}

// ---------------------------------------------------------------------------------------------------

LoopbackListener::~LoopbackListener()
{
    Close();
}

bool LoopbackListener::Listen(uint16_t port)
{
    Close();
    mFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (mFd < 0)
        return false;
    const int on = 1;
    ::setsockopt(mFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = LoopbackAddress(port);
    if (::bind(mFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(mFd, 16) != 0) {
        Close();
        return false;
    }
    mPort = BoundPort(mFd);
    return mPort != 0;
}

std::unique_ptr<LoopbackConnection> LoopbackListener::Accept(int timeoutMs)
{
    if (mFd < 0 || !WaitFor(mFd, POLLIN, timeoutMs))
        return nullptr;
    const int fd = ::accept4(mFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<LoopbackConnection>(new LoopbackConnection(fd));
}

void LoopbackListener::Close()
{
    if (mFd >= 0) {
        ::close(mFd);
        mFd = -1;
    }
    mPort = 0;
}

// ---------------------------------------------------------------------------------------------------

LoopbackUdp::~LoopbackUdp()
{
    Close();
}

bool LoopbackUdp::Open(uint16_t port)
{
    Close();
    mFd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (mFd < 0)
        return false;
    sockaddr_in a = LoopbackAddress(port);
    if (::bind(mFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        Close();
        return false;
    }
    mPort = BoundPort(mFd);
    return mPort != 0;
}

bool LoopbackUdp::SendTo(uint16_t port, const void* data, size_t n)
{
    if (mFd < 0)
        return false;
    sockaddr_in a = LoopbackAddress(port);
    return ::sendto(mFd, data, n, 0, reinterpret_cast<sockaddr*>(&a), sizeof a) == ssize_t(n);
}

bool LoopbackUdp::Receive(std::string& data, uint16_t& fromPort, int timeoutMs)
{
    data.clear();
    fromPort = 0;
    if (mFd < 0 || !WaitFor(mFd, POLLIN, timeoutMs))
        return false;
    char buffer[65536];
    sockaddr_in from;
    socklen_t len = sizeof from;
    const ssize_t r = ::recvfrom(mFd, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
    if (r < 0)
        return false;
    data.assign(buffer, size_t(r));
    fromPort = ntohs(from.sin_port);
    return true;
}

void LoopbackUdp::Close()
{
    if (mFd >= 0) {
        ::close(mFd);
        mFd = -1;
    }
    mPort = 0;
}

} // namespace bcxtest
