#include "platform/Descriptors.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <wx/file.h>

namespace bcx {

bool SetCloseOnExec(int fd)
{
    if (fd < 0)
        return false;
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags < 0)
        return false;
    return (flags & FD_CLOEXEC) != 0 || ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC) == 0;
}

int OpenCloseOnExec(const char* path, int flags, int mode)
{
    int fd;
    do
        fd = ::open(path, flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

bool CreateFileCloseOnExec(wxFile& file, const wxString& path, int access)
{
    file.Close();
    const int fd = OpenCloseOnExec(path.fn_str(), O_WRONLY | O_CREAT | O_TRUNC, access);
    if (fd < 0)
        return false;
    file.Attach(fd);
    return true;
}

namespace {

// The process's open descriptors, sorted.
std::vector<int> OpenDescriptors()
{
    std::vector<int> fds;
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return fds;
    const int own = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const int fd = std::atoi(entry->d_name);
        if (fd != own)
            fds.push_back(fd);
    }
    ::closedir(dir);
    std::sort(fds.begin(), fds.end());
    return fds;
}

} // namespace

void CloseOnExecDuring(const std::function<void()>& make)
{
    const std::vector<int> before = OpenDescriptors();
    make();
    for (int fd : OpenDescriptors())
        if (!std::binary_search(before.begin(), before.end(), fd))
            SetCloseOnExec(fd);
}

void CloseOnExecAll()
{
    // One system call, with no window between listing and marking; one by one where the kernel lacks it.
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0)
        return;
    for (int fd : OpenDescriptors())
        if (fd > 2)
            SetCloseOnExec(fd);
}

} // namespace bcx
