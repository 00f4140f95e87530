#include "support/Pump.h"

#include <chrono>
#include <map>

#include <wx/app.h>
#include <wx/evtloop.h>

namespace bcxtest {
namespace {

std::map<int, std::function<void()>>& Hooks()
{
    static std::map<int, std::function<void()>> hooks;
    return hooks;
}
int gNextHook = 1;

} // namespace

ScopedPumpHook::ScopedPumpHook(std::function<void()> hook) : mId(gNextHook++)
{
    Hooks()[mId] = std::move(hook);
}

ScopedPumpHook::~ScopedPumpHook()
{
    Hooks().erase(mId);
}

void PumpOnce(int waitMs)
{
    // Copy: a hook may add or remove hooks.
    auto hooks = Hooks();
    for (auto& entry : hooks)
        entry.second();
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    if (loop) {
        loop->DispatchTimeout(waitMs);
        // Bounded: a socket whose peer reset the connection can stay ready for ever, and the queued
        // events below must still get their turn.
        for (int i = 0; i < 100 && loop->Pending(); ++i)
            loop->Dispatch();
    }
    if (wxTheApp) {
        wxTheApp->ProcessPendingEvents();
        if (loop)
            loop->ProcessIdle();
    }
    for (auto& entry : Hooks())
        entry.second();
}

bool PumpUntil(const std::function<bool()>& pred, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return pred();
        PumpOnce(2);
    }
    return true;
}

void PumpFor(int ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline)
        PumpOnce(2);
}

} // namespace bcxtest
