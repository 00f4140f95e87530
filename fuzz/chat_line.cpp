// Feeds arbitrary lines, as typed into the Warcraft III chat, to a viewer's command interpreter, in the
// lobby or in the game, and the same text to the number readers of the commands, checking what they
// promise: a number read back from its own decimal form is the same number, a day time is a minute of
// the day, a decimal is finite.
//
// Input: byte 0 bit 0 the viewer is in the game; the rest the line.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "lanhost/LanClient.h"

using namespace fuzzsupport;

namespace {

void CheckNumberReaders(const std::string& text)
{
    uint64_t unsignedValue = 0;
    if (chatcmd::ParseUnsigned(text, unsignedValue)) {
        uint64_t again = 0;
        Check(chatcmd::ParseUnsigned(std::to_string(unsignedValue), again) && again == unsignedValue);
    }
    int64_t signedValue = 0;
    if (chatcmd::ParseSigned(text, signedValue)) {
        int64_t again = 0;
        Check(chatcmd::ParseSigned(std::to_string(signedValue), again) && again == signedValue);
    }
    double decimal = 0.0;
    if (chatcmd::ParseDecimal(text, decimal)) {
        Check(std::isfinite(decimal));
        (void)chatcmd::FormatFixed2(decimal);
    }
    int32_t dayMinute = -1;
    if (chatcmd::ParseDayTime(text, dayMinute))
        Check(dayMinute >= 0 && dayMinute < 1440);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size < 1)
        return 0;
    Check(Core() != nullptr);
    static std::unique_ptr<Game> game = MakeGame(0xF00D);

    const std::string line(reinterpret_cast<const char*>(input + 1), size - 1);
    CheckNumberReaders(line);
    const size_t blank = line.find(' ');
    if (blank != std::string::npos)
        CheckNumberReaders(line.substr(blank + 1));

    LanClient viewer;
    viewer.mGame = game.get();
    viewer.mPlayerName = "fuzz viewer";
    if (input[0] & 1) {
        viewer.mLoaded = 1;
        viewer.mLobbyComplete = 1;
        viewer.mReplaySpeed = 1.0;
    }
    viewer.ExecuteChatLine(line);
    viewer.mGame = nullptr;
    RunIdle();
    return 0;
}
