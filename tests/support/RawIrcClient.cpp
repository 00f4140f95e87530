#include "support/RawIrcClient.h"

#include <cerrno>
#include <chrono>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/Loopback.h"

namespace bcxtest {
namespace {

using Clock = std::chrono::steady_clock;

// The line's command word (after an optional prefix).
std::string CommandOf(const std::string& line)
{
    size_t start = 0;
    if (!line.empty() && line[0] == ':') {
        start = line.find(' ');
        if (start == std::string::npos)
            return std::string();
        ++start;
    }
    const size_t end = line.find(' ', start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

} // namespace

RawIrcClient::~RawIrcClient()
{
    Close();
}

bool RawIrcClient::Connect(uint16_t port, int timeoutMs)
{
    Close();
    mClosed = false;
    mFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (mFd < 0)
        return false;
    sockaddr_in a = LoopbackAddress(port);
    if (::connect(mFd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
        return true;
    if (errno != EINPROGRESS) {
        Close();
        return false;
    }
    pollfd pfd{mFd, POLLOUT, 0};
    int error = 0;
    socklen_t len = sizeof error;
    if (::poll(&pfd, 1, timeoutMs) <= 0 || ::getsockopt(mFd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 ||
        error != 0) {
        Close();
        return false;
    }
    return true;
}

void RawIrcClient::Close()
{
    if (mFd >= 0)
        ::close(mFd);
    mFd = -1;
}

bool RawIrcClient::SendLine(const std::string& line)
{
    if (mFd < 0)
        return false;
    const std::string bytes = line + "\r\n";
    size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(2000);
    while (done < bytes.size()) {
        const ssize_t n = ::send(mFd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (Clock::now() >= deadline)
            return false;
        pollfd pfd{mFd, POLLOUT, 0};
        ::poll(&pfd, 1, 10);
    }
    return true;
}

void RawIrcClient::Poll()
{
    if (mFd < 0)
        return;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(mFd, buffer, sizeof buffer, 0);
        if (n > 0) {
            mPending.append(buffer, size_t(n));
            continue;
        }
        if (n == 0)
            mClosed = true;
        else if (errno == EINTR)
            continue;
        else if (errno != EAGAIN && errno != EWOULDBLOCK)
            mClosed = true;
        break;
    }
    size_t start = 0;
    for (;;) {
        const size_t end = mPending.find_first_of("\r\n", start);
        if (end == std::string::npos)
            break;
        if (end > start) {
            const std::string line = mPending.substr(start, end - start);
            mLines.push_back(line);
            if (CommandOf(line) == "PING") {
                const size_t blank = line.find(' ', line.find("PING"));
                SendLine("PONG" + (blank == std::string::npos ? std::string() : line.substr(blank)));
            }
        }
        start = end + 1;
    }
    mPending.erase(0, start);
}

bool RawIrcClient::WaitFor(const std::function<bool()>& pred, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        Poll();
        if (pred())
            return true;
        if (mFd < 0 || mClosed || Clock::now() >= deadline)
            return pred();
        pollfd pfd{mFd, POLLIN, 0};
        ::poll(&pfd, 1, 20);
    }
}

int RawIrcClient::FindLine(const std::string& fragment, size_t from) const
{
    for (size_t i = from; i < mLines.size(); ++i) {
        if (mLines[i].find(fragment) != std::string::npos)
            return int(i);
    }
    return -1;
}

bool RawIrcClient::WaitForLine(const std::string& fragment, int timeoutMs, std::string* line, size_t from)
{
    int index = -1;
    const bool found = WaitFor(
        [&] {
            index = FindLine(fragment, from);
            return index >= 0;
        },
        timeoutMs);
    if (found && line)
        *line = mLines[size_t(index)];
    return found;
}

bool RawIrcClient::Register(const std::string& nick, int timeoutMs)
{
    const size_t from = mLines.size();
    mNick = nick;
    if (!SendLine("NICK " + nick) || !SendLine("USER " + nick + " 0 * :Raw test client " + nick))
        return false;
    int welcome = -1;
    int refused = -1;
    WaitFor(
        [&] {
            for (size_t i = from; i < mLines.size() && welcome < 0 && refused < 0; ++i) {
                const std::string command = CommandOf(mLines[i]);
                if (command == "001")
                    welcome = int(i);
                else if (command == "433" || command == "432" || command == "431")
                    refused = int(i);
            }
            return welcome >= 0 || refused >= 0;
        },
        timeoutMs);
    return welcome >= 0;
}

bool RawIrcClient::Join(const std::string& channel, int timeoutMs)
{
    const size_t from = mLines.size();
    if (!SendLine("JOIN " + channel))
        return false;
    // Our own JOIN echo starts with ":" + nick + "!".
    return WaitFor(
        [&] {
            for (size_t i = from; i < mLines.size(); ++i) {
                const std::string& l = mLines[i];
                if (CommandOf(l) == "JOIN" && l.compare(0, mNick.size() + 2, ":" + mNick + "!") == 0)
                    return true;
            }
            return false;
        },
        timeoutMs);
}

} // namespace bcxtest
