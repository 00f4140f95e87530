#pragma once
// Process set-up shared by the test mains: every test runs in its own process, in a fresh temporary
// working directory (the configuration file and log/ are relative to it), and a failed toolkit assertion
// fails the test instead of opening a dialog.

#include <string>

namespace bcxtest {

// True when gtest was asked only to list the tests.
bool IsListingOnly(int argc, char** argv);

// Creates a temporary directory and makes it the working directory; removes it at process exit unless
// BCX_KEEP_TEST_DIR is set. HOME ("home") and the XDG directories ("xdg/...") of the process lie inside
// it, with "downloads" as the download directory, so that nothing a test runs writes into a real home.
std::string EnterTempDir();

// Toolkit assertions become test failures.
void InstallAssertHandler();

// Directory of the sources (for fixtures) and of the build (for artifacts such as screenshots).
std::string SourceDir();
std::string BinaryDir();

} // namespace bcxtest
