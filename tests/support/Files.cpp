#include "support/Files.h"

#include <fstream>
#include <iterator>

namespace bcxtest {

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string text;
    // A file of /proc whose process ends while it is read fails the read: what was read comes back.
    try {
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::ios_base::failure&) {
    }
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
