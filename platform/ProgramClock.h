#pragma once
// The program's clocks. Everything that measures elapsed time (LAN pacing, delays, timers that compare
// stamps) reads ProgramClock; everything that stamps calendar time reads WallClock. Both can be switched
// to manual mode so that tests drive time deterministically.

#include <cstdint>

namespace bcx {

class ProgramClock {
public:
    // Starts the stopwatch; called once by the application start-up. Never resets a running clock.
    static void Start();
    // Milliseconds since Start (wraps after 49 days; compare stamps in unsigned 32-bit arithmetic).
    static uint32_t Now();

    // Manual mode: Now() returns the value set by the test.
    static void SetManual(bool manual);
    static bool IsManual();
    static void Set(uint32_t ms);
    static void Advance(uint32_t ms);
};

class WallClock {
public:
    // Seconds since 1970.
    static uint32_t Now();

    static void SetManual(bool manual);
    static bool IsManual();
    static void Set(uint32_t seconds);
    static void Advance(uint32_t seconds);
};

} // namespace bcx
