#pragma once
// Files the code under test wrote, read back whole.

#include <filesystem>
#include <string>

namespace bcxtest {

// The bytes of the file; empty when it cannot be opened.
std::string ReadFile(const std::filesystem::path& path);

} // namespace bcxtest
