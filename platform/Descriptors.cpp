#include "platform/Descriptors.h"

#include <cerrno>

#include <fcntl.h>

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

} // namespace bcx
