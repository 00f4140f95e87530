// brawlcast-testrelay [--port N] scenario.txt
//
// Runs the test relay server on 127.0.0.1 with the games of a scenario file (format: see
// RelayScenario.h and README.md) until interrupted, printing what it does. Port 0 (the default) picks a
// free port, which is printed.

#include "peers/RelayScenario.h"
#include "peers/TestRelayServer.h"
#include "platform/ProgramClock.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

volatile std::sig_atomic_t gStop = 0;

void OnSignal(int) { gStop = 1; }

int Usage()
{
    std::fprintf(stderr, "usage: brawlcast-testrelay [--port N] scenario.txt\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    long port = 0;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) {
            char* end = nullptr;
            port = std::strtol(argv[++i], &end, 10);
            if (!end || *end || port < 0 || port > 65535)
                return Usage();
        } else if (path.empty() && !arg.empty() && arg[0] != '-') {
            path = arg;
        } else {
            return Usage();
        }
    }
    if (path.empty())
        return Usage();

    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    std::ostringstream text;
    text << file.rdbuf();
    bcxtest::RelayScenario scenario;
    std::string error;
    if (!bcxtest::ParseRelayScenario(text.str(), scenario, error)) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return 1;
    }

    bcxtest::TestRelayServer server;
    server.SetLogger([](const std::string& line) {
        std::printf("[%8u] %s\n", bcx::ProgramClock::Now(), line.c_str());
        std::fflush(stdout);
    });
    bcxtest::ApplyRelayScenario(scenario, server);
    if (!server.Start(static_cast<uint16_t>(port))) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%ld\n", port);
        return 1;
    }
    std::printf("%zu games loaded; %zu timed actions\n", scenario.games.size(), scenario.actions.size());
    std::fflush(stdout);

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    bcx::ProgramClock::Start();
    size_t next = 0;
    while (!gStop) {
        bcxtest::RunDueRelayActions(scenario, next, bcx::ProgramClock::Now(), server);
        server.Poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::printf("stopped\n");
    return 0;
}
