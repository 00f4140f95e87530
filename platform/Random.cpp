#include "platform/Random.h"

#include <mutex>
#include <random>

namespace bcx {
namespace {
std::mutex gLock;
std::mt19937_64& Engine()
{
    static std::mt19937_64 engine{std::random_device{}()};
    return engine;
}
} // namespace

uint32_t Random::Next(uint32_t bound)
{
    if (bound == 0)
        return 0;
    std::lock_guard<std::mutex> guard(gLock);
    std::uniform_int_distribution<uint32_t> dist(0, bound - 1);
    return dist(Engine());
}

void Random::Seed(uint64_t seed)
{
    std::lock_guard<std::mutex> guard(gLock);
    Engine().seed(seed);
}

} // namespace bcx
