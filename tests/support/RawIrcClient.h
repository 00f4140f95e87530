#pragma once
// A second IRC client for the tests, written on plain POSIX sockets: it plays the other people in the
// channel. It registers, joins, sends lines and collects the server's lines, answering PING on its own.
// Poll() never waits, so a test can run it from the pump while the client under test is driven by
// toolkit events; the Wait* helpers block (bounded) and are for steps where only this client acts.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bcxtest {

class RawIrcClient {
public:
    RawIrcClient() = default;
    ~RawIrcClient();
    RawIrcClient(const RawIrcClient&) = delete;
    RawIrcClient& operator=(const RawIrcClient&) = delete;

    bool Connect(uint16_t port, int timeoutMs = 2000);
    bool IsOpen() const { return mFd >= 0; }
    // True once the server closed the connection.
    bool Closed() const { return mClosed; }

    // NICK and USER; true when the server welcomed the nick (001) in time.
    bool Register(const std::string& nick, int timeoutMs = 10000);
    // JOIN; true when the server confirmed our own JOIN in time.
    bool Join(const std::string& channel, int timeoutMs = 10000);

    // Writes line + "\r\n".
    bool SendLine(const std::string& line);
    bool Privmsg(const std::string& target, const std::string& text) { return SendLine("PRIVMSG " + target + " :" + text); }
    bool Quit(const std::string& reason) { return SendLine("QUIT :" + reason); }

    // Reads what has arrived without waiting; complete lines are stored (PING is answered).
    void Poll();
    // Waits (bounded) for a stored line holding fragment; the first such line from index from on.
    bool WaitForLine(const std::string& fragment, int timeoutMs, std::string* line = nullptr, size_t from = 0);
    bool WaitFor(const std::function<bool()>& pred, int timeoutMs);

    // Every line received so far (without line ends).
    const std::vector<std::string>& Lines() const { return mLines; }
    // The index of the first line from index from on that holds fragment; -1 when none.
    int FindLine(const std::string& fragment, size_t from = 0) const;
    const std::string& Nick() const { return mNick; }

    void Close();

private:
    int mFd = -1;
    bool mClosed = false;
    std::string mPending;
    std::vector<std::string> mLines;
    std::string mNick;
};

} // namespace bcxtest
