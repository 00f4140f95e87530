#include "support/Files.h"

#include <fstream>
#include <iterator>

namespace bcxtest {

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace bcxtest
