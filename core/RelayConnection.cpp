// The relay connection of ClientCore: the socket and its replacement on every disconnect, the connection
// state with its status notifications, the exchange of the raw 4-byte protocol words, the reading of
// relay frames, the reaction to a lost connection and the automatic reconnect.

#include <cstdint>

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <wx/log.h>
#include <wx/timer.h>

#include "core/ClientCore.h"
#include "core/CountingSocket.h"
#include "core/Version.h"
#include "platform/ProgramClock.h"

namespace {

constexpr int kRelaySocketId = 1000;
constexpr int kReconnectTimerId = 1402;
constexpr int kDeadlineTimerId = 1403;
constexpr int kDeadlineCheckMs = 1000;
constexpr wxSocketEventFlags kFullMask =
    wxSOCKET_INPUT_FLAG | wxSOCKET_OUTPUT_FLAG | wxSOCKET_CONNECTION_FLAG | wxSOCKET_LOST_FLAG;
constexpr wxSocketEventFlags kConnectedMask = wxSOCKET_INPUT_FLAG | wxSOCKET_OUTPUT_FLAG | wxSOCKET_LOST_FLAG;

wxString VersionText(uint32_t version)
{
    return wxString::FromAscii(FormatPackedVersion(version).c_str());
}

} // namespace

void ClientCore::LogServer(const wxString& text)
{
    wxLogMessage(wxS("%s"), wxS("[svr] ") + text);
}

void ClientCore::PostRelayState(const wxString& text)
{
    PostEvent(mStatusTarget, ClientEventRelayState, static_cast<int32_t>(mRelayState), text);
    PostEvent(mGameListTarget, ClientEventRelayState, static_cast<int32_t>(mRelayState), text);
}

void ClientCore::InitConnection()
{
    mRelaySocket = nullptr;
    ResetSocket(false);
    mReconnectTimer = new wxTimer(this, kReconnectTimerId);
    mDeadlineTimer = new wxTimer(this, kDeadlineTimerId);
    mRetriesLeft = 0;
}

void ClientCore::FreeConnection()
{
    ResetSocket(true);
    if (mReconnectTimer) {
        mReconnectTimer->Stop();
        DeleteAndNull(mReconnectTimer);
    }
    if (mDeadlineTimer) {
        mDeadlineTimer->Stop();
        DeleteAndNull(mDeadlineTimer);
    }
}

void ClientCore::ResetSocket(bool closing)
{
    mRelayState = RelayDisconnected;
    mIncoming.Clear();
    mFrameWaiting = false;
    if (mDeadlineTimer)
        mDeadlineTimer->Stop();
    mLogonHave = 0;
    mSendBatch.clear();
    if (mRelaySocket) {
        mRelaySocket->Notify(false);
        // Deferred destruction: events already queued for it may still arrive; they are recognised by
        // the generation number and dropped.
        mRelaySocket->Destroy();
        mRelaySocket = nullptr;
    }
    ++mSocketGeneration;
    if (closing)
        return;
    mRelaySocket = new CountingSocket(wxSOCKET_NOWAIT);
    mRelaySocket->SetEventHandler(*this, kRelaySocketId);
    mRelaySocket->SetClientData(reinterpret_cast<void*>(static_cast<uintptr_t>(mSocketGeneration)));
    mRelaySocket->SetNotify(kFullMask);
    mRelaySocket->Notify(true);
    mRelaySocket->SetFlags(wxSOCKET_NOWAIT);
}

void ClientCore::Connect(const wxIPV4address& address, const wxString& name)
{
    if (mRelayState != RelayDisconnected || !mRelaySocket)
        return;
    if (name.empty()) {
        LogServer(wxS("重新连接至") + mServerName);
    } else {
        LogServer(wxS("连接至") + name);
        mServerName = name;
    }
    CountingSocket* socket = mRelaySocket;
    const uint32_t generation = mSocketGeneration;
    const bool connectedNow = socket->Connect(address, false);
    mServerAddress = address;
    mRelayState = RelayConnecting;
    mConnectSince = bcx::ProgramClock::Now();
    if (mDeadlineTimer)
        mDeadlineTimer->Start(kDeadlineCheckMs);
    if (mRetriesLeft > 0)
        --mRetriesLeft;
    PostRelayState(wxS("正在连接..."));

    if (connectedNow) {
        // The connect completed at once: no CONNECTION event follows.
        OnRelayConnected();
        return;
    }
    if (socket->IsOk() && socket->LastError() == wxSOCKET_WOULDBLOCK)
        return;  // the outcome arrives as CONNECTION or LOST
    // The connect failed at once: no event follows. Report it as a lost connect attempt, later, from the
    // event queue, as the event would have been.
    CallAfter([this, generation]() {
        if (generation == mSocketGeneration && mRelayState == RelayConnecting)
            OnRelayLost();
    });
}

void ClientCore::Disconnect(bool final, const wxString& text)
{
    LogServer(wxS("连接已断开..."));
    if (mRelayState == RelayDisconnected)
        return;
    ResetSocket(false);
    MarkAllGames();
    RemoveGames(1);
    CloseAllGames();
    mServerInfoText.clear();
    mDiscardingData.clear();
    PostRelayState(text);
    if (mReconnectTimer) {
        mReconnectTimer->Stop();
        if (!final && mRetriesLeft > 0) {
            mReconnectTimer->StartOnce(static_cast<int>(mReconnectDelayMs));
            LogServer(wxString::Format(wxS("30秒后尝试再次连接 ( 剩余 %d 尝试 )"), static_cast<int>(mRetriesLeft)));
        }
    }
}

void ClientCore::SetReconnectDelayForTesting(uint32_t ms)
{
    mReconnectDelayMs = ms;
}

bool ClientCore::IsReconnectPending() const
{
    return mReconnectTimer && mReconnectTimer->IsRunning();
}

void ClientCore::OnReconnectTimer(wxTimerEvent&)
{
    Connect(mServerAddress, wxString());
}

void ClientCore::OnDeadlineTimer(wxTimerEvent&)
{
    CheckRelayDeadlines();
}

void ClientCore::CheckRelayDeadlines()
{
    const uint32_t now = bcx::ProgramClock::Now();
    if (mRelayState == RelayConnecting || mRelayState == RelayHandshake || mRelayState == RelayNegotiate) {
        if (now - mConnectSince >= kHandshakeDeadlineMs) {
            LogServer(wxString::Format(wxS("No logon within %u s"), kHandshakeDeadlineMs / 1000));
            Disconnect(false, mRelayState == RelayConnecting ? wxString(wxS("没有找到服务器"))
                                                             : wxString(wxS("连接丢失")));
        }
        return;
    }
    if (mRelayState != RelayDisconnected && mFrameWaiting && now - mFrameSince >= kFrameDeadlineMs) {
        LogServer(wxString::Format(wxS("Packet 0x%02X incomplete for %u s (%u of %u bytes)"), mIncoming.GetId(),
                                   kFrameDeadlineMs / 1000, mIncoming.Size(), mIncoming.GetLength()));
        Disconnect(false, wxS("连接丢失"));
    }
}

bool ClientCore::SendToRelay(const void* data, uint32_t size)
{
    if (!mRelaySocket || !mRelaySocket->IsConnected() || !data || size == 0)
        return false;
    if (mBatchingSends) {
        // Inside the frame loop: everything the handlers send goes out in order, in one write after it.
        mSendBatch.append(static_cast<const char*>(data), size);
        return true;
    }
    return SendNow(data, size);
}

bool ClientCore::SendNow(const void* data, uint32_t size)
{
    if (mRelaySocket->Send(data, size))
        return true;
    // The stream to the relay is cut (socket error or backlog bound). Drop the connection, but later,
    // from the event queue: the caller may hold games that a disconnect removes.
    LogServer(wxString::Format(wxS("Cannot send %u bytes to the relay server"), static_cast<unsigned>(size)));
    const uint32_t generation = mSocketGeneration;
    CallAfter([this, generation]() {
        if (generation == mSocketGeneration && mRelayState != RelayDisconnected)
            Disconnect(false, wxS("连接已断开"));
    });
    return false;
}

size_t ClientCore::RelayQueuedBytes() const
{
    return mRelaySocket ? mRelaySocket->QueuedBytes() : 0;
}

bool ClientCore::SendToRelay(const PacketBuffer& packet)
{
    return SendToRelay(packet.Data(), packet.Size());
}

void ClientCore::OnSocketEvent(wxSocketEvent& event)
{
    if (!mRelaySocket)
        return;
    // Events of a socket that has been replaced since are dropped.
    if (event.GetSocket() != mRelaySocket ||
        reinterpret_cast<uintptr_t>(event.GetClientData()) != static_cast<uintptr_t>(mSocketGeneration))
        return;
    switch (event.GetSocketEvent()) {
    case wxSOCKET_CONNECTION:
        OnRelayConnected();
        break;
    case wxSOCKET_INPUT:
        OnRelayInput();
        break;
    case wxSOCKET_LOST:
        OnRelayLost();
        break;
    case wxSOCKET_OUTPUT:
        if (mRelaySocket->IsConnected())
            mRelaySocket->FlushQueue();
        break;
    }
}

void ClientCore::OnRelayConnected()
{
    if (mRelayState != RelayConnecting)
        return;
    mRetriesLeft = static_cast<uint32_t>(mSettings.mAutoReconnect > 0 ? mSettings.mAutoReconnect : 0);
    LogServer(wxS("握手..."));
    mRelayState = RelayHandshake;
    mLogonHave = 0;
    // Acknowledgements are small frames; they go out at once instead of waiting for the previous one's
    // TCP acknowledgement.
    int noDelay = 1;
    mRelaySocket->SetOption(IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    const uint8_t word[4] = {
        static_cast<uint8_t>(LogonProtVersion), static_cast<uint8_t>(LogonProtVersion >> 8),
        static_cast<uint8_t>(LogonProtVersion >> 16), static_cast<uint8_t>(LogonProtVersion >> 24)};
    SendToRelay(word, sizeof word);
    PostRelayState(wxS("握手..."));
}

void ClientCore::OnRelayLost()
{
    if (mRelayState == RelayHandshake) {
        LogServer(wxS("Invalid logon protocol or userlimit reached"));
        Disconnect(true, wxS("断开连接: 用户限制连接"));
        return;
    }
    const wxString text = mRelayState == RelayConnecting ? wxString(wxS("没有找到服务器")) : wxString(wxS("连接丢失"));
    LogServer(text);
    Disconnect(false, text);
}

void ClientCore::OnRelayInput()
{
    CountingSocket* socket = mRelaySocket;
    socket->SetNotify(wxSOCKET_LOST_FLAG);

    if (mRelayState == RelayHandshake && socket->IsConnected())
        ReadProtocolWord();

    if (mRelaySocket == socket && socket->IsConnected() &&
        (mRelayState == RelayConnecting || mRelayState == RelayNegotiate || mRelayState == RelayLoggedOn))
        ReadRelayFrames();

    // A socket that replaced this one during the handling keeps the full mask it was made with.
    if (mRelaySocket == socket)
        socket->SetNotify(kConnectedMask);
}

void ClientCore::ReadProtocolWord()
{
    CountingSocket* socket = mRelaySocket;
    // The word may arrive in pieces: collect four bytes across input events.
    while (mLogonHave < 4) {
        socket->Read(mLogonBytes + mLogonHave, 4 - mLogonHave);
        const uint32_t got = socket->LastCount();
        if (got == 0)
            break;
        mLogonHave += got;
    }
    if (mLogonHave < 4)
        return;  // the rest comes with a later input event; a close before it reports LOST

    const uint32_t word = static_cast<uint32_t>(mLogonBytes[0]) | (static_cast<uint32_t>(mLogonBytes[1]) << 8) |
                          (static_cast<uint32_t>(mLogonBytes[2]) << 16) |
                          (static_cast<uint32_t>(mLogonBytes[3]) << 24);
    mLogonWord = word;
    if ((word & 0xFFFFFF00u) == (LogonProtVersion & 0xFFFFFF00u)) {
        mRelayState = RelayNegotiate;
        LogServer(wxS("协商..."));
        PostRelayState(wxS("协商..."));
        bcxPacket frame;
        frame.WriteHeader(static_cast<uint8_t>(RelayMsg::Version));
        frame.WriteU8(1);
        frame.WriteU32(RelayVersion);
        frame.UpdateLength();
        SendToRelay(frame);
        mServerRelayVersion = RelayVersion;
        return;
    }
    if (word == 0) {
        LogServer(wxS("Userlimit reached, server is full"));
        Disconnect(true, wxS("断开连接: 用户限制连接"));
        return;
    }
    LogServer(wxS("Version mismatch: LogonProt ") + VersionText(word) + wxS(", ") + VersionText(LogonProtVersion) +
              wxS(" needed"));
    Disconnect(true, wxS("Disconnected: Version mismatch"));
}

void ClientCore::ReadRelayFrames()
{
    CountingSocket* socket = mRelaySocket;
    mBatchingSends = true;
    // The toolkit raises the next input event only after a read found the socket drained: keep reading
    // while whole frames come.
    while (mRelaySocket == socket && mRelayState != RelayDisconnected) {
        const ReadResult result = ReadPacketFromSocket(mIncoming, *socket);
        if (result == ReadResult::Incomplete) {
            // A frame begun and not finished starts its deadline with its first bytes.
            if (mIncoming.Size() > 0 && !mFrameWaiting) {
                mFrameWaiting = true;
                mFrameSince = bcx::ProgramClock::Now();
            }
            break;
        }
        mFrameWaiting = false;
        const uint32_t id = mIncoming.GetId();
        if (result == ReadResult::Broken) {
            LogServer(wxString::Format(wxS("Trashed response from server in packet %i"), static_cast<int>(id)));
            Disconnect(false, wxS("连接已断开"));
            break;
        }
        switch (HandlePacket()) {
        case RelayStatus::Ok:
            break;
        case RelayStatus::Malformed:
            LogServer(wxString::Format(wxS("Malformed packet 0x%02X of %u bytes: its fields run past its end"), id,
                                       mIncoming.Size()));
            break;
        case RelayStatus::Close:
            LogServer(wxString::Format(wxS("Trashed response from server in packet %i"), static_cast<int>(id)));
            Disconnect(false, wxS("连接已断开"));
            break;
        }
        mIncoming.Clear();
    }
    mBatchingSends = false;
    // A disconnect during the loop has dropped the batch with the old socket.
    if (!mSendBatch.empty() && mRelaySocket == socket && socket->IsConnected()) {
        std::string batch;
        batch.swap(mSendBatch);
        SendNow(batch.data(), static_cast<uint32_t>(batch.size()));
    }
    mSendBatch.clear();
}
