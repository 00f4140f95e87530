#pragma once
// A private X server for one test process: Xvfb started with -displayfd, so that it picks a free
// display number and tells it back.

#include <string>
#include <sys/types.h>

namespace bcxtest {

class XvfbServer {
public:
    XvfbServer() = default;
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // Starts the server with one screen of that geometry ("WIDTHxHEIGHTxDEPTH") and waits (bounded) until
    // it reports its display; ":<n>" then.
    bool Start(const std::string& screen = "1280x1024x24");
    // Terminates the server and reaps it.
    void Stop();

    const std::string& Display() const { return mDisplay; }

    // Starts the server and makes it the display of this process and its children (X11 backend, no
    // accessibility bus, no Wayland). False, with a line on stderr, when it cannot be started.
    bool StartAndUse();

private:
    pid_t mPid = -1;
    std::string mDisplay;
};

} // namespace bcxtest
