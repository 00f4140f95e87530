#include "support/gui/ProgramRun.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "support/TestEnv.h"

namespace bcxtest {

const char* const kProgramOutputFile = "program-output.txt";

pid_t StartProgram(const std::vector<std::string>& arguments, bool appendOutput)
{
    const std::string program = BinaryDir() + "/brawlcast";
    // Never the default ports: a client running on this machine holds them.
    if (access("bcxClient.ini", F_OK) != 0)
        std::ofstream("bcxClient.ini") << "[Net]\nDatagramPort=0\nSessionPort=0\n";
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(kProgramOutputFile, O_WRONLY | O_CREAT | (appendOutput ? O_APPEND : O_TRUNC), 0644);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        // The toolkit's libraries keep allocations until exit; leak detection is for the test programs.
        const char* inherited = getenv("ASAN_OPTIONS");
        std::string asan = std::string(inherited ? inherited : "") + (inherited && *inherited ? ":" : "") +
                           "detect_leaks=0";
        setenv("ASAN_OPTIONS", asan.c_str(), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

int KillProgram(pid_t pid)
{
    int status = 0;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

} // namespace bcxtest
