#include "support/Processes.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

#include "support/Files.h"

namespace bcxtest {

namespace {

std::string Proc(pid_t pid, const char* what)
{
    return "/proc/" + std::to_string(pid) + "/" + what;
}

} // namespace

long RssKiB(pid_t pid)
{
    const std::string status = ReadFile(Proc(pid, "status"));
    const size_t at = status.find("\nVmRSS:");
    return at == std::string::npos ? 0 : std::atol(status.c_str() + at + 7);
}

std::vector<pid_t> ProcessTree()
{
    std::multimap<pid_t, pid_t> children;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const pid_t pid = std::atoi(entry.path().filename().c_str());
        if (pid <= 0)
            continue;
        // The name in parentheses may hold anything; the parent follows the state after it.
        const std::string stat = ReadFile(entry.path() / "stat");
        const size_t close = stat.rfind(')');
        char state = 0;
        pid_t parent = 0;
        if (close != std::string::npos && std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) == 2)
            children.emplace(parent, pid);
    }
    std::vector<pid_t> tree, todo{::getpid()};
    while (!todo.empty()) {
        const pid_t pid = todo.back();
        todo.pop_back();
        if (ReadFile(Proc(pid, "comm")).rfind("Xvfb", 0) == 0)
            continue;
        tree.push_back(pid);
        const auto range = children.equal_range(pid);
        for (auto it = range.first; it != range.second; ++it)
            todo.push_back(it->second);
    }
    return tree;
}

std::vector<pid_t> EngineProcesses(const std::string& prefix)
{
    std::vector<pid_t> pids;
    const std::string self = std::to_string(::getpid());
    std::istringstream children(ReadFile("/proc/" + self + "/task/" + self + "/children"));
    for (pid_t pid; children >> pid;)
        if (ReadFile(Proc(pid, "comm")).rfind(prefix, 0) == 0)
            pids.push_back(pid);
    return pids;
}

uint64_t EngineFilesOnDisk()
{
    const std::string deletedMark = " (deleted)";
    uint64_t total = 0;
    for (const pid_t pid : EngineProcesses()) {
        std::error_code ec;
        for (const auto& fd : std::filesystem::directory_iterator(Proc(pid, "fd"), ec)) {
            std::error_code unreadable;
            const std::string path = std::filesystem::read_symlink(fd.path(), unreadable);
            const bool deleted = path.size() > deletedMark.size() &&
                                 path.compare(path.size() - deletedMark.size(), deletedMark.size(), deletedMark) == 0;
            const bool memory = path.rfind("/memfd:", 0) == 0 || path.rfind("/dev/shm/", 0) == 0;
            struct stat st {};
            if (!unreadable && (path.rfind("/var/tmp/", 0) == 0 || (deleted && !memory)) &&
                ::stat(fd.path().c_str(), &st) == 0 && S_ISREG(st.st_mode))
                total += static_cast<uint64_t>(st.st_blocks) * 512;
        }
    }
    return total;
}

} // namespace bcxtest
