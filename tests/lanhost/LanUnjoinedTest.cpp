// Connections on the session port that never name a game: how many are kept, for how long, what each one
// costs, and what the listener does when it cannot take a connection at all.

#include <cstddef>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <wx/eventfilter.h>

#if defined(__SANITIZE_ADDRESS__)
// The address sanitizer's count of the bytes the program holds.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "analyzer/ActionAnalyzer.h"
#include "lanhost/LanFixture.h"
#include "platform/ProgramClock.h"

namespace {

using bcxtest::JoinOptions;
using bcxtest::PumpUntil;
using bcxtest::TestLanClient;

class LanUnjoinedTest : public lantest::HostedGameTest {
protected:
    // Connects `count` viewers that send nothing, one after the other, each accepted before the next.
    void ConnectSilent(size_t count)
    {
        JoinOptions silent;
        silent.connectOnly = true;
        for (size_t i = 0; i < count; ++i) {
            viewers.push_back(std::make_unique<TestLanClient>(0));
            const size_t accepted = log.Count("connected from");
            ASSERT_TRUE(viewers.back()->Join(listener->SessionPort(), game->mId, silent));
            ASSERT_TRUE(PumpUntil([&] { return log.Count("connected from") == accepted + 1; })) << i;
        }
    }

    void RunSearchTimer()
    {
        wxTimer timer;
        wxTimerEvent tick(timer);
        listener->OnLanSearchTimer(tick);
    }

    std::vector<std::unique_ptr<TestLanClient>> viewers;
    bcxtest::ScopedPumpHook viewersHook{[this] {
        for (auto& viewer : viewers)
            viewer->Poll();
    }};
};

TEST_F(LanUnjoinedTest, AtTheBoundTheOldestUnjoinedConnectionIsDroppedWithOneLogLine)
{
    ConnectSilent(LanListener::kMaxUnjoined + 8);
    EXPECT_EQ(listener->Clients().Size(), LanListener::kMaxUnjoined);
    ASSERT_TRUE(PumpUntil([&] { return viewers[7]->HostClosed(); }));
    bcxtest::PumpFor(20);
    for (size_t i = 0; i < viewers.size(); ++i)
        EXPECT_EQ(viewers[i]->HostClosed(), i < 8) << i;
    EXPECT_EQ(log.Count("32 connections are waiting to join: dropping the oldest for each new one"), 1u);

    // A real join still gets through.
    ASSERT_NE(JoinAndAttach(), nullptr);
}

TEST_F(LanUnjoinedTest, AConnectionThatSendsNoJoinIsClosedAtItsDeadline)
{
    ConnectSilent(2);
    bcx::ProgramClock::Advance(LanListener::kJoinDeadlineMs - 1);
    ConnectSilent(1);
    RunSearchTimer();
    EXPECT_EQ(listener->Clients().Size(), 3u);

    bcx::ProgramClock::Advance(1);
    RunSearchTimer();
    EXPECT_EQ(listener->Clients().Size(), 1u);
    ASSERT_TRUE(PumpUntil([&] { return viewers[0]->HostClosed() && viewers[1]->HostClosed(); }));
    EXPECT_FALSE(viewers[2]->HostClosed());
    EXPECT_EQ(log.Count("disconnected, no join request within 5000 ms"), 2u);
}

#if defined(__SANITIZE_ADDRESS__)
TEST_F(LanUnjoinedTest, UnjoinedConnectionsHoldNoAnalyzersUntilTheyAttach)
{
    viewers.reserve(LanListener::kMaxUnjoined);
    const size_t before = __sanitizer_get_current_allocated_bytes();
    ConnectSilent(LanListener::kMaxUnjoined);
    const size_t perConnection = (__sanitizer_get_current_allocated_bytes() - before) / LanListener::kMaxUnjoined;
    EXPECT_LT(perConnection, 64u * 1024u);

    LanClient* client = JoinAndAttach();
    ASSERT_NE(client, nullptr);
    EXPECT_TRUE(client->mAnalyzers->IsBuilt());
}
#endif

// Counts the connection events of the session port that reach the listener.
class AcceptEventCounter : public wxEventFilter {
public:
    AcceptEventCounter() { wxEvtHandler::AddFilter(this); }
    ~AcceptEventCounter() override { wxEvtHandler::RemoveFilter(this); }
    int FilterEvent(wxEvent& event) override
    {
        if (event.GetEventType() == wxEVT_SOCKET && event.GetId() == LanListener::kServerSocketId)
            ++count;
        return Event_Skip;
    }
    int count = 0;
};

// Uses up the process's descriptors (all but `spare`) under a lowered limit; gives them back when it ends.
// They are copies of one it opens itself: the test may run without standard input.
class DescriptorsUsedUp {
public:
    explicit DescriptorsUsedUp(int spare)
    {
        getrlimit(RLIMIT_NOFILE, &mSaved);
        rlimit lowered = mSaved;
        lowered.rlim_cur = 512;
        setrlimit(RLIMIT_NOFILE, &lowered);
        const int source = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (source >= 0)
            mHeld.push_back(source);
        for (int fd; source >= 0 && (fd = fcntl(source, F_DUPFD_CLOEXEC, 0)) >= 0;)
            mHeld.push_back(fd);
        for (int i = 0; i < spare && !mHeld.empty(); ++i) {
            close(mHeld.back());
            mHeld.pop_back();
        }
    }
    ~DescriptorsUsedUp() { Release(); }
    void Release()
    {
        for (int fd : mHeld)
            close(fd);
        mHeld.clear();
        setrlimit(RLIMIT_NOFILE, &mSaved);
    }
    bool Holding() const { return !mHeld.empty(); }

private:
    rlimit mSaved{};
    std::vector<int> mHeld;
};

// Passes of the loop: a listener that tried the accept again on every connection event would get one in
// each of them.
void RunLoopPasses(int passes)
{
    for (int i = 0; i < passes; ++i)
        bcxtest::PumpOnce(2);
}

TEST_F(LanUnjoinedTest, AFailingAcceptPausesInsteadOfSpinningAndAJoinGetsThroughOnceDescriptorsAreFree)
{
    // One connection taken while descriptors are plenty: the accept path itself works.
    AcceptEventCounter events;
    ConnectSilent(1);
    RunSearchTimer();
    RunLoopPasses(10);
    events.count = 0;
    DescriptorsUsedUp used(1);  // the viewer's connection takes the last one; the accept finds none
    ASSERT_TRUE(used.Holding());
    ASSERT_TRUE(wc3.Join(listener->SessionPort(), game->mId));
    ASSERT_TRUE(PumpUntil([&] { return log.Count("Failed to accept a connection on the session port") > 0; }));
    RunLoopPasses(100);
    EXPECT_LE(events.count, 4);
    EXPECT_TRUE(host->Clients().Empty());
    EXPECT_EQ(log.Count("Failed to accept a connection on the session port"), 1u);

    // Still no descriptor after the pause: one more attempt, no second log line.
    bcx::ProgramClock::Advance(LanListener::kAcceptPauseMs);
    RunSearchTimer();
    RunLoopPasses(100);
    EXPECT_LE(events.count, 6);
    EXPECT_EQ(log.Count("Failed to accept a connection on the session port"), 1u);

    used.Release();
    bcx::ProgramClock::Advance(LanListener::kAcceptPauseMs);
    RunSearchTimer();
    ASSERT_TRUE(PumpUntil([&] { return host->Clients().Size() == 1; }));
    EXPECT_FALSE(wc3.HostClosed());
}

} // namespace
