// One instance per settings file without a session bus: the lock file and
// the local socket; and the key a settings file is known by.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <future>
#include <regex>
#include <sys/stat.h>
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

// Without a session bus the socket lives where only this user can reach it:
// a socket another user put at a guessable shared name answers no later
// start, and a socket that cannot be made is said, not a silent second start.
TEST(SingleInstanceLock, TheSocketIsThisUsersOwn)
{
    const QByteArray savedBus = qgetenv("DBUS_SESSION_BUS_ADDRESS"), savedRuntime = qgetenv("XDG_RUNTIME_DIR"),
                     savedTmp = qgetenv("TMPDIR");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QTemporaryDir dir, runtime, tmp;
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    const std::string ini = dir.path().toStdString() + "/ChronelGui.ini";
    const QString digest = QString::fromStdString(DesktopSingleInstance::KeyDigest(DesktopSingleInstance::InstanceKey(ini)));

    QLocalServer squatter;
    {
        DesktopSingleInstance first(false);
        bool raised = false;
        first.OnRaise = [&] { raised = true; };
        ASSERT_EQ(first.ClaimSettingsFile(ini, true), ISingleInstance::Claim::First);
        // A squatter on the name all users could guess, answering "running".
        const QString shared = tmp.path() + QStringLiteral("/chronel-timer-%1-%2").arg(::getuid()).arg(digest);
        QLocalServer::removeServer(shared);
        ASSERT_TRUE(squatter.listen(shared)) << squatter.errorString().toStdString();
        QObject::connect(&squatter, &QLocalServer::newConnection, [&] {
            while (QLocalSocket* peer = squatter.nextPendingConnection()) peer->write("ok\n"), peer->flush();
        });
        EXPECT_EQ(QFileInfo(QString::fromStdString(first.SocketPath())).absolutePath(), runtime.path());
        EXPECT_EQ(ClaimElsewhere(ini, raised), ISingleInstance::Claim::Running);
        EXPECT_TRUE(raised) << "the later start was answered by someone else";
    }

    // A runtime folder others may enter is not used: a private one in the
    // temporary folder is made instead.
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0755);
    const QString own = tmp.path() + QStringLiteral("/chronel-timer-%1").arg(::getuid());
    {
        DesktopSingleInstance first(false);
        ASSERT_EQ(first.ClaimSettingsFile(ini, true), ISingleInstance::Claim::First);
        EXPECT_EQ(QFileInfo(QString::fromStdString(first.SocketPath())).absolutePath(), own);
        struct stat st {};
        ASSERT_EQ(::lstat(QFile::encodeName(own).constData(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode) && (st.st_mode & 0777) == 0700 && st.st_uid == ::getuid()) << std::oct << st.st_mode;
    }

    // That folder opened to others (as one made by another user would be):
    // the first start says it cannot be found and runs; a later one says why
    // it cannot ask the first and ends.
    ::chmod(QFile::encodeName(own).constData(), 0755);
    {
        DesktopSingleInstance first(false);
        testing::internal::CaptureStderr();
        ASSERT_EQ(first.ClaimSettingsFile(ini, true), ISingleInstance::Claim::First);
        EXPECT_NE(testing::internal::GetCapturedStderr().find("no private folder for the one-instance socket"),
                  std::string::npos);
        EXPECT_EQ(first.SocketPath(), "");
        DesktopSingleInstance later(false, 300);
        EXPECT_EQ(later.ClaimSettingsFile(ini, true), ISingleInstance::Claim::Failed);
        EXPECT_NE(later.Error().find("is not this user's own private folder"), std::string::npos) << later.Error();
    }

    // A socket that cannot be made (something else in its place) is said.
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
    ASSERT_TRUE(QDir(runtime.path()).mkdir(QStringLiteral("chronel-timer-") + digest));
    {
        DesktopSingleInstance first(false);
        testing::internal::CaptureStderr();
        EXPECT_EQ(first.ClaimSettingsFile(ini, true), ISingleInstance::Claim::First);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("cannot listen on " + runtime.path().toStdString()), std::string::npos) << said;
        EXPECT_EQ(first.SocketPath(), "");
    }

    qputenv("DBUS_SESSION_BUS_ADDRESS", savedBus);
    qputenv("XDG_RUNTIME_DIR", savedRuntime);
    qputenv("TMPDIR", savedTmp);
    if (savedBus.isNull()) qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    if (savedRuntime.isNull()) qunsetenv("XDG_RUNTIME_DIR");
    if (savedTmp.isNull()) qunsetenv("TMPDIR");
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
