#pragma once
// A real IRC server for the tests: Debian's ngircd, started in the foreground on a free loopback port
// with a configuration of its own in the test's temporary directory, and stopped by its process id.

#include <string>

#include <sys/types.h>

namespace bcxtest {

struct NgircdOptions {
    // With a message of the day the registration ends with 376; without one ngircd answers 422.
    bool motd = true;
    // The shortest ping timeouts ngircd accepts (5 s of silence, then PING; 5 s for the PONG).
    bool shortPing = false;
};

class Ngircd {
public:
    static constexpr const char* kServerName = "irc.test.local";
    static constexpr const char* kMotd = "Welcome to the Brawlcast test server";
    static constexpr int kShortPingSeconds = 5;

    explicit Ngircd(const NgircdOptions& options = NgircdOptions());
    // SIGTERM, then waits (bounded) for the process; SIGKILL when it does not end.
    ~Ngircd();
    Ngircd(const Ngircd&) = delete;
    Ngircd& operator=(const Ngircd&) = delete;

    // True when the ngircd program is installed.
    static bool Installed();

    // Writes the configuration, starts the server and waits (bounded) until the port accepts connections.
    // False (with the reason in Error()) when it did not come up.
    bool Start(int timeoutMs = 10000);
    void Stop();

    bool IsRunning() const { return mPid > 0; }
    uint16_t Port() const { return mPort; }
    pid_t Pid() const { return mPid; }
    const std::string& Error() const { return mError; }
    // The server's own output (its log), for diagnostics.
    std::string Log() const;

private:
    bool StartOnPort(uint16_t port, int timeoutMs);
    bool WriteConfig(uint16_t port);

    NgircdOptions mOptions;
    std::string mDir;
    std::string mConfigPath;
    std::string mLogPath;
    uint16_t mPort = 0;
    pid_t mPid = -1;
    std::string mError;
};

} // namespace bcxtest
