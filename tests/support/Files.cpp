#include "support/Files.h"

#include <fcntl.h>
#include <unistd.h>

namespace bcxtest {

std::string ReadFile(const std::filesystem::path& path)
{
    // Plain reads: the standard streams throw on a read error, as a /proc file of a process that has just
    // ended gives.
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[65536];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(got));
    ::close(fd);
    return text;
}

uint64_t BytesBelow(const std::filesystem::path& dir)
{
    uint64_t total = 0;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec); !ec && it != decltype(it)(); it.increment(ec))
        if (it->is_regular_file(ec))
            total += it->file_size(ec);
    return total;
}

} // namespace bcxtest
