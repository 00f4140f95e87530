#include "core/CountingSocket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/Descriptors.h"

// ---------------------------------------------------------------------------------------------------
// Counting transfer

template <class Base>
wxSocketBase& CountingTransfer<Base>::Write(const void* buffer, wxUint32 count)
{
    Base::Write(buffer, count);
    mBytesWritten += uint32_t(this->LastCount());
    return *this;
}

template <class Base>
wxSocketBase& CountingTransfer<Base>::Read(void* buffer, wxUint32 count)
{
    Base::Read(buffer, count);
    mBytesRead += uint32_t(this->LastCount());
    return *this;
}

// ---------------------------------------------------------------------------------------------------
// Queued send path

template <class Base>
long QueuedSender<Base>::WriteNow(const void* data, uint32_t n)
{
    this->Write(data, n);
    const wxUint32 taken = this->LastCount();
    if (taken > n)
        return -1;
    if (taken == 0 && this->Error() && this->LastError() != wxSOCKET_WOULDBLOCK)
        return -1;
    return long(taken);
}

template <class Base>
void QueuedSender<Base>::Compact()
{
    if (mQueueHead == mQueue.size()) {
        mQueue.clear();
        mQueueHead = 0;
    } else if (mQueueHead > 65536 && mQueueHead * 2 > mQueue.size()) {
        mQueue.erase(mQueue.begin(), mQueue.begin() + long(mQueueHead));
        mQueueHead = 0;
    }
}

template <class Base>
bool QueuedSender<Base>::Send(const void* data, uint32_t n)
{
    if (mSendFailed)
        return false;
    // Writing to a socket that never connected (or lost its connection) trips the toolkit's checks.
    if (!this->IsOk() || !this->IsConnected())
        return false;
    if (n == 0)
        return true;
    if (!data) {
        mSendFailed = true;
        return false;
    }
    const char* bytes = static_cast<const char*>(data);
    uint32_t done = 0;
    if (QueuedBytes() == 0) {
        const long taken = WriteFirst(bytes, n);
        if (taken < 0) {
            mSendFailed = true;
            return false;
        }
        done = uint32_t(taken);
        if (done == n)
            return true;
    }
    const size_t rest = n - done;
    if (QueuedBytes() + rest > mMaxQueued) {
        mSendFailed = true;
        return false;
    }
    mQueue.insert(mQueue.end(), bytes + done, bytes + n);
    if (done == 0 && QueuedBytes() > rest)
        FlushQueue();  // older bytes were waiting: give the socket a chance to take them now
    return !mSendFailed;
}

template <class Base>
void QueuedSender<Base>::FlushQueue()
{
    while (QueuedBytes() > 0 && !mSendFailed) {
        if (!this->IsOk() || !this->IsConnected()) {
            mSendFailed = true;
            break;
        }
        const size_t pending = QueuedBytes();
        const uint32_t chunk = pending > 0x7FFFFFFFu ? 0x7FFFFFFFu : uint32_t(pending);
        const long taken = WriteNow(mQueue.data() + mQueueHead, chunk);
        if (taken < 0) {
            mSendFailed = true;
            break;
        }
        mQueueHead += size_t(taken);
        if (uint32_t(taken) < chunk)
            break;  // the socket is full; the next OUTPUT event continues
    }
    if (mSendFailed) {
        mQueue.clear();
        mQueueHead = 0;
        return;
    }
    Compact();
}

// ---------------------------------------------------------------------------------------------------
// The three socket classes

namespace {

// The toolkit makes its sockets without close-on-exec: the socket it just made gets the flag. (A socket
// whose connect or listen failed early has nothing the toolkit made.)
void MarkCloseOnExec(const wxSocketBase& socket)
{
    if (socket.IsOk())
        bcx::SetCloseOnExec(socket.GetSocket());
}

} // namespace

CountingSocket::CountingSocket(wxSocketFlags flags) : QueuedSender<wxSocketClient>(flags) {}

bool CountingSocket::Connect(const wxSockAddress& addr, bool wait)
{
    const bool connected = QueuedSender<wxSocketClient>::Connect(addr, wait);
    MarkCloseOnExec(*this);
    return connected;
}

CountingPeerSocket::CountingPeerSocket(wxSocketFlags flags) : QueuedSender<wxSocketBase>(flags, wxSOCKET_BASE)
{
}

uint32_t CountingPeerSocket::TakeInput(uint8_t* dst, uint32_t n)
{
    const uint32_t taken = std::min(n, HeldInput());
    if (taken > 0)
        std::memcpy(dst, mInput.data() + mInputHead, taken);
    mInputHead += taken;
    return taken;
}

CountingPeerSocket::Input CountingPeerSocket::ReadInput()
{
    if (HeldInput() > 0)
        return Input::Got;
    if (mInputDrained) {
        mInputDrained = false;
        return Input::Nothing;
    }
    mInput.resize(kInputChunk);
    mInputHead = mInputEnd = 0;
    Read(mInput.data(), kInputChunk);
    const wxUint32 got = LastCount();
    if (got > kInputChunk)
        return Input::Error;
    if (got > 0) {
        mInputEnd = got;
        mInputDrained = got < kInputChunk;
        return Input::Got;
    }
    // The peer's orderly close is not an input fault: the lost-connection event reports it.
    if (IsClosed())
        return Input::Nothing;
    if (Error() && LastError() != wxSOCKET_WOULDBLOCK)
        return Input::Error;
    return Input::Nothing;
}

long CountingPeerSocket::WriteFirst(const void* data, uint32_t n)
{
    const ssize_t sent = ::send(GetSocket(), data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent == static_cast<ssize_t>(n)) {
        CountWritten(n);
        return long(n);
    }
    // A part or nothing was taken (or the send failed): the toolkit's write goes on from there, so that
    // the error state and the next OUTPUT event are the toolkit's as after any write.
    const uint32_t taken = sent > 0 ? uint32_t(sent) : 0;
    CountWritten(taken);
    const long more = WriteNow(static_cast<const char*>(data) + taken, n - taken);
    return more < 0 ? -1 : long(taken) + more;
}

namespace {

// True when a connection waits on the listener.
bool ConnectionWaiting(int listener)
{
    pollfd waiting{listener, POLLIN, 0};
    return ::poll(&waiting, 1, 0) == 1 && (waiting.revents & POLLIN) != 0;
}

// The name of what keeps an accept failing while a connection waits. The toolkit's accept makes further
// system calls (its event registration) before it reports, so the errno it leaves need not be the
// accept's. A socket of our own needs what the accept needed for the connection (a descriptor, a file,
// socket memory) and fails the same way, with its error read at once; when it can be had, the cause is
// something else (a security module refusing the accept, say) that the toolkit does not tell.
int NameAcceptFailure()
{
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return errno != 0 ? errno : CountingServerSocket::kAcceptErrorUnknown;
    ::close(probe);
    return CountingServerSocket::kAcceptErrorUnknown;
}

} // namespace

CountingServerSocket::CountingServerSocket(const wxSockAddress& addr, wxSocketFlags flags)
    : CountingTransfer<wxSocketServer>(addr, flags)
{
    MarkCloseOnExec(*this);
}

CountingPeerSocket* CountingServerSocket::AcceptCounting()
{
    mAcceptError = 0;
    if (!IsOk())
        return nullptr;
    // A failed accept with no connection waiting is the normal end of a round of accepts. One that came
    // just after the failed accept is taken by a second accept; when that fails too, the accept fails for
    // a reason that lasts, whatever it is.
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto peer = std::make_unique<CountingPeerSocket>(wxSOCKET_NOWAIT);
        if (AcceptWith(*peer, false)) {
            MarkCloseOnExec(*peer);
            peer->SetFlags(wxSOCKET_NOWAIT);
            return peer.release();
        }
        // The peer never connected: nothing for the deferred destruction to close, so it is deleted.
        if (!ConnectionWaiting(GetSocket()))
            return nullptr;
    }
    mAcceptError = NameAcceptFailure();
    return nullptr;
}

template class CountingTransfer<wxSocketClient>;
template class CountingTransfer<wxSocketBase>;
template class CountingTransfer<wxSocketServer>;
template class QueuedSender<wxSocketClient>;
template class QueuedSender<wxSocketBase>;
