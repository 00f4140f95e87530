#pragma once
// A small HTTP server on 127.0.0.1 (a free port) for the browser tests: serves fixed pages by path from
// its own thread, one request per connection, and remembers the paths asked for.

#include <atomic>
#include <map>
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
    // Serves html under path ("/a.html"); unknown paths get 404.
    void AddPage(const std::string& path, const std::string& html);
    // "http://127.0.0.1:<port>" + path.
    wxString Url(const std::string& path) const;
    std::vector<std::string> Requests() const;

private:
    void Answer(LoopbackConnection& connection);

    LoopbackListener mListener;
    bool mListening = false;
    std::atomic<bool> mStop{false};
    mutable std::mutex mMutex;
    std::map<std::string, std::string> mPages;
    std::vector<std::string> mRequests;
    std::thread mThread;
};

} // namespace bcxtest
