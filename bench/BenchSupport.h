#pragma once
// What the timed programs share: one measured run in a process of its own (so that its memory and its
// client core are its own), and the median of the runs.

#include <algorithm>
#include <cstdio>
#include <type_traits>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

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

} // namespace bench
