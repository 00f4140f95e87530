#include "browser/webbrowser/EngineMemory.h"
#include "browser/webbrowser/EngineCode.h"

#include <cstdio>
#include <cstring>

#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <atomic>
#endif

namespace bcx {
namespace {

// The program's resident memory that is neither a file's nor shared, in bytes; 0 when it cannot be read.
uint64_t AnonymousResidentBytes()
{
    char text[256];
    const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    const ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    unsigned long long size = 0, resident = 0, shared = 0;
    if (got <= 0)
        return 0;
    text[got] = '\0';
    if (std::sscanf(text, "%llu %llu %llu", &size, &resident, &shared) != 3 || shared > resident)
        return 0;
    return (resident - shared) * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}

#if defined(__SANITIZE_ADDRESS__)

extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t), void (*)(const volatile void*));
size_t __sanitizer_get_allocated_size(const volatile void* p);
size_t __asan_get_alloc_stack(void* addr, void** trace, size_t size, int* threadId);
}

// What the engine allocated and has not freed, since the counting started.
std::atomic<int64_t> gEngineBytes{0};

// The sanitizer keeps where each block was allocated: the engine's when one of the first callers below
// the allocator is in its code (the engine's own allocator hands its requests to malloc from there).
bool AllocatedByEngine(const volatile void* block)
{
    void* trace[4];
    int thread = 0;
    const size_t frames = __asan_get_alloc_stack(const_cast<void*>(block), trace, 4, &thread);
    for (size_t i = 0; i < frames; ++i)
        if (IsEngineCode(trace[i]))
            return true;
    return false;
}

void Allocated(const volatile void* block, size_t size)
{
    if (block && AllocatedByEngine(block))
        gEngineBytes.fetch_add(static_cast<int64_t>(size), std::memory_order_relaxed);
}

void Freed(const volatile void* block)
{
    if (block && AllocatedByEngine(block))
        gEngineBytes.fetch_sub(static_cast<int64_t>(__sanitizer_get_allocated_size(block)), std::memory_order_relaxed);
}

#endif

} // namespace

void StartCountingEngineMemory()
{
#if defined(__SANITIZE_ADDRESS__)
    static const bool started = [] {
        return FindEngineCode() && __sanitizer_install_malloc_and_free_hooks(Allocated, Freed) != 0;
    }();
    (void)started;
#endif
}

void ReleaseEngineFreeMemory()
{
    using Release = void (*)();
    static void* const symbol = dlsym(RTLD_DEFAULT, "_ZN3WTF27releaseFastMallocFreeMemoryEv");
    if (symbol)
        reinterpret_cast<Release>(symbol)();
}

int64_t EngineShareBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    (void)AnonymousResidentBytes;
    return gEngineBytes.load(std::memory_order_relaxed);
#else
    const uint64_t anonymous = AnonymousResidentBytes();
    const struct mallinfo2 heap = mallinfo2();
    const uint64_t own = static_cast<uint64_t>(heap.arena) + static_cast<uint64_t>(heap.hblkhd);
    return anonymous > own ? static_cast<int64_t>(anonymous - own) : 0;
#endif
}

} // namespace bcx
