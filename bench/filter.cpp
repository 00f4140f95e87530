// Game-stream filter: how fast one viewer's filter takes the action messages of a 60-minute game, and
// how often it allocates.
//
// The game: a 1v1 with two observers, one W3GS action message per 100 ms (36,000 messages). About a third
// of the messages carry no block; the others carry one or two players' blocks of one to three actions in
// a mix like that of a real game: selections and subgroups, right-click moves, attack-moves, group
// hotkeys, orders and abilities, trained units, buildings, research, bought items and minimap pings.
// Every analyzer flag is on and pings go to the system sender, so reported buildings get a ping behind
// the last block and minimap pings move into a block of their own: those messages are rewritten.
//
// The messages are built once; the game is then filtered several times over (the game clock runs on,
// so the analyzers' repeat windows behave as in one long game). The log target formats every line and
// drops it. Printed: messages and actions filtered, messages per second (by the wall clock and by the
// thread's CPU time, which a busy machine disturbs less), ns per message and per action (median pass),
// allocations per message (all messages, unchanged messages without lines, unchanged messages with
// lines, rewritten messages), the share of rewritten messages and the lines produced.
//
// Actions are counted as the filter walks them: a selection followed by a subgroup (0x1A with its 0x19)
// is two actions. Allocations are counted where memory is taken from the C allocator: this program
// replaces malloc, calloc, realloc and the aligned forms (forwarding to the C library's own), so every
// allocation counts, whether it comes through operator new, the toolkit's strings or the C library
// functions that allocate through malloc; the operator new share is printed beside it. Builds with a
// sanitizer keep the sanitizer's allocator and count operator new only.

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

#include <time.h>

#include <wx/init.h>
#include <wx/log.h>

#include "BenchSupport.h"
#include "analyzer/ActionAnalyzer.h"
#include "core/ClientSettings.h"
#include "core/Crc32.h"
#include "core/GameRecords.h"
#include "lanhost/GameStreamFilter.h"
#include "lanhost/LanClient.h"

// ---------------------------------------------------------------------------------------------------
// Counting allocations

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BCX_BENCH_COUNT_MALLOC 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define BCX_BENCH_COUNT_MALLOC 0
#endif
#endif
#ifndef BCX_BENCH_COUNT_MALLOC
#define BCX_BENCH_COUNT_MALLOC 1
#endif

namespace {
std::atomic<uint64_t> gNewCalls{0};
std::atomic<uint64_t> gMallocCalls{0};

// Allocations so far: at the C allocator where this build counts there, else at operator new.
uint64_t Allocations()
{
    return BCX_BENCH_COUNT_MALLOC ? gMallocCalls.load(std::memory_order_relaxed)
                                  : gNewCalls.load(std::memory_order_relaxed);
}
} // namespace

#if BCX_BENCH_COUNT_MALLOC
namespace {
void CountMalloc()
{
    gMallocCalls.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

// The C library's own allocator, under the names it exports for programs that replace malloc.
extern "C" {
void* __libc_malloc(size_t n);
void* __libc_calloc(size_t n, size_t size);
void* __libc_realloc(void* p, size_t n);
void* __libc_memalign(size_t alignment, size_t n);
void __libc_free(void* p);

void* malloc(size_t n) noexcept
{
    CountMalloc();
    return __libc_malloc(n);
}

void* calloc(size_t n, size_t size) noexcept
{
    CountMalloc();
    return __libc_calloc(n, size);
}

void* realloc(void* p, size_t n) noexcept
{
    CountMalloc();
    return __libc_realloc(p, n);
}

void free(void* p) noexcept
{
    __libc_free(p);
}

void* memalign(size_t alignment, size_t n) noexcept
{
    CountMalloc();
    return __libc_memalign(alignment, n);
}

void* aligned_alloc(size_t alignment, size_t n) noexcept
{
    CountMalloc();
    return __libc_memalign(alignment, n);
}

int posix_memalign(void** out, size_t alignment, size_t n) noexcept
{
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    CountMalloc();
    void* p = __libc_memalign(alignment, n);
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}
}
#endif

void* operator new(size_t n)
{
    gNewCalls.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n == 0 ? 1 : n))
        return p;
    throw std::bad_alloc();
}

void* operator new[](size_t n)
{
    gNewCalls.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n == 0 ? 1 : n))
        return p;
    throw std::bad_alloc();
}

void* operator new(size_t n, const std::nothrow_t&) noexcept
{
    gNewCalls.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(n == 0 ? 1 : n);
}

void* operator new[](size_t n, const std::nothrow_t&) noexcept
{
    gNewCalls.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(n == 0 ? 1 : n);
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

// CPU time of this thread: on a busy machine steadier than the wall clock.
std::chrono::nanoseconds ThreadCpuTime()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

class DiscardLog : public wxLog {
protected:
    void DoLogRecord(wxLogLevel, const wxString& msg, const wxLogRecordInfo&) override { (void)msg.length(); }
};

// ---------------------------------------------------------------------------------------------------
// The synthetic game

class Writer {
public:
    explicit Writer(std::string& out) : mOut(out) {}
    Writer& U8(uint32_t v) { mOut += static_cast<char>(v & 0xFF); return *this; }
    Writer& U16(uint32_t v) { return U8(v).U8(v >> 8); }
    Writer& U32(uint32_t v) { return U16(v).U16(v >> 16); }
    Writer& F32(float f)
    {
        uint32_t v;
        std::memcpy(&v, &f, 4);
        return U32(v);
    }
    Writer& Zero(size_t n) { mOut.append(n, '\0'); return *this; }

private:
    std::string& mOut;
};

uint32_t Id4(const char (&c)[5])
{
    return FourCC(c);
}

struct SyntheticGame {
    std::vector<uint8_t> bytes;      // every message, one after the other
    std::vector<uint32_t> offsets;   // message starts; one more at the end
    uint64_t actions = 0;
};

SyntheticGame BuildGame(uint32_t messages)
{
    std::mt19937 rng(20261207);
    auto chance = [&](uint32_t percent) { return rng() % 100 < percent; };
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    auto coord = [&] { return static_cast<float>(static_cast<int>(pick(8000)) - 4000) + 0.5f; };

    const uint32_t units[] = {Id4("hfoo"), Id4("hpea"), Id4("hkni"), Id4("Hpal"), Id4("hrif"), Id4("hsor"),
                              Id4("ogru"), Id4("opeo"), Id4("Obla"), Id4("ohun")};
    const uint32_t buildings[] = {Id4("htow"), Id4("hbar"), Id4("hhou"), Id4("halt"), Id4("obar"), Id4("otrb")};
    const uint32_t orders[] = {0xD0004, 0xD0019, 0xD0031, 0xD0059, 0xD005C};
    const uint32_t research[] = {Id4("Rhme"), Id4("Rome"), Id4("Rhar")};
    const uint32_t items[] = {Id4("amrc"), Id4("ankh")};

    SyntheticGame game;
    std::string m;
    for (uint32_t i = 0; i < messages; ++i) {
        std::string blocks;
        if (!chance(35)) {
            const int players = chance(30) ? 2 : 1;
            for (int b = 0; b < players; ++b) {
                const uint32_t player = players == 2 ? static_cast<uint32_t>(b + 1) : 1 + pick(2);
                std::string actions;
                Writer a(actions);
                const uint32_t count = 1 + pick(3);
                for (uint32_t k = 0; k < count; ++k) {
                    const uint32_t r = pick(100);
                    if (r < 28) {
                        const uint32_t n = 1 + pick(12);
                        a.U8(0x16).U8(1).U16(n);
                        for (uint32_t u = 0; u < n; ++u)
                            a.U32(0x1000 + u).U32(0x1000 + u);
                        if (chance(50)) {
                            a.U8(0x1A).U8(0x19).U32(units[pick(10)]).U32(0x1000).U32(0x1000);
                            game.actions += 1;
                        }
                    } else if (r < 62) {
                        a.U8(0x12).U16(0x40).U32(0xD0003).U32(~0u).U32(~0u).F32(coord()).F32(coord())
                            .U32(0x2000).U32(0x2000);
                    } else if (r < 70) {
                        a.U8(0x11).U16(0x40).U32(0xD0010).U32(~0u).U32(~0u).F32(coord()).F32(coord());
                    } else if (r < 76) {
                        if (chance(70))
                            a.U8(0x18).U8(pick(10)).U8(0x03);
                        else
                            a.U8(0x17).U8(pick(10)).U16(0);
                    } else if (r < 82) {
                        a.U8(0x10).U16(0x40).U32(orders[pick(5)]).U32(~0u).U32(~0u);
                    } else if (r < 89) {
                        a.U8(0x10).U16(0x40).U32(units[pick(10)]).U32(~0u).U32(~0u);
                    } else if (r < 91) {
                        a.U8(0x11).U16(0x40).U32(buildings[pick(6)]).U32(~0u).U32(~0u).F32(coord()).F32(coord());
                    } else if (r < 92) {
                        a.U8(0x10).U16(0x40).U32(research[pick(3)]).U32(~0u).U32(~0u);
                    } else if (r < 93) {
                        a.U8(0x10).U16(0x40).U32(items[pick(2)]).U32(~0u).U32(~0u);
                    } else if (r < 95) {
                        a.U8(0x68).F32(coord()).F32(coord()).U32(0);
                    } else {
                        a.U8(0x1E).U8(0).U32(0x1000 + pick(16));
                    }
                    game.actions += 1;
                }
                Writer(blocks).U8(player).U16(static_cast<uint32_t>(actions.size()));
                blocks += actions;
            }
        }
        m.clear();
        const uint32_t crc = Crc32(blocks.data(), blocks.size()) & 0xFFFF;
        Writer(m).U8(0xF7).U8(0x0C).U16(static_cast<uint32_t>(8 + blocks.size())).U16(100).U16(crc);
        m += blocks;
        game.offsets.push_back(static_cast<uint32_t>(game.bytes.size()));
        game.bytes.insert(game.bytes.end(), m.begin(), m.end());
    }
    game.offsets.push_back(static_cast<uint32_t>(game.bytes.size()));
    return game;
}

} // namespace

int main(int argc, char** argv)
{
    wxInitializer init(argc, argv);
    if (!init.IsOk()) {
        std::fprintf(stderr, "cannot initialise the toolkit\n");
        return 2;
    }
    delete wxLog::SetActiveTarget(new DiscardLog);

    const uint32_t kMessages = 36000;  // 60 minutes, one message per 100 ms
    const int kPasses = argc > 1 ? std::atoi(argv[1]) : 30;
    const SyntheticGame game = BuildGame(kMessages);

    Game watched(1);
    watched.mDetails = new GameDetails();
    GameDetails& d = *watched.mDetails;
    const char* names[] = {"Alice", "Bob", "Carol", "Dave"};
    const uint8_t teams[] = {0, 1, 12, 12};
    for (int i = 0; i < 4; ++i) {
        d.mSlots[i].mValid = 1;
        d.mSlots[i].mPlayerId = static_cast<uint8_t>(i + 1);
        d.mSlots[i].mStatus = kSlotStatusUsed;
        d.mSlots[i].mTeam = teams[i];
        d.mPlayers[i + 1].mValid = 1;
        d.mPlayers[i + 1].mName = names[i];
    }
    d.mSlotCount = 4;
    d.mViewPlayer = 3;

    LanClient* client = new LanClient();
    client->mGame = &watched;
    client->mSenders[ChatSenderSystem].mPlayerId = 4;
    client->mCursor.mEntriesRead = 100;

    ClientSettings settings;
    settings.mAnalyzerFlags = 0xFF;
    settings.mPlayerPing = PingReport | PingToSystemSender;
    settings.mObsPing = PingReport | PingToSystemSender;

    std::vector<std::string> lines;
    lines.reserve(64);

    uint64_t filtered = 0, rewritten = 0, quiet = 0, talking = 0, lineCount = 0;
    uint64_t allocs = 0, quietAllocs = 0, talkingAllocs = 0, rewrittenAllocs = 0, newCalls = 0;
    std::chrono::nanoseconds elapsed(0);
    std::chrono::nanoseconds cpu(0);
    std::vector<double> passNs, passCpuNs;  // per message, each pass

    for (int pass = 0; pass < kPasses; ++pass) {
        const auto start = std::chrono::steady_clock::now();
        const auto cpuStart = ThreadCpuTime();
        const uint64_t allocsBefore = Allocations();
        const uint64_t newBefore = gNewCalls.load(std::memory_order_relaxed);
        for (uint32_t i = 0; i < kMessages; ++i) {
            const uint8_t* stored = game.bytes.data() + game.offsets[i];
            const uint8_t* data = stored;
            uint32_t length = game.offsets[i + 1] - game.offsets[i];
            client->mGameTime += GetActionTimeIncrement(data, length);
            const uint64_t before = Allocations();
            FilterGamePacket(client->mAnalyzers.get(), data, length, lines, settings);
            const uint64_t calls = Allocations() - before;
            if (data != stored) {
                delete[] data;
                rewritten += 1;
                rewrittenAllocs += calls;
            } else if (lines.empty()) {
                quiet += 1;
                quietAllocs += calls;
            } else {
                talking += 1;
                talkingAllocs += calls;
            }
            lineCount += lines.size();
            lines.clear();
        }
        allocs += Allocations() - allocsBefore;
        newCalls += gNewCalls.load(std::memory_order_relaxed) - newBefore;
        const std::chrono::nanoseconds passElapsed = std::chrono::steady_clock::now() - start;
        const std::chrono::nanoseconds passCpu = ThreadCpuTime() - cpuStart;
        elapsed += passElapsed;
        cpu += passCpu;
        passNs.push_back(static_cast<double>(passElapsed.count()) / kMessages);
        passCpuNs.push_back(static_cast<double>(passCpu.count()) / kMessages);
        filtered += kMessages;
    }

    const double seconds = static_cast<double>(elapsed.count()) / 1e9;
    const double actionsPerMessage = static_cast<double>(game.actions) / kMessages;
    const auto perMessage = [&](uint64_t count, uint64_t messages) {
        return messages ? static_cast<double>(count) / static_cast<double>(messages) : 0.0;
    };
    std::printf("game-stream filter, synthetic 60-minute game: %u messages, %llu actions, %zu bytes; %d passes\n",
                kMessages, static_cast<unsigned long long>(game.actions), game.bytes.size(), kPasses);
    std::printf("  messages per second        %.0f (wall clock), %.0f (thread CPU time)\n",
                static_cast<double>(filtered) / seconds,
                static_cast<double>(filtered) / (static_cast<double>(cpu.count()) / 1e9));
    std::printf("  ns per message             %.1f (median pass; thread CPU time %.1f)\n", bench::Median(passNs),
                bench::Median(passCpuNs));
    std::printf("  ns per action              %.1f (median pass; thread CPU time %.1f)\n",
                bench::Median(passNs) / actionsPerMessage, bench::Median(passCpuNs) / actionsPerMessage);
    std::printf("  allocations counted at     %s\n",
                BCX_BENCH_COUNT_MALLOC ? "malloc, calloc, realloc and the aligned forms"
                                       : "operator new only (sanitizer build)");
    std::printf("  allocations per message    %.3f (all messages; %.3f through operator new)\n",
                perMessage(allocs, filtered), perMessage(newCalls, filtered));
    std::printf("  allocations per message    %.3f (unchanged, no line: %llu messages)\n",
                perMessage(quietAllocs, quiet), static_cast<unsigned long long>(quiet));
    std::printf("  allocations per message    %.3f (unchanged, with lines: %llu messages)\n",
                perMessage(talkingAllocs, talking), static_cast<unsigned long long>(talking));
    std::printf("  allocations per message    %.3f (rewritten: %llu messages, %.2f%%)\n",
                perMessage(rewrittenAllocs, rewritten), static_cast<unsigned long long>(rewritten),
                100.0 * static_cast<double>(rewritten) / static_cast<double>(filtered));
    std::printf("  chat lines produced        %llu\n", static_cast<unsigned long long>(lineCount));

    client->mGame = nullptr;
    delete client;
    return 0;
}
