#include "lanhost/IrcClient.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <wx/log.h>

#include "core/ClientCore.h"
#include "core/ClientSettings.h"
#include "core/CountingSocket.h"
#include "core/Version.h"
#include "platform/ProgramClock.h"
#include "platform/Random.h"
#include "platform/TextCodec.h"

namespace {

// The host field of our USER line.
constexpr const char* kUserLineHost = "brawlcast";
// The user field when the nick gives nothing usable.
constexpr const char* kFallbackUserName = "bcxuser";
// Reads per input event; the toolkit raises a new input event while data is left.
constexpr int kMaxReadsPerEvent = 64;
// The close reason when the server stops taking our lines.
constexpr const char* kSendFailedReason = "connection lost (send queue full)";
// Random nicks drawn at most per refusal until one differs from the refused nick.
constexpr int kNickDraws = 8;

std::string AsciiUpper(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    }
    return text;
}

std::string RightTrim(std::string text)
{
    size_t end = text.size();
    while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    text.resize(end);
    return text;
}

// The last blank-separated word of text; empty when there is none.
std::string LastWord(const std::string& text)
{
    const std::string trimmed = RightTrim(text);
    const size_t blank = trimmed.find_last_of(' ');
    return blank == std::string::npos ? trimmed : trimmed.substr(blank + 1);
}

// The user field of the USER line: the nick in lower case, restricted to the characters servers accept
// in a user name (letters, digits, '.', '_', '-', '+').
std::string UserFieldFromNick(const std::string& nick)
{
    std::string field;
    for (char c : bcx::AsciiLower(nick)) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-' || c == '+')
            field += c;
    }
    return field.empty() ? std::string(kFallbackUserName) : field;
}

} // namespace

void StripIrcControlCodes(std::string& text)
{
    for (char code : {'\x01', '\x02', '\x03'})
        text.erase(std::remove(text.begin(), text.end(), code), text.end());
}

wxBEGIN_EVENT_TABLE(IrcClient, wxEvtHandler)
    EVT_SOCKET(IrcClient::kSocketId, IrcClient::OnSocketEvent)
wxEND_EVENT_TABLE()

IrcClient::IrcClient(IrcClientOwner* owner) : mOwner(owner), mBuffer(new char[kReceiveCapacity]) {}

IrcClient::~IrcClient()
{
    Close("BRAWLCAST! IRC session ended automatically.");
}

const ClientSettings& IrcClient::Settings() const
{
    if (ClientCore* core = ClientCore::Get())
        return core->Settings();
    static const ClientSettings defaults;
    return defaults;
}

void IrcClient::Forward(const std::string& text)
{
    if (mOwner)
        mOwner->ForwardLineToGame(text);
}

// ---------------------------------------------------------------------------------------------------
// Connection

void IrcClient::Connect(const IrcEndpoint& endpoint)
{
    if (mSocket) {
        Forward(bcx::Utf8ToGbk("错误,已经连接. 请先使用 /shut 命令."));
        return;
    }
    mEndpoint = endpoint;
    if (!mBuffer)
        mBuffer.reset(new char[kReceiveCapacity]);
    mBufferedLength = 0;
    mDiscarding = false;

    char port[16];
    std::snprintf(port, sizeof port, ":%i", int(endpoint.port));
    Forward(bcx::Utf8ToGbk("正在尝试连接至 ") + endpoint.host + port);

    mSocket = new CountingSocket(wxSOCKET_NOWAIT);
    mSocket->SetEventHandler(*this, kSocketId);
    mSocket->SetNotify(wxSOCKET_INPUT_FLAG | wxSOCKET_OUTPUT_FLAG | wxSOCKET_CONNECTION_FLAG | wxSOCKET_LOST_FLAG);
    mSocket->Notify(true);

    wxIPV4address address;
    // The toolkit asserts on an empty host name: check before asking it.
    if (endpoint.host.empty() || !address.Hostname(bcx::FromGbk(endpoint.host))) {
        Close("Invalid hostname specified");
        return;
    }
    if (endpoint.port == 0 || !address.Service(endpoint.port)) {
        Close("Invalid port specified");
        return;
    }
    // A connection that completes at once raises no connection event.
    if (mSocket->Connect(address, false))
        HandleConnection();
}

void IrcClient::Close(const std::string& reason)
{
    mBuffer.reset();
    mChannel.clear();
    mBufferedLength = 0;
    mDiscarding = false;
    mInChannel = false;
    if (!mSocket)
        return;
    mClosing = true;
    if (mOwner && mOwner->HasGameSocket())
        Forward("Closing connection: " + reason);
    // A stream already cut takes no QUIT.
    if (!mSocket->SendFailed())
        SendLine("QUIT :" + reason);
    mClosing = false;
    CountingSocket* socket = mSocket;
    mSocket = nullptr;
    socket->Notify(false);
    socket->Destroy();
}

// ---------------------------------------------------------------------------------------------------
// Sending

void IrcClient::WriteBytes(const std::string& bytes)
{
    if (!mSocket || mSocket->Send(bytes.data(), uint32_t(bytes.size())) || mClosing)
        return;
    // The server stopped taking what we send (or the socket failed): the stream is cut from here on, so
    // the session ends the way a lost connection does.
    wxLogMessage(wxS("[irc] the server does not take what we send (%u bytes queued); closing the connection"),
                 unsigned(mSocket->QueuedBytes()));
    Close(kSendFailedReason);
}

void IrcClient::SendLine(const std::string& line)
{
    const size_t end = line.find_first_of("\r\n");
    WriteBytes((end == std::string::npos ? line : line.substr(0, end)) + "\n");
}

void IrcClient::SetNick(const std::string& nick)
{
    mNick = nick;
    SendLine("NICK " + nick);
}

void IrcClient::Join(const std::string& channel)
{
    if (!mChannel.empty())
        SendLine("PART " + mChannel);
    mChannel = channel;
    SendLine("JOIN " + mChannel);
}

void IrcClient::Part()
{
    if (mChannel.empty())
        return;
    SendLine("PART " + mChannel);
    mChannel.clear();
}

void IrcClient::Say(const std::string& text)
{
    if (!mInChannel)
        return;
    SendLine("PRIVMSG " + mChannel + " :" + text);
    if (Settings().mEchoOwnIRCChat)
        Forward("<" + mNick + "> " + text);
}

void IrcClient::Emote(const std::string& text)
{
    if (!mInChannel)
        return;
    SendLine("PRIVMSG " + mChannel + " :\x01" "ACTION " + text + "\x01");
    Forward("* " + mNick + " " + text);
}

std::string IrcClient::UserLine() const
{
    return "USER " + UserFieldFromNick(mNick) + " \"" + kUserLineHost + "\" \"" + mEndpoint.host + "\" :bcx -- " +
           Settings().mUserName + " -- (Brawlcast - Client " + FormatPackedVersion(ClientVersion) + ")";
}

void IrcClient::HandleConnection()
{
    mNickAttempt = 1;
    SetNick(Settings().mIRCNick1);
    SendLine(UserLine());
}

void IrcClient::NextNick()
{
    const ClientSettings& settings = Settings();
    if (mNickAttempt <= 1) {
        mNickAttempt = 2;
        SetNick(settings.mIRCNick2);
    } else if (mNickAttempt == 2) {
        mNickAttempt = 3;
        SetNick(settings.mIRCNick3);
    } else {
        // The program's generator is seeded once; each refusal draws a nick other than the refused one.
        char nick[32];
        for (int draw = 0; draw < kNickDraws; ++draw) {
            std::snprintf(nick, sizeof nick, "bcxuser%i", int(bcx::Random::Next(65536)));
            if (mNick != nick)
                break;
        }
        SetNick(nick);
    }
}

void IrcClient::JoinAutomaticChannel()
{
    std::string channel = mEndpoint.channel;
    if (mOwner && mOwner->IsAttachedToGame()) {
        char id[16];
        std::snprintf(id, sizeof id, "0x%08X", unsigned(mOwner->AttachedGameId()));
        channel += id;
    }
    Join(channel);
}

// ---------------------------------------------------------------------------------------------------
// Receiving

void IrcClient::OnSocketEvent(wxSocketEvent& event)
{
    if (!mSocket || event.GetSocket() != mSocket)
        return;  // an event of a socket already dropped
    switch (event.GetSocketEvent()) {
    case wxSOCKET_LOST:
        Close("connection lost");
        break;
    case wxSOCKET_CONNECTION:
        HandleConnection();
        break;
    case wxSOCKET_OUTPUT:
        mSocket->FlushQueue();
        break;
    case wxSOCKET_INPUT:
        ReadAvailable();
        break;
    }
}

void IrcClient::ReadAvailable()
{
    for (int reads = 0; reads < kMaxReadsPerEvent && mSocket && mBuffer; ++reads) {
        const uint32_t room = kReceiveCapacity - mBufferedLength;
        mSocket->Read(mBuffer.get() + mBufferedLength, room);
        const uint32_t got = mSocket->LastCount();
        if (got == 0 || got > room) {
            if (mSocket->IsClosed()) {
                Close("connection lost");
            } else if (got > room || (mSocket->Error() && mSocket->LastError() != wxSOCKET_WOULDBLOCK)) {
                Forward("Error reading from socket.");
                Close("Error reading from socket.");
            }
            return;
        }
        ConsumeBuffered(got);
    }
}

void IrcClient::HandleReceived(const char* data, size_t n)
{
    while (n > 0 && mBuffer) {
        const uint32_t room = kReceiveCapacity - mBufferedLength;
        const uint32_t take = uint32_t(std::min<size_t>(room, n));
        std::memcpy(mBuffer.get() + mBufferedLength, data, take);
        ConsumeBuffered(take);
        data += take;
        n -= take;
    }
}

void IrcClient::ConsumeBuffered(uint32_t added)
{
    const uint32_t end = mBufferedLength + added;
    uint32_t lineStart = 0;
    // The kept bytes hold no line end: scan only what arrived.
    for (uint32_t i = mBufferedLength; i < end; ++i) {
        const char c = mBuffer[i];
        if (c != '\r' && c != '\n')
            continue;
        if (mDiscarding)
            mDiscarding = false;  // the end of the over-long line
        else if (i > lineStart)
            HandleLine(std::string(mBuffer.get() + lineStart, i - lineStart));
        lineStart = i + 1;
        if (!mBuffer)
            return;  // closed while handling the line
    }
    if (mDiscarding) {
        mBufferedLength = 0;
        return;
    }
    const uint32_t rest = end - lineStart;
    if (rest > 0 && lineStart > 0)
        std::memmove(mBuffer.get(), mBuffer.get() + lineStart, rest);
    mBufferedLength = rest;
    if (mBufferedLength >= kReceiveCapacity) {
        wxLogMessage(wxS("[irc] discarded a server line that does not fit the %u-byte receive buffer"),
                     unsigned(kReceiveCapacity));
        mBufferedLength = 0;
        mDiscarding = true;
    }
}

void IrcClient::HandleLine(const std::string& line)
{
    std::string nick;
    std::string rest = line;
    if (!rest.empty() && rest[0] == ':') {
        const size_t blank = rest.find(' ');
        const std::string prefix = rest.substr(1, blank == std::string::npos ? std::string::npos : blank - 1);
        nick = prefix.substr(0, prefix.find('!'));
        rest = blank == std::string::npos ? std::string() : rest.substr(blank + 1);
    }
    const std::string& l = rest;

    const size_t commandEnd = l.find(' ');
    const std::string command = AsciiUpper(l.substr(0, commandEnd));
    const size_t colon = l.find(':');
    const std::string text = colon == std::string::npos ? std::string() : l.substr(colon + 1);
    std::string params;
    if (commandEnd != std::string::npos) {
        const size_t start = commandEnd + 1;
        const size_t stop = (colon != std::string::npos && colon >= start) ? colon : l.size();
        params = RightTrim(l.substr(start, stop - start));
    }

    static const char* const kIgnored[] = {"372", "002", "003", "004", "005", "251", "252",
                                           "253", "254", "255", "333", "366", "375"};
    for (const char* ignored : kIgnored) {
        if (command == ignored)
            return;
    }

    if (command == "001") {
        mNick = params;
        Forward(text);
    } else if (command == "NOTICE") {
        if (AsciiUpper(params) == "AUTH")
            Forward(text);
    } else if (command == "PING") {
        SendLine("PONG " + text);
    } else if (command == "JOIN") {
        if (bcx::AsciiLower(nick) == bcx::AsciiLower(mNick))
            mInChannel = true;
        Forward(nick + " joined channel " + text);
    } else if (command == "353") {
        Forward(LastWord(params) + " userlist :");
        std::string names;
        int count = 0;
        size_t pos = 0;
        while (pos <= text.size()) {
            size_t blank = text.find(' ', pos);
            if (blank == std::string::npos)
                blank = text.size();
            if (blank > pos) {
                names += "[" + text.substr(pos, blank - pos) + "] ";
                if (++count == 6) {
                    Forward(names);
                    names.clear();
                    count = 0;
                }
            }
            pos = blank + 1;
        }
        if (count > 0)
            Forward(names);
    } else if (command == "PART") {
        if (bcx::AsciiLower(nick) == bcx::AsciiLower(mNick))
            mInChannel = false;
        else
            Forward(nick + " left channel " + text);
    } else if (command == "QUIT") {
        Forward(nick + " quit: " + text);
    } else if (command == "376" || command == "422") {
        // 422: the server has no message of the day; its registration ends there.
        JoinAutomaticChannel();
    } else if (command == "433" || command == "432" || command == "431" ||
               (command == "461" && AsciiUpper(LastWord(params)) == "NICK")) {
        // Nick in use, refused or missing: the next nick.
        Forward(params + " : " + text);
        NextNick();
    } else if (command == "332") {
        std::string topic = text;
        StripIrcControlCodes(topic);
        Forward("Topic is \"" + topic + "\"");
    } else if (command == "NICK") {
        Forward("* " + nick + " is now known as " + text);
    } else if (command == "PRIVMSG") {
        std::string t = text;
        if (!t.empty() && t[0] == '\x01') {
            const size_t blank = t.find(' ');
            const std::string ctcp = t.substr(1, blank == std::string::npos ? std::string::npos : blank - 1);
            t = blank == std::string::npos ? std::string() : t.substr(blank + 1);
            StripIrcControlCodes(t);
            if (ctcp == "ACTION")
                Forward("* " + nick + " " + t);
            else
                Forward("*(" + ctcp + ") " + nick + " " + t);
        } else {
            StripIrcControlCodes(t);
            Forward("<" + nick + "> " + t);
        }
    } else {
        Forward(l);
    }
}
