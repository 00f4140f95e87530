#pragma once
// The real program as a child process on the test's display.

#include <string>
#include <vector>

#include <sys/types.h>

namespace bcxtest {

// Output file of the started program (its stdout and stderr), in the working directory.
extern const char* const kProgramOutputFile;

// Starts the built brawlcast with the arguments. Without a bcxClient.ini in the working directory it
// gets one that lets the system choose the datagram and session ports. Its output goes to kProgramOutputFile, appended to what
// an earlier run left there when appendOutput is set, else in a fresh file. Leak detection is off in the
// child. The child's pid (<= 0 when fork failed).
pid_t StartProgram(const std::vector<std::string>& arguments, bool appendOutput);

// Kills the program and reaps it; always -1 (no wait status).
int KillProgram(pid_t pid);

} // namespace bcxtest
