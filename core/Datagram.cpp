#include <cerrno>
#include <cstring>
#include <vector>

#include <arpa/inet.h>
#include <wx/log.h>

#include "core/ClientCore.h"
#include "platform/DatagramSocket.h"
#include "platform/TextCodec.h"

uint16_t ClientCore::sLanPort = ClientCore::kLanPort;

uint16_t ClientCore::LanPort()
{
    return sLanPort;
}

void ClientCore::SetLanPortForTesting(uint16_t port)
{
    sLanPort = port;
}

void ClientCore::OpenDatagramSocket()
{
    if (!mDatagramSocket)
        mDatagramSocket = std::make_unique<bcx::DatagramSocket>();
    const uint16_t port = static_cast<uint16_t>(mSettings.mDatagramPort & 0xFFFF);
    errno = 0;
    if (!mDatagramSocket->Open(port)) {
        const int error = errno;
        if (error == EADDRINUSE)
            // Most often a second copy of the program on this computer: said in the user's words.
            wxLogMessage(wxS("UDP port %d, the port for Warcraft III's LAN game searches, is in use, perhaps by "
                             "another copy of Brawlcast: this copy still announces its games but does not hear "
                             "the searches. The setting DatagramPort under [Net] in bcxClient.ini chooses "
                             "another port."),
                         static_cast<int>(port));
        else if (mDatagramSocket->IsOpen())
            wxLogMessage(wxS("ClientCore::OpenDatagramSocket: could not bind port %d (error: %d)"),
                         static_cast<int>(port), error);
        else
            wxLogMessage(wxS("ClientCore::OpenDatagramSocket: could not create the socket (error: %d)"), error);
    }
}

void ClientCore::CloseDatagramSocket()
{
    if (mDatagramSocket)
        mDatagramSocket->Close();
}

uint16_t ClientCore::DatagramLocalPort() const
{
    return mDatagramSocket ? mDatagramSocket->LocalPort() : 0;
}

void ClientCore::DatagramSendTo(const char* data, int32_t length, const sockaddr_in& to)
{
    if (!data || length < 0) {
        wxLogMessage(wxS("ClientCore::DatagramSendTo: could not send (error: %d)"), EINVAL);
        return;
    }
    int sent = -1;
    if (mDatagramSocket) {
        sent = mDatagramSocket->SendTo(data, static_cast<size_t>(length), to);
    } else {
        errno = EBADF;
    }
    if (sent < 0) {
        wxLogMessage(wxS("ClientCore::DatagramSendTo: could not send (error: %d)"), errno);
        return;
    }
    if (sent < length)
        wxLogMessage(wxS("ClientCore::DatagramSendTo: only sent %i of %i bytes"), sent, static_cast<int>(length));
}

bool ClientCore::ComputeLanTarget(const ClientSettings& settings, sockaddr_in& to)
{
    uint32_t address;
    if (settings.mUseBroadcast == 1)
        address = INADDR_BROADCAST;
    else if (settings.mUseLocalhost == 1)
        address = INADDR_LOOPBACK;
    else if (!bcx::ParseDottedAddress(settings.mCustomAddress, address))
        return false;
    std::memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons(sLanPort);
    to.sin_addr.s_addr = htonl(address);
    return true;
}

void ClientCore::DatagramSendTo(const char* data, int32_t length)
{
    sockaddr_in to;
    if (!ComputeLanTarget(mSettings, to)) {
        wxLogMessage(wxS("ClientCore::DatagramSendTo: CustomAddress \"%s\" is not an address, datagram not sent"),
                     bcx::FromGbk(mSettings.mCustomAddress));
        return;
    }
    DatagramSendTo(data, length, to);
}

bool ClientCore::DatagramReceive(char*& data, int32_t& length, sockaddr_in*& from)
{
    data = nullptr;
    from = nullptr;
    length = 0;
    if (!mDatagramSocket)
        return false;
    std::vector<char> bytes;
    sockaddr_in sender;
    if (!mDatagramSocket->Receive(bytes, sender) || bytes.empty() ||
        bytes.size() > static_cast<size_t>(kDatagramBufferSize))
        return false;
    data = new char[kDatagramBufferSize];
    std::memset(data, 0, kDatagramBufferSize);
    std::memcpy(data, bytes.data(), bytes.size());
    from = new sockaddr_in(sender);
    length = static_cast<int32_t>(bytes.size());
    return true;
}
