#include "support/PageServer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include <poll.h>
#include <sys/socket.h>

namespace bcxtest {

PageServer::PageServer()
{
    mListening = mListener.Listen(0);
    if (!mListening)
        return;
    mThread = std::thread([this] {
        while (!mStop) {
            std::unique_ptr<LoopbackConnection> connection = mListener.Accept(50);
            if (!connection)
                continue;
            // Ranges of media are answered each on a thread of its own: the engine reads them as playback
            // goes, and asks for the next one meanwhile.
            std::shared_ptr<LoopbackConnection> shared(std::move(connection));
            std::lock_guard<std::mutex> lock(mAnswersMutex);
            mAnswers.emplace_back([this, shared] { Answer(*shared); });
        }
    });
}

PageServer::~PageServer()
{
    mStop = true;
    if (mThread.joinable())
        mThread.join();
    for (std::thread& answer : mAnswers)
        answer.join();
}

void PageServer::AddPage(const std::string& path, const std::string& body, const std::string& contentType,
                         const std::string& headers)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mPages[path] = Page{std::make_shared<const std::string>(body), contentType, headers};
}

void PageServer::AddRedirect(const std::string& path, const std::string& location)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mPages[path] = Page{std::make_shared<const std::string>(), "text/plain", "Location: " + location + "\r\n", "302 Found"};
}

wxString PageServer::HostAndPort() const
{
    return wxString::Format(wxS("127.0.0.1:%u"), static_cast<unsigned>(mListener.Port()));
}

wxString PageServer::Url(const std::string& path) const
{
    return wxS("http://") + HostAndPort() + wxString::FromUTF8(path);
}

std::vector<std::string> PageServer::Requests() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mRequests;
}

std::vector<std::string> PageServer::RequestHeads() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mRequestHeads;
}

void PageServer::Answer(LoopbackConnection& connection)
{
    std::string request;
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
        const std::string chunk = connection.ReadSome(4096, 2000);
        if (chunk.empty())
            return;
        request += chunk;
    }
    // "GET /path HTTP/1.1"
    const size_t start = request.find(' ');
    const size_t end = start == std::string::npos ? start : request.find(' ', start + 1);
    const std::string path = end == std::string::npos ? std::string() : request.substr(start + 1, end - start - 1);
    Page page{std::make_shared<const std::string>("<html><head><title>missing</title></head><body>missing</body></html>"),
              "text/html; charset=utf-8", "", "404 Not Found"};
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mRequests.push_back(path);
        mRequestHeads.push_back(request);
        auto it = mPages.find(path);
        if (it != mPages.end())
            page = it->second;
    }
    const std::string& body = *page.body;
    // Kept by nobody unless the page says otherwise.
    const bool cacheable = page.headers.find("Cache-Control:") != std::string::npos;
    // "Range: bytes=<first>-[<last>]", unless the page is served without ranges.
    size_t first = 0, last = body.empty() ? 0 : body.size() - 1;
    const size_t range = request.find("\r\nRange: bytes=");
    const bool ranged = range != std::string::npos && page.status == "200 OK" && !body.empty() &&
                        page.headers.find("Accept-Ranges: none") == std::string::npos &&
                        std::sscanf(request.c_str() + range, "\r\nRange: bytes=%zu-%zu", &first, &last) >= 1 &&
                        first < body.size();
    last = ranged ? std::min(last, body.size() - 1) : last;
    const size_t length = ranged ? last - first + 1 : body.size();
    const std::string head =
        "HTTP/1.1 " + (ranged ? std::string("206 Partial Content") : page.status) +
        "\r\nContent-Type: " + page.contentType + "\r\n" + page.headers +
        (ranged ? "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                      std::to_string(body.size()) + "\r\n"
                : std::string()) +
        "Content-Length: " + std::to_string(length) + "\r\n" + (cacheable ? "" : "Cache-Control: no-store\r\n") +
        "Connection: close\r\n\r\n";
    if (!connection.WriteAll(head))
        return;
    // As fast as the client reads, for as long as it keeps the connection and the server runs.
    const char* p = body.data() + (ranged ? first : 0);
    for (size_t left = length; left > 0 && !mStop;) {
        pollfd out{connection.Fd(), POLLOUT, 0};
        if (::poll(&out, 1, 50) <= 0)
            continue;
        const ssize_t sent = ::send(connection.Fd(), p, std::min<size_t>(left, 65536), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return;
        if (sent > 0) {
            p += sent;
            left -= static_cast<size_t>(sent);
        }
    }
}

} // namespace bcxtest
