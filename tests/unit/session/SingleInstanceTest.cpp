// One instance per settings file without a session bus: the lock file and
// the local socket; and the key a settings file is known by.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <future>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/desktop/DesktopSingleInstance.h"

namespace {

// Claims in another thread while this one serves the owner's socket;
// untilDone is polled meanwhile until it returns true (it may end the owner).
ISingleInstance::Claim ClaimElsewhere(const std::string& path, bool& raised, bool show = true,
                                      const std::function<bool()>& untilDone = {})
{
    auto claim = std::async(std::launch::async, [=] {
        DesktopSingleInstance later(false);
        return later.ClaimSettingsFile(path, show);
    });
    bool done = !untilDone;
    QElapsedTimer t;
    t.start();
    while (claim.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready && t.elapsed() < 60000) {
        QCoreApplication::processEvents();
        if (!done) done = untilDone();
    }
    // The owner raises its window on the next turn of the loop.
    for (int i = 0; i < 20 && !raised; ++i) QCoreApplication::processEvents();
    return claim.get();
}

TEST(SingleInstanceLock, SecondClaimRaisesTheFirstAndAnotherFileIsFree)
{
    QTemporaryDir dir;
    const std::string ini = dir.path().toStdString() + "/ChronelGui.ini";
    DesktopSingleInstance first(false);
    bool raised = false;
    first.OnRaise = [&] { raised = true; };
    ASSERT_EQ(first.ClaimSettingsFile(ini, true), ISingleInstance::Claim::First);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(ini + ".lock")));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(ini)));  // the settings file is not touched

    EXPECT_EQ(ClaimElsewhere(ini, raised), ISingleInstance::Claim::Running);
    EXPECT_TRUE(raised);
    // The same file by another spelling is the same instance.
    raised = false;
    EXPECT_EQ(ClaimElsewhere(dir.path().toStdString() + "/./sub/../ChronelGui.ini", raised),
              ISingleInstance::Claim::Running);
    // A start into the tray leaves the window as it is.
    raised = false;
    EXPECT_EQ(ClaimElsewhere(ini, raised, false), ISingleInstance::Claim::Running);
    EXPECT_FALSE(raised);

    DesktopSingleInstance other(false);
    EXPECT_EQ(other.ClaimSettingsFile(dir.path().toStdString() + "/other.ini", true), ISingleInstance::Claim::First);
}

// An owner on its way out refuses; the later start waits for it to end and
// then owns the file.
TEST(SingleInstanceLock, LaterStartWaitsForAClosingOwner)
{
    QTemporaryDir dir;
    const std::string ini = dir.path().toStdString() + "/ChronelGui.ini";
    auto first = std::make_unique<DesktopSingleInstance>(false);
    bool raised = false;
    int asked = 0;
    first->OnRaise = [&] { raised = true; };
    first->Closing = [&] { return ++asked, true; };
    ASSERT_EQ(first->ClaimSettingsFile(ini, true), ISingleInstance::Claim::First);
    // Ended once it has refused twice: the later start kept asking.
    EXPECT_EQ(ClaimElsewhere(ini, raised, true, [&] { return asked >= 2 && (first.reset(), true); }),
              ISingleInstance::Claim::First);
    EXPECT_FALSE(raised);

    // Once its event loop has ended it answers no more; one that never ends is given up on.
    first = std::make_unique<DesktopSingleInstance>(false);
    ASSERT_EQ(first->ClaimSettingsFile(ini, true), ISingleInstance::Claim::First);
    first->StopAnswering();
    DesktopSingleInstance later(false, 300);
    EXPECT_EQ(later.ClaimSettingsFile(ini, true), ISingleInstance::Claim::Failed);
    EXPECT_NE(later.Error().find("is still closing after"), std::string::npos) << later.Error();
}

// A lock left by a crash is taken over when its process does not run here
// as this program, whatever machine it names: its number unused, or now
// another program's.
TEST(SingleInstanceLock, LockOfAnOwnerNotRunningHereIsTakenOver)
{
    QTemporaryDir dir;
    const std::string ini = dir.path().toStdString() + "/ChronelGui.ini";
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);
    for (const qint64 pid : {qint64(child), qint64(::getppid())}) {
        QFile lock(QString::fromStdString(ini + ".lock"));
        ASSERT_TRUE(lock.open(QIODevice::WriteOnly | QIODevice::Truncate));
        lock.write(QByteArray::number(pid) + "\nChronelGui\n" + QSysInfo::machineHostName().toUtf8() +
                   "\n0123456789abcdef0123456789abcdef\n" + QSysInfo::bootUniqueId() + "\n");
        lock.close();
        DesktopSingleInstance next(false, 2000);
        EXPECT_EQ(next.ClaimSettingsFile(ini, true), ISingleInstance::Claim::First) << pid << ": " << next.Error();
    }
}

TEST(SingleInstanceLock, TheLockGoesWithItsOwner)
{
    QTemporaryDir dir;
    const std::string ini = dir.path().toStdString() + "/ChronelGui.ini";
    {
        DesktopSingleInstance first(false);
        ASSERT_EQ(first.ClaimSettingsFile(ini, true), ISingleInstance::Claim::First);
    }
    DesktopSingleInstance next(false);
    EXPECT_EQ(next.ClaimSettingsFile(ini, true), ISingleInstance::Claim::First);
}

TEST(SingleInstanceKey, OneBusNamePerFileValidOnTheBus)
{
    QTemporaryDir dir;
    const std::string a = dir.path().toStdString() + "/a.ini";
    QDir(dir.path()).mkdir("sub");
    EXPECT_EQ(DesktopSingleInstance::BusName(a), DesktopSingleInstance::BusName(dir.path().toStdString() + "/sub/../a.ini"));
    EXPECT_NE(DesktopSingleInstance::BusName(a), DesktopSingleInstance::BusName(dir.path().toStdString() + "/b.ini"));
    // Elements of letters, digits and "_", none starting with a digit.
    EXPECT_TRUE(std::regex_match(DesktopSingleInstance::BusName(a), std::regex("([A-Za-z_][A-Za-z0-9_]*\\.)+[A-Za-z_][A-Za-z0-9_]*")));
    // A symbolic link to the file is the file.
    QFile(QString::fromStdString(a)).open(QIODevice::WriteOnly);
    QFile::link(QString::fromStdString(a), dir.path() + "/link.ini");
    EXPECT_EQ(DesktopSingleInstance::InstanceKey(dir.path().toStdString() + "/link.ini"),
              DesktopSingleInstance::InstanceKey(a));
}

}  // namespace
