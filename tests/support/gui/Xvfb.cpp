#include "support/gui/Xvfb.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bcxtest {

XvfbServer::~XvfbServer()
{
    Stop();
}

bool XvfbServer::Start(const std::string& screen)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        close(fds[0]);
        int devnull = open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            dup2(devnull, 0);
            dup2(devnull, 1);
            dup2(devnull, 2);
        }
        std::string fd = std::to_string(fds[1]);
        // No reset when the last client goes: a display that only a child program uses would otherwise
        // refuse the child's connection while a helper's short connection (a window listing) ends.
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
               "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    mPid = pid;

    // The server writes the display number and a line feed once it accepts connections.
    std::string number;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool done = false;
    while (!done && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        int r = poll(&p, 1, 200);
        if (r < 0 && errno != EINTR)
            break;
        if (r <= 0)
            continue;
        char c;
        ssize_t n = read(fds[0], &c, 1);
        if (n <= 0)
            break;
        if (c == '\n')
            done = true;
        else
            number += c;
    }
    close(fds[0]);
    if (!done || number.empty()) {
        Stop();
        return false;
    }
    mDisplay = ":" + number;
    return true;
}

void XvfbServer::Stop()
{
    if (mPid <= 0)
        return;
    kill(mPid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
        pid_t r = waitpid(mPid, &status, WNOHANG);
        if (r == mPid || r < 0) {
            mPid = -1;
            return;
        }
        usleep(20000);
    }
    kill(mPid, SIGKILL);
    waitpid(mPid, &status, 0);
    mPid = -1;
}

bool XvfbServer::StartAndUse()
{
    if (!Start()) {
        std::fprintf(stderr, "cannot start Xvfb\n");
        return false;
    }
    setenv("DISPLAY", mDisplay.c_str(), 1);
    setenv("GDK_BACKEND", "x11", 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    unsetenv("WAYLAND_DISPLAY");
    return true;
}

} // namespace bcxtest
