// One instance per settings file without a session bus: the lock file and
// the local socket; and the key a settings file is known by.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <future>
#include <regex>

#include "platform/desktop/DesktopSingleInstance.h"

namespace {

// Claims in another thread while this one serves the owner's socket.
ISingleInstance::Claim ClaimElsewhere(const std::string& path, bool& raised)
{
    auto claim = std::async(std::launch::async, [path] {
        DesktopSingleInstance later(false);
        return later.ClaimSettingsFile(path);
    });
    QElapsedTimer t;
    t.start();
    while (claim.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready && t.elapsed() < 30000)
        QCoreApplication::processEvents();
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
    ASSERT_EQ(first.ClaimSettingsFile(ini), ISingleInstance::Claim::First);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(ini + ".lock")));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(ini)));  // the settings file is not touched

    EXPECT_EQ(ClaimElsewhere(ini, raised), ISingleInstance::Claim::Raised);
    EXPECT_TRUE(raised);
    // The same file by another spelling is the same instance.
    raised = false;
    EXPECT_EQ(ClaimElsewhere(dir.path().toStdString() + "/./sub/../ChronelGui.ini", raised),
              ISingleInstance::Claim::Raised);

    DesktopSingleInstance other(false);
    EXPECT_EQ(other.ClaimSettingsFile(dir.path().toStdString() + "/other.ini"), ISingleInstance::Claim::First);
}

TEST(SingleInstanceLock, TheLockGoesWithItsOwner)
{
    QTemporaryDir dir;
    const std::string ini = dir.path().toStdString() + "/ChronelGui.ini";
    {
        DesktopSingleInstance first(false);
        ASSERT_EQ(first.ClaimSettingsFile(ini), ISingleInstance::Claim::First);
    }
    DesktopSingleInstance next(false);
    EXPECT_EQ(next.ClaimSettingsFile(ini), ISingleInstance::Claim::First);
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
