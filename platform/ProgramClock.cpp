#include "platform/ProgramClock.h"

#include <atomic>
#include <chrono>
#include <ctime>

namespace bcx {
namespace {

using Steady = std::chrono::steady_clock;

std::atomic<bool> gStarted{false};
Steady::time_point gStart;
std::atomic<bool> gProgramManual{false};
std::atomic<uint32_t> gProgramValue{0};

std::atomic<bool> gWallManual{false};
std::atomic<uint32_t> gWallValue{0};

} // namespace

void ProgramClock::Start()
{
    if (!gStarted.exchange(true))
        gStart = Steady::now();
}

uint32_t ProgramClock::Now()
{
    if (gProgramManual)
        return gProgramValue;
    if (!gStarted)
        Start();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - gStart).count();
    return static_cast<uint32_t>(ms);
}

void ProgramClock::SetManual(bool manual) { gProgramManual = manual; }
bool ProgramClock::IsManual() { return gProgramManual; }
void ProgramClock::Set(uint32_t ms) { gProgramValue = ms; }
void ProgramClock::Advance(uint32_t ms) { gProgramValue += ms; }

uint32_t WallClock::Now()
{
    if (gWallManual)
        return gWallValue;
    return static_cast<uint32_t>(std::time(nullptr));
}

void WallClock::SetManual(bool manual) { gWallManual = manual; }
bool WallClock::IsManual() { return gWallManual; }
void WallClock::Set(uint32_t seconds) { gWallValue = seconds; }
void WallClock::Advance(uint32_t seconds) { gWallValue += seconds; }

} // namespace bcx
