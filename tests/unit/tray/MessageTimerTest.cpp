#include <gtest/gtest.h>

#include <QTimer>
#include <memory>

#include "platform/desktop/DesktopPlatform.h"
#include "platform/sim/SimPlatform.h"
#include "tray/MessageTimer.h"

namespace {

class MessageTimerTest : public ::testing::Test {
protected:
    // Counts ticks of a timer.
    TMessageTimer::TNotify Counter() { return [this](TMessageTimer*) { ++ticks; }; }

    SimPlatform sim;
    int ticks = 0;
};

TEST_F(MessageTimerTest, ZeroIntervalNeverStartsAndLeavesEnabledAsItWas)
{
    TMessageTimer stopped(0, Counter());
    EXPECT_FALSE(stopped.Start());
    EXPECT_FALSE(stopped.Enabled());

    TMessageTimer paused(100, Counter());
    ASSERT_TRUE(paused.Start());
    paused.SetInterval(0);  // pauses: still enabled, no window timer
    EXPECT_TRUE(paused.Enabled());
    EXPECT_EQ(TMessageTimer::GetMessageTimerActiveCount(), 0);
    EXPECT_FALSE(paused.Start());
    EXPECT_TRUE(paused.Enabled());

    sim.Advance(1000);
    EXPECT_EQ(ticks, 0);

    paused.SetInterval(50);  // a new non-zero interval resumes it
    sim.Advance(50);
    EXPECT_EQ(ticks, 1);
}

TEST_F(MessageTimerTest, EnablingARunningTimerRestartsItsCount)
{
    TMessageTimer t(100, Counter());
    t.SetEnabled(true);
    sim.Advance(60);
    t.SetEnabled(true);
    sim.Advance(60);
    EXPECT_EQ(ticks, 0);
    sim.Advance(40);
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(TMessageTimer::GetMessageTimerActiveCount(), 1);
}

TEST_F(MessageTimerTest, IntervalChanges)
{
    TMessageTimer t(100, Counter());
    t.SetEnabled(true);
    sim.Advance(60);
    t.SetInterval(100);  // the same value: not even a restart
    sim.Advance(40);
    EXPECT_EQ(ticks, 1);

    t.SetInterval(30);  // a new value restarts with it
    sim.Advance(90);
    EXPECT_EQ(ticks, 4);

    TMessageTimer idle(100, Counter());
    idle.SetInterval(10);  // a disabled timer only stores it
    EXPECT_FALSE(idle.Enabled());
    EXPECT_EQ(TMessageTimer::GetMessageTimerActiveCount(), 1);
}

TEST_F(MessageTimerTest, RemovingTheHandlerPausesUntilEnabledAgain)
{
    TMessageTimer t(100, Counter());
    t.SetEnabled(true);
    t.SetOnTimer(nullptr);
    EXPECT_TRUE(t.Enabled());
    EXPECT_EQ(TMessageTimer::GetMessageTimerActiveCount(), 0);

    t.SetOnTimer(Counter());  // not resumed by a new handler alone
    sim.Advance(500);
    EXPECT_EQ(ticks, 0);

    t.SetEnabled(true);
    sim.Advance(100);
    EXPECT_EQ(ticks, 1);
}

TEST_F(MessageTimerTest, StopAndCounts)
{
    {
        TMessageTimer a(100, Counter());
        TMessageTimer b(100, Counter());
        EXPECT_TRUE(a.Start());
        EXPECT_EQ(TMessageTimer::GetMessageTimerCount(), 2);
        EXPECT_EQ(TMessageTimer::GetMessageTimerActiveCount(), 1);
        EXPECT_EQ(sim.windows.WindowCount(), 1u);  // one window for all timers

        EXPECT_FALSE(b.Stop(true));  // nothing to kill: the count stays
        EXPECT_EQ(TMessageTimer::GetMessageTimerActiveCount(), 1);

        EXPECT_TRUE(a.Stop(false));  // paused
        EXPECT_TRUE(a.Enabled());
        EXPECT_EQ(TMessageTimer::GetMessageTimerActiveCount(), 0);
        EXPECT_TRUE(a.Start());
    }
    EXPECT_EQ(TMessageTimer::GetMessageTimerCount(), 0);
    EXPECT_EQ(TMessageTimer::GetMessageTimerActiveCount(), 0);
    EXPECT_EQ(sim.windows.WindowCount(), 0u);
    EXPECT_EQ(sim.windows.TimerCount(), 0u);

    TMessageTimer again;  // a new handler after the last one went
    EXPECT_EQ(again.Interval(), 1000u);
    EXPECT_EQ(TMessageTimer::GetMessageTimerCount(), 1);
    EXPECT_EQ(sim.windows.WindowCount(), 1u);
}

TEST_F(MessageTimerTest, AutoDisableFiresOncePerStartAndIsStoppedInItsEvent)
{
    bool enabledInEvent = true;
    TMessageTimer t(100, [&](TMessageTimer* sender) {
        ++ticks;
        enabledInEvent = sender->Enabled();
    });
    t.SetAutoDisable(true);
    t.SetEnabled(true);
    sim.Advance(1000);
    EXPECT_EQ(ticks, 1);
    EXPECT_FALSE(enabledInEvent);
    EXPECT_EQ(TMessageTimer::GetMessageTimerActiveCount(), 0);

    t.Start();
    sim.Advance(1000);
    EXPECT_EQ(ticks, 2);
}

TEST_F(MessageTimerTest, TicksReachTheirOwnTimerAndATimerMayEndInItsEvent)
{
    int aTicks = 0, bTicks = 0;
    TMessageTimer a(30, [&](TMessageTimer*) { ++aTicks; });
    std::unique_ptr<TMessageTimer> b;
    b = std::make_unique<TMessageTimer>(50, [&](TMessageTimer*) {
        ++bTicks;
        b.reset();  // destroys the timer whose event is running
    });
    a.Start();
    b->Start();
    sim.Advance(300);
    EXPECT_EQ(aTicks, 10);
    EXPECT_EQ(bTicks, 1);
    EXPECT_EQ(TMessageTimer::GetMessageTimerCount(), 1);
}

// Intervals past the toolkit's int range run at the longest it takes, on
// the desktop as in the simulation, instead of being taken as negative.
TEST_F(MessageTimerTest, LongestIntervalIsClampedNotLost)
{
    {
        TMessageTimer t(0xFFFFFFFFu, Counter());
        t.SetEnabled(true);
        EXPECT_TRUE(t.Enabled());
        EXPECT_EQ(sim.windows.TimerCount(), 1u);
        EXPECT_EQ(ClampTimerElapse(0xFFFFFFFFu), 0x7FFFFFFFu);
    }
    DesktopMessageWindows desktop;
    sim.platform.Windows = &desktop;
    {
        TMessageTimer t(0xFFFFFFFFu, Counter());
        t.SetEnabled(true);
        EXPECT_TRUE(t.Enabled());
        EXPECT_EQ(TMessageTimer::GetMessageTimerActiveCount(), 1);
        const auto timers = desktop.findChildren<QTimer*>();
        ASSERT_EQ(timers.size(), 1);
        EXPECT_TRUE(timers[0]->isActive());
        EXPECT_EQ(timers[0]->interval(), 0x7FFFFFFF);
    }
    sim.platform.Windows = &sim.windows;
}

}  // namespace
