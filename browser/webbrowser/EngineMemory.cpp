#include "browser/webbrowser/EngineMemory.h"
#include "browser/webbrowser/EngineCode.h"

#include <algorithm>
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

#if !defined(__SANITIZE_ADDRESS__)

// A fall of the share by more than this since the allocator was last counted whole has it counted again.
const int64_t kRecountFallBytes = 8 << 20;

// What the C library's allocator holds from the system, and how much of it is resident, followed from look
// to look. The allocator's own count (mallinfo2) walks every free block of every arena under the arena's
// lock: tens of milliseconds on a fragmented heap. So a look reads the main arena's growth off the program
// break (the main thread's arena grows and shrinks it), and the allocator is counted whole only when a look
// asks for it, and when the share fell by more than kRecountFallBytes since the last whole count: a mapped
// block or another thread's arena given back is then not taken for the engine's.
//
// What the allocator holds counts for the program once it became resident: it takes address space that the
// program touches later (a large calloc, a vector's growth), so its growth is put down to the program only
// as far as the program's anonymous resident memory grew too, and what it gives back only as far as that
// fell.
class AllocatorWatch {
public:
    int64_t Look(bool counted)
    {
        const int64_t anonymous = static_cast<int64_t>(AnonymousResidentBytes());
        if (!mStarted || counted) {
            Count(anonymous);
        } else {
            Follow(anonymous, CheaplyHeld());
            if (Share() < mCountedShare - kRecountFallBytes)
                Count(anonymous);
        }
        return Share();
    }

private:
    int64_t Share() const { return mAnonymous - mResident; }

    // The main arena's growth since the last whole count, read off the program break.
    int64_t CheaplyHeld() const
    {
        return mCounted + (reinterpret_cast<intptr_t>(::sbrk(0)) - mBreakAtCount);
    }

    // From the last look to this one: the allocator's growth became resident as far as the program's did,
    // what it gave back was resident as far as the program's fell.
    void Follow(int64_t anonymous, int64_t held)
    {
        const int64_t grown = anonymous - mAnonymous;
        if (held < mHeld)
            mResident -= std::min(mResident, std::min(mHeld - held, std::max<int64_t>(0, -grown)));
        mResident = std::min(mResident, held);
        if (grown > 0)
            mResident += std::min(grown, held - mResident);
        mAnonymous = anonymous;
        mHeld = held;
    }

    void Count(int64_t anonymous)
    {
        const struct mallinfo2 heap = mallinfo2();
        const int64_t held = static_cast<int64_t>(heap.arena + heap.hblkhd);
        const intptr_t brk = reinterpret_cast<intptr_t>(::sbrk(0));
        if (!mStarted) {
            mStarted = true;
            mAnonymous = anonymous;
            mHeld = held;
            mResident = std::min(held, anonymous);
        } else {
            // What the looks since the last count could not see (mapped blocks, other threads' arenas) is
            // put against what the share did meanwhile: its growth as far as the share grew, what it gave
            // back as far as the share fell.
            Follow(anonymous, CheaplyHeld());
            const int64_t unseen = held - mHeld;
            const int64_t moved = Share() - mCountedShare;
            if (unseen > 0 && moved > 0)
                mResident += std::min(unseen, moved);
            else if (unseen < 0 && moved < 0)
                mResident -= std::min(mResident, std::min(-unseen, -moved));
            mHeld = held;
            mResident = std::min(mResident, held);
        }
        mCounted = held;
        mBreakAtCount = brk;
        mCountedShare = Share();
    }

    bool mStarted = false;
    // At the last look: the program's anonymous resident memory, what the allocator held, and how much of
    // that was resident.
    int64_t mAnonymous = 0;
    int64_t mHeld = 0;
    int64_t mResident = 0;
    // At the last whole count: what the allocator held, the program break, the share.
    int64_t mCounted = 0;
    intptr_t mBreakAtCount = 0;
    int64_t mCountedShare = 0;
};

AllocatorWatch& TheAllocatorWatch()
{
    static AllocatorWatch watch;
    return watch;
}

#endif

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
#else
    // Counted whole while the heap is young, so that what the program takes later is followed from here.
    static const bool started = (TheAllocatorWatch().Look(false), true);
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
    return TheAllocatorWatch().Look(false);
#endif
}

int64_t CountedEngineShareBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return gEngineBytes.load(std::memory_order_relaxed);
#else
    return TheAllocatorWatch().Look(true);
#endif
}

} // namespace bcx
