#pragma once
// Files the code under test wrote, read back whole, and what they take.

#include <cstdint>
#include <filesystem>
#include <string>

namespace bcxtest {

// The bytes of the file; empty when it cannot be opened.
std::string ReadFile(const std::filesystem::path& path);

// The bytes of all files below dir (0 when there is no such directory).
uint64_t BytesBelow(const std::filesystem::path& dir);

} // namespace bcxtest
