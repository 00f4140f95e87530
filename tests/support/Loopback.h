#pragma once
// Raw POSIX loopback sockets for tests: the other end of a connection under test, independent of the
// toolkit's socket classes. Only 127.0.0.1. Every wait is bounded by a timeout.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <netinet/in.h>

namespace bcxtest {

// A port that was free on 127.0.0.1 a moment ago (bound to port 0 and released).
uint16_t FreeTcpPort();
uint16_t FreeUdpPort();

// sockaddr_in for 127.0.0.1:port.
sockaddr_in LoopbackAddress(uint16_t port);

// One TCP connection (blocking socket; every call waits at most its timeout).
class LoopbackConnection {
public:
    explicit LoopbackConnection(int fd = -1);
    ~LoopbackConnection();
    LoopbackConnection(const LoopbackConnection&) = delete;
    LoopbackConnection& operator=(const LoopbackConnection&) = delete;

    // Connects to 127.0.0.1:port.
    static std::unique_ptr<LoopbackConnection> Connect(uint16_t port, int timeoutMs = 2000);

    bool IsOpen() const { return mFd >= 0; }
    int Fd() const { return mFd; }
    uint16_t LocalPort() const;

    // Writes all n bytes; false on error or when the peer did not take them within the timeout.
    bool WriteAll(const void* data, size_t n, int timeoutMs = 2000);
    bool WriteAll(const std::string& bytes, int timeoutMs = 2000) { return WriteAll(bytes.data(), bytes.size(), timeoutMs); }
    // Reads exactly n bytes into out; false (out holding what came) on error, end of stream or timeout.
    bool ReadExact(std::string& out, size_t n, int timeoutMs = 2000);
    // Reads what arrives within the timeout, at most maxBytes (returns after the first chunk).
    std::string ReadSome(size_t maxBytes = 65536, int timeoutMs = 2000);
    // Reads until the peer closes or the timeout passes; true when the end of stream was seen.
    bool ReadUntilClosed(std::string& out, int timeoutMs = 2000);
    // True when nothing is readable within the timeout.
    bool NothingArrives(int timeoutMs = 50);

    // Socket buffer sizes (call before the traffic starts).
    void SetReceiveBuffer(int bytes);
    void SetSendBuffer(int bytes);

    // Half-close (no more writes) and full close.
    void ShutdownWrite();
    void Close();
    // Abortive close: the peer's next read fails with a connection reset.
    void Reset();

private:
    int mFd;
};

// A TCP listener on 127.0.0.1.
class LoopbackListener {
public:
    LoopbackListener() = default;
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    // Listens on 127.0.0.1:port (0: a free port).
    bool Listen(uint16_t port = 0);
    uint16_t Port() const { return mPort; }
    // Accepts one connection within the timeout; null when none came.
    std::unique_ptr<LoopbackConnection> Accept(int timeoutMs = 2000);
    void Close();

private:
    int mFd = -1;
    uint16_t mPort = 0;
};

// A UDP socket on 127.0.0.1.
class LoopbackUdp {
public:
    LoopbackUdp() = default;
    ~LoopbackUdp();
    LoopbackUdp(const LoopbackUdp&) = delete;
    LoopbackUdp& operator=(const LoopbackUdp&) = delete;

    // Binds 127.0.0.1:port (0: a free port).
    bool Open(uint16_t port = 0);
    uint16_t Port() const { return mPort; }
    bool SendTo(uint16_t port, const void* data, size_t n);
    bool SendTo(uint16_t port, const std::string& bytes) { return SendTo(port, bytes.data(), bytes.size()); }
    // One datagram within the timeout (up to 65535 bytes); false when none came.
    bool Receive(std::string& data, uint16_t& fromPort, int timeoutMs = 2000);
    void Close();

private:
    int mFd = -1;
    uint16_t mPort = 0;
};

} // namespace bcxtest
