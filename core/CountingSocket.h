#pragma once
// The toolkit's TCP sockets with running byte totals, and the program's one send path.
//
// CountingSocket (client: relay and IRC connections), CountingPeerSocket (an accepted LAN connection) and
// CountingServerSocket (the session-port listener) share one implementation of the counting Write/Read:
// the toolkit's transfer, then the socket's last count is added to BytesWritten()/BytesRead().
//
// Every socket here is non-blocking (wxSOCKET_NOWAIT); nothing in this file waits on a socket. Each is
// close-on-exec from the toolkit call that made it (connect, listen, accept) on.
//
// Send path (client and peer sockets): Send() writes what the socket takes now and queues the rest;
// owners include wxSOCKET_OUTPUT_FLAG in the notify mask and call FlushQueue() on every OUTPUT event.
// The toolkit raises a new OUTPUT event after a write that did not take everything. When the backlog
// would exceed MaxQueuedBytes(), Send() returns false and the stream is cut from then on (every later Send
// returns false too): the owner must drop that connection.

#include <cstddef>
#include <cstdint>
#include <vector>

#include <wx/socket.h>

// The counting transfer shared by the three socket classes.
template <class Base>
class CountingTransfer : public Base {
public:
    using Base::Base;

    // The toolkit's Write, then LastCount() is added to BytesWritten().
    virtual wxSocketBase& Write(const void* buffer, wxUint32 count);
    // The toolkit's Read, then LastCount() is added to BytesRead().
    virtual wxSocketBase& Read(void* buffer, wxUint32 count);

    // 64-bit: a connection that lives long enough moves more than 4 GiB.
    uint64_t BytesWritten() const { return mBytesWritten; }
    uint64_t BytesRead() const { return mBytesRead; }

protected:
    // Bytes written past the toolkit's Write.
    void CountWritten(uint64_t n) { mBytesWritten += n; }

private:
    uint64_t mBytesWritten = 0;
    uint64_t mBytesRead = 0;
};

// The queued send path of the client and peer sockets.
template <class Base>
class QueuedSender : public CountingTransfer<Base> {
public:
    using CountingTransfer<Base>::CountingTransfer;

    static constexpr size_t kDefaultMaxQueuedBytes = 4u * 1024u * 1024u;

    // Sends n bytes in order behind everything sent before. True when the bytes were written or queued.
    // False (and nothing queued) when the socket is not connected, the socket reported an error, the
    // backlog bound would be exceeded, or an earlier Send failed.
    bool Send(const void* data, uint32_t n);
    // Writes as much of the queue as the socket takes now. Call on OUTPUT events.
    void FlushQueue();
    size_t QueuedBytes() const { return mQueue.size() - mQueueHead; }
    // True once a Send failed; the stream to the peer is incomplete.
    bool SendFailed() const { return mSendFailed; }

    size_t MaxQueuedBytes() const { return mMaxQueued; }
    void SetMaxQueuedBytes(size_t bound) { mMaxQueued = bound; }

protected:
    // One non-blocking write through the toolkit; the bytes taken, or -1 on a socket error.
    long WriteNow(const void* data, uint32_t n);
    // The write of a Send that finds the queue empty; WriteNow unless a socket class knows better.
    virtual long WriteFirst(const void* data, uint32_t n) { return WriteNow(data, n); }

private:
    void Compact();

    std::vector<char> mQueue;
    size_t mQueueHead = 0;
    size_t mMaxQueued = kDefaultMaxQueuedBytes;
    bool mSendFailed = false;
};

class CountingSocket : public QueuedSender<wxSocketClient> {
public:
    explicit CountingSocket(wxSocketFlags flags = wxSOCKET_NOWAIT);

    // The toolkit's connect, which makes the socket; it is made close-on-exec at once. (This hides the
    // toolkit's connect from a given local address, which would leave the flag off.)
    bool Connect(const wxSockAddress& addr, bool wait = true) override;
};

// A Warcraft III connection sends small frames all the time (a keep-alive per game message) and takes
// one or a few frames per tick, so its socket keeps the system calls per frame down:
//  - input is read in chunks: one read takes what waits (up to kInputChunk bytes) into the socket's
//    input buffer, and the LAN frame reader (ReadLanPacket) cuts its frames from there;
//  - a Send that the socket takes whole goes straight to the system; the toolkit's write (which also
//    asks for the next OUTPUT event) is used only when bytes stay queued.
class CountingPeerSocket : public QueuedSender<wxSocketBase> {
public:
    static constexpr uint32_t kInputChunk = 4096;

    // Filled by CountingServerSocket::AcceptCounting (or wxSocketServer::AcceptWith).
    explicit CountingPeerSocket(wxSocketFlags flags = wxSOCKET_NOWAIT);

    enum class Input { Got, Nothing, Error };
    // Input bytes read from the socket and not yet taken.
    uint32_t HeldInput() const { return mInputEnd - mInputHead; }
    // Moves up to n held bytes to dst; the number moved.
    uint32_t TakeInput(uint8_t* dst, uint32_t n);
    // Reads the socket once into the empty input buffer (counted in BytesRead). Nothing: the socket has
    // no bytes now, or the peer closed (the lost-connection event reports that). A read that found fewer
    // bytes than it had room for drained the socket: the next call then answers Nothing without reading,
    // which ends the owner's pass over this input event (the toolkit raises the next one once more bytes
    // arrive), and the call after it reads again.
    Input ReadInput();

protected:
    long WriteFirst(const void* data, uint32_t n) override;

private:
    std::vector<uint8_t> mInput;
    uint32_t mInputHead = 0;
    uint32_t mInputEnd = 0;
    bool mInputDrained = false;
};

class CountingServerSocket : public CountingTransfer<wxSocketServer> {
public:
    explicit CountingServerSocket(const wxSockAddress& addr, wxSocketFlags flags = wxSOCKET_NOWAIT);

    // Accepts one pending connection into a new non-blocking CountingPeerSocket without waiting; null when
    // none is pending, the accept failed or the listener is not valid. The caller owns the socket (free it
    // with Destroy()).
    CountingPeerSocket* AcceptCounting();
    // After a null AcceptCounting: not 0 when the accept failed although a connection is waiting, which
    // then stays waiting; the errno of the cause (no descriptor, file or socket memory left: EMFILE,
    // ENFILE, ENOBUFS, ...) or kAcceptErrorUnknown. 0 when none was waiting or it went away before it was
    // taken.
    static constexpr int kAcceptErrorUnknown = -1;
    int AcceptError() const { return mAcceptError; }

private:
    int mAcceptError = 0;
};

extern template class CountingTransfer<wxSocketClient>;
extern template class CountingTransfer<wxSocketBase>;
extern template class CountingTransfer<wxSocketServer>;
extern template class QueuedSender<wxSocketClient>;
extern template class QueuedSender<wxSocketBase>;
