#pragma once
// A small HTTP server on 127.0.0.1 (a free port) for the tests: serves fixed pages and redirects by path
// (query included), one request per connection, each answered on a thread of its own (byte ranges too,
// unless the page is served with "Accept-Ranges: none"), and remembers the requests it was sent.

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <wx/string.h>

#include "support/Loopback.h"

namespace bcxtest {

class PageServer {
public:
    PageServer();
    ~PageServer();

    bool IsListening() const { return mListening; }
    // Serves body under path ("/a.html"), replacing what was there; unknown paths get 404. headers: more
    // header lines, each ending in "\r\n" ("Content-Disposition: attachment\r\n"); without a Cache-Control
    // line of its own the answer is "no-store".
    void AddPage(const std::string& path, const std::string& body,
                 const std::string& contentType = "text/html; charset=utf-8", const std::string& headers = "");
    // Answers path with "302 Found" to location.
    void AddRedirect(const std::string& path, const std::string& location);
    // "127.0.0.1:<port>".
    wxString HostAndPort() const;
    // "http://127.0.0.1:<port>" + path.
    wxString Url(const std::string& path) const;
    // The paths asked for, and the request heads as received; a request is entered before it is answered.
    std::vector<std::string> Requests() const;
    std::vector<std::string> RequestHeads() const;

private:
    void Answer(LoopbackConnection& connection);

    LoopbackListener mListener;
    bool mListening = false;
    std::atomic<bool> mStop{false};
    mutable std::mutex mMutex;
    struct Page {
        // Shared with the answers under way: a large file is not copied for each range asked.
        std::shared_ptr<const std::string> body;
        std::string contentType;
        std::string headers;
        std::string status = "200 OK";
    };
    std::map<std::string, Page> mPages;
    std::vector<std::string> mRequests;
    std::vector<std::string> mRequestHeads;
    std::thread mThread;
    std::mutex mAnswersMutex;
    std::vector<std::thread> mAnswers;
};

} // namespace bcxtest
