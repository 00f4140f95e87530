#include "ui/VersionCheck.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include <wx/app.h>
#include <wx/msgdlg.h>

#include "core/Deployment.h"
#include "platform/TextCodec.h"

namespace {

// Set before the thread starts (tests only); read by the worker.
wxString gVersionHostOverride;

} // namespace

VersionCheckThread::VersionCheckThread(const wxString& application, const wxString& version)
    : wxThread(wxTHREAD_DETACHED), mApplication(application), mVersion(version)
{
}

wxString VersionCheckThread::VersionHost()
{
    if (!gVersionHostOverride.empty())
        return gVersionHostOverride;
    return wxString::FromAscii(bcx::kVersionHost);
}

void VersionCheckThread::SetVersionHostForTesting(const wxString& hostAndPort)
{
    gVersionHostOverride = hostAndPort;
}

wxString VersionCheckThread::ExtractMessage(const std::string& response)
{
    const std::string marker = bcx::Utf8ToGbk("===信息===\n");
    size_t at = response.find(marker);
    if (at == std::string::npos)
        return wxString();
    return bcx::FromGbk(response.substr(at + marker.size()));
}

namespace {

std::string Utf8(const wxString& text)
{
    const wxScopedCharBuffer buffer = text.utf8_str();
    return std::string(buffer.data(), buffer.length());
}

// Splits "host[:port]"; port 80 when none is given. False for an unusable port.
bool SplitHostPort(const std::string& text, std::string& host, std::string& port)
{
    size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        host = text;
        port = "80";
    } else {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
            return false;
    }
    return !host.empty();
}

// Connects to host:port within the timeout; -1 on failure.
int ConnectWithTimeout(const std::string& host, const std::string& port, int timeoutMs)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || !found)
        return -1;
    int fd = -1;
    for (addrinfo* entry = found; entry && fd < 0; entry = entry->ai_next) {
        fd = socket(entry->ai_family, entry->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, entry->ai_protocol);
        if (fd < 0)
            continue;
        int rc = connect(fd, entry->ai_addr, entry->ai_addrlen);
        if (rc != 0 && errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int error = 0;
            socklen_t length = sizeof error;
            if (poll(&p, 1, timeoutMs) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 &&
                error == 0)
                rc = 0;
        }
        if (rc != 0) {
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    return fd;
}

// Sends all bytes, each wait bounded by the timeout.
bool SendAll(int fd, const std::string& bytes, int timeoutMs)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, timeoutMs) != 1)
            return false;
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

wxString VersionCheckThread::FetchMessage(const wxString& application, const wxString& version)
{
    // The worker uses plain sockets: the toolkit's sockets tie themselves to the GUI thread's event loop.
    const std::string hostText = Utf8(VersionHost());
    std::string host, port;
    if (!SplitHostPort(hostText, host, port))
        return wxString();
    std::string request = "GET /bcxversion.php?app=" + Utf8(application) + "&ver=" + Utf8(version) +
                          " HTTP/1.0\r\nHost: " + hostText + "\r\nAccept: */*\r\nConnection: close\r\n\r\n";

    const int timeoutMs = kTimeoutSeconds * 1000;
    int fd = ConnectWithTimeout(host, port, timeoutMs);
    if (fd < 0)
        return wxString();
    std::string response;
    if (SendAll(fd, request, timeoutMs)) {
        // The head of the answer plus at most kMaxResponseBytes of its body.
        const size_t headLimit = 16 * 1024;
        char buffer[4096];
        for (;;) {
            size_t bodyStart = response.find("\r\n\r\n");
            size_t limit = bodyStart == std::string::npos ? headLimit : bodyStart + 4 + kMaxResponseBytes;
            if (response.size() >= limit)
                break;
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) != 1)
                break;
            ssize_t n = recv(fd, buffer, std::min(sizeof buffer, limit - response.size()), 0);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0)
                break;
            response.append(buffer, static_cast<size_t>(n));
        }
    }
    close(fd);

    // Only a successful answer's body counts.
    size_t bodyStart = response.find("\r\n\r\n");
    if (bodyStart == std::string::npos || response.compare(0, 5, "HTTP/") != 0)
        return wxString();
    size_t space = response.find(' ');
    if (space == std::string::npos || space + 1 >= response.size() || response[space + 1] != '2')
        return wxString();
    std::string body = response.substr(bodyStart + 4);
    if (body.size() > kMaxResponseBytes)
        body.resize(kMaxResponseBytes);
    return ExtractMessage(body);
}

wxThread::ExitCode VersionCheckThread::Entry()
{
    wxString message = FetchMessage(mApplication, mVersion);
    if (!message.empty() && wxTheApp) {
        // Message boxes belong to the GUI thread: hand the text over and end.
        wxTheApp->CallAfter([text = message]() {
            wxMessageBox(text, wxS("Version Check"), wxOK | wxCENTRE);
        });
    }
    return 0;
}
