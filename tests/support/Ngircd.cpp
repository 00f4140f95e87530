#include "support/Ngircd.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/Loopback.h"

namespace bcxtest {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kProgram = "/usr/sbin/ngircd";

std::string CurrentDir()
{
    std::vector<char> buffer(4096);
    if (!::getcwd(buffer.data(), buffer.size()))
        return ".";
    return buffer.data();
}

// One non-blocking connect attempt to 127.0.0.1:port, waiting at most timeoutMs.
bool PortAccepts(uint16_t port, int timeoutMs)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in a = LoopbackAddress(port);
    bool ok = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        ok = true;
    } else if (errno == EINPROGRESS) {
        pollfd pfd{fd, POLLOUT, 0};
        if (::poll(&pfd, 1, timeoutMs) > 0) {
            int error = 0;
            socklen_t len = sizeof error;
            ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
        }
    }
    ::close(fd);
    return ok;
}

} // namespace

Ngircd::Ngircd(const NgircdOptions& options) : mOptions(options) {}

Ngircd::~Ngircd()
{
    Stop();
}

bool Ngircd::Installed()
{
    return ::access(kProgram, X_OK) == 0;
}

bool Ngircd::WriteConfig(uint16_t port)
{
    mDir = CurrentDir() + "/ngircd-" + std::to_string(port);
    ::mkdir(mDir.c_str(), 0755);
    const std::string includeDir = mDir + "/conf.d";
    ::mkdir(includeDir.c_str(), 0755);
    mConfigPath = mDir + "/ngircd.conf";
    mLogPath = mDir + "/ngircd.log";

    std::ofstream out(mConfigPath, std::ios::binary | std::ios::trunc);
    out << "[Global]\n"
        << "Name = " << kServerName << "\n"
        << "Info = Brawlcast test server\n"
        << "AdminInfo1 = Brawlcast tests\n"
        << "AdminInfo2 = loopback only\n"
        << "AdminEMail = nobody@localhost\n"
        << "Listen = 127.0.0.1\n"
        << "Ports = " << port << "\n"
        << "HelpFile = " << mDir << "/no-help.txt\n";
    if (mOptions.motd)
        out << "MotdPhrase = " << kMotd << "\n";
    else
        out << "MotdFile = " << mDir << "/no-motd.txt\n";
    out << "[Limits]\n"
        << "MaxNickLength = 30\n"
        << "MaxConnectionsIP = 0\n";
    if (mOptions.shortPing)
        out << "PingTimeout = " << kShortPingSeconds << "\n"
            << "PongTimeout = " << kShortPingSeconds << "\n";
    out << "[Options]\n"
        << "DNS = no\n"
        << "Ident = no\n"
        << "PAM = no\n"
        << "IncludeDir = " << includeDir << "\n";
    out.close();
    if (!out) {
        mError = "cannot write " + mConfigPath;
        return false;
    }
    return true;
}

bool Ngircd::StartOnPort(uint16_t port, int timeoutMs)
{
    if (!WriteConfig(port))
        return false;

    // Everything the child needs is prepared before the fork.
    std::string program = kProgram;
    std::string nodaemon = "-n";
    std::string configSwitch = "-f";
    std::vector<char*> argv = {program.data(), nodaemon.data(), configSwitch.data(), mConfigPath.data(), nullptr};
    const int logFd = ::open(mLogPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t parent = ::getpid();

    const pid_t pid = ::fork();
    if (pid < 0) {
        mError = std::string("fork failed: ") + std::strerror(errno);
        if (logFd >= 0)
            ::close(logFd);
        if (nullFd >= 0)
            ::close(nullFd);
        return false;
    }
    if (pid == 0) {
        // The server must not outlive a test process that dies.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(126);
        ::setpgid(0, 0);
        if (nullFd >= 0)
            ::dup2(nullFd, 0);
        if (logFd >= 0) {
            ::dup2(logFd, 1);
            ::dup2(logFd, 2);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (logFd >= 0)
        ::close(logFd);
    if (nullFd >= 0)
        ::close(nullFd);
    mPid = pid;
    mPort = port;

    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        int status = 0;
        if (::waitpid(mPid, &status, WNOHANG) == mPid) {
            mPid = -1;
            mError = "ngircd exited during start-up";
            return false;
        }
        if (PortAccepts(port, 200))
            return true;
        ::poll(nullptr, 0, 20);
    }
    mError = "ngircd did not accept connections in time";
    Stop();
    return false;
}

bool Ngircd::Start(int timeoutMs)
{
    if (IsRunning())
        return true;
    if (!Installed()) {
        mError = std::string(kProgram) + " is not installed";
        return false;
    }
    // A port that was free a moment ago can be taken before the server binds it: try a few.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const uint16_t port = FreeTcpPort();
        if (port == 0) {
            mError = "no free port";
            continue;
        }
        if (StartOnPort(port, timeoutMs))
            return true;
    }
    return false;
}

void Ngircd::Stop()
{
    if (mPid <= 0)
        return;
    ::kill(mPid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::milliseconds(5000);
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(mPid, &status, WNOHANG);
        if (r == mPid || (r < 0 && errno != EINTR))
            break;
        if (Clock::now() >= deadline) {
            ::kill(mPid, SIGKILL);
            while (::waitpid(mPid, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        ::poll(nullptr, 0, 10);
    }
    mPid = -1;
}

std::string Ngircd::Log() const
{
    std::ifstream in(mLogPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace bcxtest
