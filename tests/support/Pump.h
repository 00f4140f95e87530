#pragma once
// Driving the event loop from a test: dispatch socket and timer events, run queued events and the
// hooks of the test peers, until a condition holds or a real-time deadline passes.

#include <functional>

namespace bcxtest {

// Runs the loop until pred() is true; false when timeoutMs of real time passed first.
bool PumpUntil(const std::function<bool()>& pred, int timeoutMs = 5000);

// Runs the loop for about ms of real time.
void PumpFor(int ms);

// One pass: dispatch what is ready now, pending events, idle handlers and hooks.
void PumpOnce(int waitMs = 0);

// A hook called on every pass of the pump while it lives (the test peers' Poll).
class ScopedPumpHook {
public:
    explicit ScopedPumpHook(std::function<void()> hook);
    ~ScopedPumpHook();
    ScopedPumpHook(const ScopedPumpHook&) = delete;
    ScopedPumpHook& operator=(const ScopedPumpHook&) = delete;

private:
    int mId;
};

} // namespace bcxtest
