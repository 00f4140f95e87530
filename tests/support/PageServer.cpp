#include "support/PageServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bcxtest {
namespace {

// Bounds of one exchange.
const size_t kMaxRequestBytes = 16384;
const int kReadTimeoutMs = 2000;

} // namespace

PageServer::PageServer()
{
    mListener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (mListener < 0 || bind(mListener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(mListener, 16) != 0 || getsockname(mListener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (mListener >= 0)
            close(mListener);
        mListener = -1;
        return;
    }
    mPort = ntohs(address.sin_port);
    mThread = std::thread([this] { Serve(); });
}

PageServer::~PageServer()
{
    mStop = true;
    if (mThread.joinable())
        mThread.join();
    if (mListener >= 0)
        close(mListener);
}

void PageServer::AddPage(const std::string& path, const std::string& html)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mPages[path] = html;
}

wxString PageServer::Url(const std::string& path) const
{
    return wxString::Format(wxS("http://127.0.0.1:%u"), static_cast<unsigned>(mPort)) + wxString::FromUTF8(path);
}

std::vector<std::string> PageServer::Requests() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mRequests;
}

void PageServer::Serve()
{
    while (!mStop) {
        pollfd p{mListener, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        const int fd = accept(mListener, nullptr, nullptr);
        if (fd < 0)
            continue;
        Answer(fd);
        close(fd);
    }
}

void PageServer::Answer(int fd)
{
    std::string request;
    char buffer[2048];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMaxRequestBytes) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, kReadTimeoutMs) <= 0)
            return;
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return;
        request.append(buffer, static_cast<size_t>(n));
    }
    // "GET /path HTTP/1.1"
    const size_t start = request.find(' ');
    const size_t end = start == std::string::npos ? start : request.find(' ', start + 1);
    const std::string path = end == std::string::npos ? std::string() : request.substr(start + 1, end - start - 1);
    std::string status = "404 Not Found";
    std::string body = "<html><head><title>missing</title></head><body>missing</body></html>";
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mRequests.push_back(path);
        auto it = mPages.find(path);
        if (it != mPages.end()) {
            status = "200 OK";
            body = it->second;
        }
    }
    const std::string answer = "HTTP/1.1 " + status + "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                               std::to_string(body.size()) + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" +
                               body;
    size_t sent = 0;
    while (sent < answer.size()) {
        const ssize_t n = send(fd, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<size_t>(n);
    }
}

} // namespace bcxtest
