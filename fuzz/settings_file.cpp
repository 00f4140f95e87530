// Feeds arbitrary bytes to the settings file reader as the user's bcxClient.ini: encoding detection
// (GBK, UTF-8, neither), the toolkit's ini parser, every key read into the settings, and the write back.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

#include <wx/fileconf.h>
#include <wx/init.h>
#include <wx/log.h>

#include "core/ClientSettings.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static wxInitializer toolkit;
    // The file lives in a directory of its own.
    static char directory[] = "/tmp/bcx-fuzz-settings-XXXXXX";
    if (!mkdtemp(directory) || chdir(directory) != 0)
        std::abort();
    std::atexit([] { rmdir(directory); });
    wxLog::EnableLogging(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (FILE* file = std::fopen(kConfigFileName, "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    DetectSettingsEncoding(std::string(reinterpret_cast<const char*>(data), size));
    {
        std::unique_ptr<wxFileConfig> config(OpenSettingsFile());
        ClientSettings settings;
        ReadSettings(config.get(), settings, "fuzz");
        config->Flush();
    }
    std::remove(kConfigFileName);
    std::remove(kUnreadableConfigFileName);
    return 0;
}
