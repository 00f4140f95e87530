#pragma once
// What the timed programs share: one measured run in a process of its own (so that its memory and its
// client core are its own), the median of the runs, the client's working directory and toolkit for a
// run, the event loop run until a condition holds, a stand-in for the LAN, a game's information and the
// process clocks.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/socket.h>
#include <wx/timer.h>

#include "core/GameRecords.h"

namespace bench {

// Runs run(result) in a forked child; the child's result (a plain record) comes back through a pipe.
// True when the child returned 0 and delivered its result.
template <class T, class Run>
bool RunInFreshProcess(Run run, T& result)
{
    static_assert(std::is_trivially_copyable<T>::value, "the result crosses a pipe");
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        close(fds[0]);
        T r{};
        const int rc = run(r);
        if (rc == 0 && write(fds[1], &r, sizeof r) != static_cast<ssize_t>(sizeof r))
            _exit(2);
        _exit(rc);
    }
    close(fds[1]);
    const bool got = read(fds[0], &result, sizeof result) == static_cast<ssize_t>(sizeof result);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The information of a game offered on the LAN (a 1v1 map), as the relay delivers it; the game owns it.
inline GameInfo* NewGameInfo(const std::string& name)
{
    auto* info = new GameInfo(name, 0);
    info->mProduct = 0x57335850;
    info->mVersion = 26;
    info->mMapPath = "Maps\\(2)EchoIsles.w3x";
    info->mPresent = 1;
    return info;
}

// The process's CPU time (every thread, user and system) and the monotonic clock, in seconds.
inline double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

inline double MonotonicSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The machine's load average over the last minute.
inline double LoadAverage()
{
    double load = 0;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1)
            load = 0;
        std::fclose(f);
    }
    return load;
}

// Runs run() in a fresh temporary working directory that holds the client's configuration file; the
// directory goes away afterwards. run()'s result; 2 when the directory could not be had.
template <class Run>
int RunInClientDirectory(const char* configuration, Run run)
{
    char dirTemplate[] = "/tmp/bcx-bench-XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (!dir || chdir(dir) != 0)
        return 2;
    if (FILE* ini = std::fopen("bcxClient.ini", "w")) {
        std::fputs(configuration, ini);
        std::fclose(ini);
    }
    const int rc = run();
    if (chdir("/") == 0) {
        std::remove((std::string(dir) + "/bcxClient.ini").c_str());
        rmdir(dir);
    }
    return rc;
}

// Runs run() in a client directory (RunInClientDirectory) with the toolkit started for the headless
// layers (sockets on, logging off). run()'s result; 2 when the directory or the toolkit could not be had.
template <class Run>
int RunWithToolkit(const char* configuration, Run run)
{
    return RunInClientDirectory(configuration, [&] {
        wxInitializer init;
        if (!init.IsOk())
            return 2;
        wxSocketBase::Initialize();
        wxLog::EnableLogging(false);
        const int rc = run();
        wxSocketBase::Shutdown();
        return rc;
    });
}

// Runs the toolkit's event loop, as the program does, until done() holds or timeoutMs of real time have
// passed; without done(), for timeoutMs. done() is checked whenever the loop has handled its events
// (idle time), so that the check adds no wake-up of its own. Returns whether done() held.
inline bool RunLoopUntil(wxEventLoopBase& loop, const std::function<bool()>& done, int timeoutMs)
{
    class Deadline : public wxTimer {
    public:
        explicit Deadline(wxEventLoopBase& loop) : mLoop(loop) {}
        void Notify() override { mLoop.ScheduleExit(); }

    private:
        wxEventLoopBase& mLoop;
    };
    if (done && done())
        return true;
    Deadline deadline(loop);
    deadline.StartOnce(timeoutMs);
    const auto check = [&](wxIdleEvent& event) {
        event.Skip();
        if (done())
            loop.ScheduleExit();
    };
    if (done && wxTheApp)
        wxTheApp->Bind(wxEVT_IDLE, check);
    loop.Run();
    if (done && wxTheApp)
        wxTheApp->Unbind(wxEVT_IDLE, check);
    deadline.Stop();
    return done ? done() : true;
}

// A UDP socket on 127.0.0.1 that stands in for the LAN: the hosts' announcements go there (point
// ClientCore's LAN port at Port()); nothing reads it until CountCreateGames.
class LanSink {
public:
    LanSink()
    {
        mFd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (mFd < 0 || bind(mFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            getsockname(mFd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        mPort = ntohs(a.sin_port);
    }
    ~LanSink()
    {
        if (mFd >= 0)
            close(mFd);
    }
    LanSink(const LanSink&) = delete;
    LanSink& operator=(const LanSink&) = delete;

    uint16_t Port() const { return mPort; }
    // Reads what waits, without blocking; the number of create-game datagrams among it.
    uint32_t CountCreateGames() const
    {
        uint32_t n = 0;
        unsigned char buf[2048];
        for (int i = 0; i < 100000; ++i) {
            const ssize_t got = recv(mFd, buf, sizeof buf, MSG_DONTWAIT);
            if (got < 0)
                break;
            n += got >= 2 && buf[0] == 0xF7 && buf[1] == 0x31;
        }
        return n;
    }

private:
    int mFd = -1;
    uint16_t mPort = 0;
};

} // namespace bench
