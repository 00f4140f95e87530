// The cost of a look at the web engine's share of the program's memory on a fragmented heap: the C
// library's allocator holds hundreds of thousands of free blocks, as after a long run.
//
// Prints the look's cost (median and worst of many looks, each on the program's thread), that of a
// look that counts the allocator whole (mallinfo2) for reference, and the share itself.
//
// Options: --blocks=N (live and freed small blocks, default 400000), --looks=N (default 2000).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <malloc.h>

#include "browser/webbrowser/EngineMemory.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
    double median = 0, worst = 0;
};

template <typename F>
Figures Time(int times, F&& look)
{
    std::vector<double> ms;
    for (int i = 0; i < times; ++i) {
        const auto start = Clock::now();
        look();
        ms.push_back(Ms(Clock::now() - start));
    }
    std::sort(ms.begin(), ms.end());
    return Figures{ms[ms.size() / 2], ms.back()};
}

} // namespace

int main(int argc, char** argv)
{
    size_t blocks = 400000;
    int looks = 2000;
    for (int i = 1; i < argc; ++i) {
        if (!std::strncmp(argv[i], "--blocks=", 9))
            blocks = std::strtoul(argv[i] + 9, nullptr, 10);
        else if (!std::strncmp(argv[i], "--looks=", 8))
            looks = std::atoi(argv[i] + 8);
    }
    bcx::StartCountingEngineMemory();
    // Every other block freed: none of the free ones can join a neighbour.
    std::mt19937 random(1);
    std::vector<void*> held(blocks);
    for (void*& block : held) {
        block = std::malloc(16 + random() % 2000);
        std::memset(block, 1, 16);
    }
    for (size_t i = 0; i < blocks; i += 2) {
        std::free(held[i]);
        held[i] = nullptr;
    }
    const struct mallinfo2 heap = mallinfo2();
    std::printf("heap: %zu MiB from the system, %zu free blocks\n", heap.arena >> 20, heap.ordblks + heap.smblks);

    volatile int64_t share = 0;
    const Figures look = Time(looks, [&] { share = bcx::EngineShareBytes(); });
    std::printf("look (EngineShareBytes): median %.4f ms, worst %.4f ms over %d looks\n", look.median, look.worst, looks);
    const Figures whole = Time(20, [&] {
        const struct mallinfo2 counted = mallinfo2();
        share = static_cast<int64_t>(counted.arena);
    });
    std::printf("whole count of the allocator (mallinfo2): median %.3f ms, worst %.3f ms over 20\n", whole.median,
                whole.worst);
    std::printf("share: %lld MiB\n", static_cast<long long>(bcx::EngineShareBytes() >> 20));
    for (void* block : held)
        std::free(block);
    return 0;
}
