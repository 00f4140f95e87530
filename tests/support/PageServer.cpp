#include "support/PageServer.h"

namespace bcxtest {

PageServer::PageServer()
{
    mListening = mListener.Listen(0);
    if (!mListening)
        return;
    mThread = std::thread([this] {
        while (!mStop) {
            std::unique_ptr<LoopbackConnection> connection = mListener.Accept(50);
            if (connection)
                Answer(*connection);
        }
    });
}

PageServer::~PageServer()
{
    mStop = true;
    if (mThread.joinable())
        mThread.join();
}

void PageServer::AddPage(const std::string& path, const std::string& body, const std::string& contentType,
                         const std::string& headers)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mPages[path] = Page{body, contentType, headers};
}

void PageServer::AddRedirect(const std::string& path, const std::string& location)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mPages[path] = Page{"", "text/plain", "Location: " + location + "\r\n", "302 Found"};
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
    Page page{"<html><head><title>missing</title></head><body>missing</body></html>", "text/html; charset=utf-8", "",
              "404 Not Found"};
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mRequests.push_back(path);
        mRequestHeads.push_back(request);
        auto it = mPages.find(path);
        if (it != mPages.end())
            page = it->second;
    }
    const std::string& body = page.body;
    // Kept by nobody unless the page says otherwise.
    const bool cacheable = page.headers.find("Cache-Control:") != std::string::npos;
    connection.WriteAll("HTTP/1.1 " + page.status + "\r\nContent-Type: " + page.contentType + "\r\n" + page.headers +
                        "Content-Length: " + std::to_string(body.size()) + "\r\n" +
                        (cacheable ? "" : "Cache-Control: no-store\r\n") + "Connection: close\r\n\r\n" + body);
}

} // namespace bcxtest
