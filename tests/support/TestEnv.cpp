#include "support/TestEnv.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include <gtest/gtest.h>
#include <wx/debug.h>
#include <wx/string.h>

namespace bcxtest {
namespace {

std::string gTempDir;

void RemoveTempDir()
{
    if (!gTempDir.empty() && !std::getenv("BCX_KEEP_TEST_DIR")) {
        std::error_code ec;
        std::filesystem::remove_all(gTempDir, ec);
    }
}

void OnAssert(const wxString& file, int line, const wxString& func, const wxString& cond, const wxString& msg)
{
    ADD_FAILURE() << "toolkit assertion failed: " << cond.utf8_str().data() << " " << msg.utf8_str().data()
                  << " in " << func.utf8_str().data() << " at " << file.utf8_str().data() << ":" << line;
}

} // namespace

bool IsListingOnly(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0)
            return true;
    return false;
}

std::string EnterTempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "bcxtest-XXXXXX").string();
    std::string buffer = pattern;
    if (!mkdtemp(buffer.data()))
        return std::string();
    gTempDir = buffer;
    if (chdir(gTempDir.c_str()) != 0)
        return std::string();
    std::atexit(RemoveTempDir);
    // Set before the toolkit starts: GLib reads them once.
    std::error_code ec;
    for (const char* dir : {"home", "xdg/config", "xdg/data", "xdg/cache", "downloads"})
        std::filesystem::create_directories(gTempDir + "/" + dir, ec);
    setenv("HOME", (gTempDir + "/home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (gTempDir + "/xdg/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (gTempDir + "/xdg/data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (gTempDir + "/xdg/cache").c_str(), 1);
    std::ofstream(gTempDir + "/xdg/config/user-dirs.dirs") << "XDG_DOWNLOAD_DIR=\"" << gTempDir << "/downloads\"\n";
    return gTempDir;
}

void InstallAssertHandler()
{
    wxSetAssertHandler(OnAssert);
}

std::string SourceDir()
{
    const char* dir = std::getenv("BCX_SOURCE_DIR");
    return dir ? dir : BCX_SOURCE_DIR_DEFAULT;
}

std::string BinaryDir()
{
    const char* dir = std::getenv("BCX_BINARY_DIR");
    return dir ? dir : BCX_BINARY_DIR_DEFAULT;
}

} // namespace bcxtest
