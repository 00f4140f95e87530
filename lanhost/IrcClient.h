#pragma once
// The IRC bridge of one joined Warcraft III viewer: a small IRC client that connects to the endpoint the
// relay announced (or the configured one), registers with the configured nicks (falling back to a random
// "bcxuser" nick), joins the channel of the watched game, answers PING, sends the viewer's chat lines and
// actions, and prints what happens in the channel into the viewer's Warcraft III chat through its owner.
//
// Lines on the IRC wire are raw bytes (std::string) and are passed on byte-exact; the program's own
// Chinese texts go to the game as GBK bytes. GUI thread only; the socket is non-blocking and driven by
// socket events.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <wx/event.h>
#include <wx/socket.h>

class CountingSocket;
struct ClientSettings;

// What the IRC client needs of the joined Warcraft III connection that owns it.
class IrcClientOwner {
public:
    virtual ~IrcClientOwner() = default;

    // Prints one line (GBK bytes) into the owner's Warcraft III chat through its IRC chat sender.
    virtual void ForwardLineToGame(const std::string& gbkText) = 0;
    // True while the owner still has its Warcraft III socket.
    virtual bool HasGameSocket() const = 0;
    // True once the owner is attached to a game; AttachedGameId() then names it.
    virtual bool IsAttachedToGame() const = 0;
    virtual uint32_t AttachedGameId() const = 0;
};

// Where the IRC server is and which channel is joined automatically (host and channel are bytes).
struct IrcEndpoint {
    std::string host;
    uint16_t port = 0;
    std::string channel;
};

// Removes every byte 0x01, then every 0x02, then every 0x03.
void StripIrcControlCodes(std::string& text);

class IrcClient : public wxEvtHandler {
public:
    static constexpr int kSocketId = 1000;
    // Room for received bytes; a line that does not end within it is discarded.
    static constexpr uint32_t kReceiveCapacity = 4096;

    explicit IrcClient(IrcClientOwner* owner);
    // Closes with the reason "BRAWLCAST! IRC session ended automatically.".
    ~IrcClient() override;

    IrcClient(const IrcClient&) = delete;
    IrcClient& operator=(const IrcClient&) = delete;

    // The endpoint that the registration and the automatic join use; Connect sets it.
    void SetEndpoint(const IrcEndpoint& endpoint) { mEndpoint = endpoint; }
    // Opens a non-blocking connection to the endpoint. Refused with a chat line while a connection exists;
    // an empty or unresolvable host or an invalid port closes again with the reason as the chat line.
    void Connect(const IrcEndpoint& endpoint);
    // Sends "QUIT :" + reason when connected, drops the socket, leaves the channel state and frees the
    // receive buffer (a later Connect allocates a new one).
    void Close(const std::string& reason);

    // Writes line + "\n" in one write; nothing when there is no connection. The line ends at its first CR
    // or LF: a text never carries a second command.
    void SendLine(const std::string& line);
    void SetNick(const std::string& nick);
    // Parts the current channel (when one is current) and joins channel.
    void Join(const std::string& channel);
    // Parts the current channel; the channel becomes empty.
    void Part();
    // Chat into the channel; only while in the channel.
    void Say(const std::string& text);
    // A CTCP ACTION into the channel; only while in the channel.
    void Emote(const std::string& text);

    void OnSocketEvent(wxSocketEvent& event);

    // The connection event: first nick and the registration line.
    void HandleConnection();
    // Received bytes: cut into lines at CR and LF, each complete line handled, an unfinished rest kept.
    // The socket's input handler passes what it reads here; tests feed bytes directly.
    void HandleReceived(const char* data, size_t n);
    // One server line, without its line end.
    void HandleLine(const std::string& line);

    bool HasSocket() const { return mSocket != nullptr; }
    bool InChannel() const { return mInChannel; }
    const std::string& Channel() const { return mChannel; }
    const std::string& Nick() const { return mNick; }
    int32_t NickAttempt() const { return mNickAttempt; }
    uint32_t BufferedLength() const { return mBufferedLength; }
    const IrcEndpoint& Endpoint() const { return mEndpoint; }

protected:
    // Writes bytes to the connection through the socket's queued send path; nothing without a socket.
    // When the socket does not take them (its send queue is full or it failed) the connection is closed
    // with a log line and the "Closing connection: " chat line, as a lost one is. Tests capture the
    // written bytes by overriding it.
    virtual void WriteBytes(const std::string& bytes);

private:
    // Reads until the socket has nothing more, handling the lines as they complete.
    void ReadAvailable();
    // Handles the complete lines among the buffered bytes after added bytes arrived.
    void ConsumeBuffered(uint32_t added);
    void Forward(const std::string& text);
    void NextNick();
    void JoinAutomaticChannel();
    std::string UserLine() const;
    // The settings of the client core; defaults when the core is gone.
    const ClientSettings& Settings() const;

    IrcClientOwner* mOwner;                  // not owned
    CountingSocket* mSocket = nullptr;       // owned; null while not connected
    std::unique_ptr<char[]> mBuffer;         // kReceiveCapacity bytes; null after Close
    uint32_t mBufferedLength = 0;            // bytes of an unfinished line at the start of mBuffer
    bool mDiscarding = false;                // skipping the rest of an over-long line
    bool mClosing = false;                   // Close is sending the QUIT line
    std::string mChannel;
    bool mInChannel = false;
    std::string mNick;
    int32_t mNickAttempt = 0;                // 1 to 3: the configured nick tried last
    IrcEndpoint mEndpoint;

    wxDECLARE_EVENT_TABLE();
};
