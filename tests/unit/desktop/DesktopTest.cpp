// Desktop services that need no display: the clock's local time and the
// shared one-second beat of the window timers.
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTimeZone>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <ctime>
#include <vector>

#include "platform/desktop/DesktopPlatform.h"

namespace {

// The C library's local time, as a day count from 1899-12-30 plus its fraction.
double LibcNow()
{
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 epoch = QDate(1899, 12, 30).toJulianDay();
    return static_cast<double>(now.date().toJulianDay() - epoch) +
           static_cast<double>(now.time().msecsSinceStartOfDay()) / 86400000.0;
}

void SetZone(const char* tz)
{
    if (tz) qputenv("TZ", tz);
    else qunsetenv("TZ");
    tzset();
}

TEST(DesktopClock, FollowsTheZoneWhenItChanges)
{
    const QByteArray saved = qgetenv("TZ");
    const bool had = qEnvironmentVariableIsSet("TZ");
    DesktopClock clock;
    // Zones with summer time on either hemisphere and a half-hour offset.
    for (const char* tz : {"UTC", "Europe/Berlin", "America/New_York", "Australia/Adelaide", "Asia/Kolkata", "UTC"}) {
        SetZone(tz);
        const double before = LibcNow();
        const double now = clock.Now();
        const double after = LibcNow();
        // A reading taken between two readings of the C library's clock;
        // a stale zone would be hours off.
        EXPECT_GE(now, before - 1e-9) << tz;
        EXPECT_LE(now, after + 1e-9) << tz;
    }
    SetZone(had ? saved.constData() : nullptr);
}

TEST(ZoneOffsets, KeptOffsetChangesAtTheTransitionAndAfterTheClockIsSetBack)
{
    ZoneOffsets offsets;
    const QTimeZone berlin("Europe/Berlin");
    ASSERT_TRUE(berlin.isValid());
    const auto expected = [&berlin](qint64 utcMs) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC).toTimeZone(berlin);
        return static_cast<double>(local.date().toJulianDay() - QDate(1899, 12, 30).toJulianDay()) +
               static_cast<double>(local.time().msecsSinceStartOfDay()) / 86400000.0;
    };
    // Summer time begins at 01:00 UTC on 2026-03-29; winter comes back at 01:00 UTC on 2026-10-25.
    const qint64 spring = QDateTime(QDate(2026, 3, 29), QTime(1, 0), Qt::UTC).toMSecsSinceEpoch();
    const qint64 autumn = QDateTime(QDate(2026, 10, 25), QTime(1, 0), Qt::UTC).toMSecsSinceEpoch();
    for (const qint64 at : {spring - 86400000, spring - 1000, spring, spring + 3600000, autumn - 1, autumn,
                            spring - 1000 /* set back */, autumn + 1000}) {
        EXPECT_NEAR(offsets.LocalDays(berlin, at), expected(at), 1e-9) << at;
    }
    // A zone without transitions.
    ZoneOffsets utc;
    EXPECT_NEAR(utc.LocalDays(QTimeZone::utc(), spring), expected(spring) - 2.0 / 24, 1e-9);
}

// Runs the event loop until pred() holds or 10 s have gone.
template <class Pred>
bool RunUntil(Pred pred)
{
    QElapsedTimer t;
    t.start();
    while (!pred() && t.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    return pred();
}

TEST(DesktopMessageWindows, OneSecondTimersShareOneBeat)
{
    DesktopMessageWindows windows;
    std::vector<std::pair<int, UINT_PTR>> ticks;  // (window number, timer id)
    auto recorder = [&ticks](int n) {
        return [&ticks, n](TMessage& m) {
            if (m.Msg == WM_TIMER) ticks.emplace_back(n, m.WParam);
        };
    };
    auto count = [&ticks](int n, UINT_PTR id) {
        int c = 0;
        for (const auto& t : ticks) c += t.first == n && t.second == id;
        return c;
    };
    const HWND first = windows.AllocateHWnd(recorder(1));
    const HWND second = windows.AllocateHWnd(recorder(2));
    ASSERT_TRUE(windows.SetTimer(first, 7, 1000));
    ASSERT_TRUE(windows.SetTimer(second, 9, 1000));
    ASSERT_TRUE(windows.SetTimer(second, 3, 250));  // another interval keeps a timer of its own
    // One timer source for both one-second timers, one for the other.
    EXPECT_EQ(windows.findChildren<QTimer*>().size(), 2);
    ASSERT_TRUE(RunUntil([&] { return count(1, 7) >= 2 && count(2, 9) >= 2; }));
    EXPECT_GE(count(2, 3), 2);

    // A killed timer is silent; the other goes on.
    EXPECT_TRUE(windows.KillTimer(first, 7));
    EXPECT_FALSE(windows.KillTimer(first, 7));
    const int silent = count(1, 7);
    const int going = count(2, 9);
    ASSERT_TRUE(RunUntil([&] { return count(2, 9) >= going + 2; }));
    EXPECT_EQ(count(1, 7), silent);

    // Set again with another interval it leaves the beat; a window that goes
    // takes its timers along.
    EXPECT_TRUE(windows.SetTimer(second, 9, 300));
    ASSERT_TRUE(RunUntil([&] { return count(2, 9) >= going + 6; }));
    windows.DeallocateHWnd(second);
    const std::size_t total = ticks.size();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1600) QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    EXPECT_EQ(ticks.size(), total);
    windows.DeallocateHWnd(first);
}

}  // namespace

// The sound device comes from the engines' module, loaded at its first open:
// a real play ends as the machine allows (played, or no audio output), but
// never because the module was not there.
TEST(DesktopSound, FirstOpenLoadsTheEngineAndAPlayEndsWithANotice)
{
    const std::string file = ::testing::TempDir() + "desktop-sound-test.wav";
    {
        // 0.1 s of 8 kHz 8-bit mono silence.
        const std::uint32_t samples = 800;
        std::string wav = "RIFF";
        auto put32 = [&wav](std::uint32_t v) { for (int i = 0; i < 4; ++i) wav += char((v >> (8 * i)) & 0xff); };
        auto put16 = [&wav](std::uint16_t v) { wav += char(v & 0xff); wav += char(v >> 8); };
        put32(36 + samples);
        wav += "WAVEfmt ";
        put32(16); put16(1); put16(1); put32(8000); put32(8000); put16(1); put16(8);
        wav += "data";
        put32(samples);
        wav += std::string(samples, char(0x80));
        std::ofstream(file, std::ios::binary) << wav;
    }
    std::unique_ptr<ISoundPlayers> players = CreateDesktopSoundPlayers();
    std::unique_ptr<ISoundPlayer> player = players->Create();
    EXPECT_EQ(player->Mode(), TMPModes::mpNotReady);
    EXPECT_FALSE(player->Open(file + ".missing"));
    ASSERT_TRUE(player->Open(file));
    std::vector<TMPNotifyValues> notices;
    player->OnNotify = [&notices](TMPNotifyValues v) { notices.push_back(v); };
    player->Play();
    QElapsedTimer waited;
    waited.start();
    while (notices.empty() && waited.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_EQ(notices.size(), 1u) << "no notice within 20 s";
    EXPECT_EQ(player->ErrorText().find("could not be loaded"), std::string::npos) << player->ErrorText();
    EXPECT_EQ(player->Mode(), TMPModes::mpStopped);
    player->Close();
    std::remove(file.c_str());
}
