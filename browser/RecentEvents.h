#pragma once
// A bound on how often something a page causes may happen: at most Max events in any window of a given
// length on the program clock (a sliding window, not fixed ones). It keeps the times of the last Max
// events admitted, in a ring.

#include <cstddef>
#include <cstdint>

namespace bcx {

template <size_t Max>
class RecentEvents {
public:
    explicit RecentEvents(uint32_t windowMs) : mWindowMs(windowMs) {}

    // True when one more event fits at now (and it is counted); false when Max were admitted within the
    // window before now (and it is not).
    bool Admit(uint32_t now)
    {
        if (mCount < Max) {
            mTimes[(mOldest + mCount++) % Max] = now;
            return true;
        }
        // Stamps compare in unsigned 32-bit arithmetic: a stamp "after" now (a clock set back) counts as
        // old.
        if (now - mTimes[mOldest] < mWindowMs)
            return false;
        mTimes[mOldest] = now;
        mOldest = (mOldest + 1) % Max;
        return true;
    }

    void Clear() { mCount = mOldest = 0; }

private:
    const uint32_t mWindowMs;
    uint32_t mTimes[Max] = {};
    size_t mOldest = 0;
    size_t mCount = 0;
};

} // namespace bcx
