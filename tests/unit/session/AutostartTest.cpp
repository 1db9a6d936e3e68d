// The XDG autostart entry and the command it runs.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "platform/desktop/XdgAutostart.h"

namespace {

std::string Read(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll().toStdString();
}

void Write(const std::string& path, const std::string& text)
{
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.c_str());
}

class Autostart : public ::testing::Test {
protected:
    XdgAutostart Make() { return XdgAutostart("chronel-timer", home(), {system()}, {"ChronelGui", "--hidden"}); }
    std::string home() const { return dir.path().toStdString() + "/home"; }
    std::string system() const { return dir.path().toStdString() + "/xdg"; }
    QTemporaryDir dir;
};

TEST_F(Autostart, TickWritesTheEntryUntickRemovesIt)
{
    XdgAutostart a = Make();
    EXPECT_EQ(a.EntryPath(), home() + "/autostart/chronel-timer.desktop");
    EXPECT_FALSE(a.Enabled());
    ASSERT_TRUE(a.SetEnabled(true));  // the folder is created
    EXPECT_TRUE(a.Enabled());
    const std::string text = Read(a.EntryPath());
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=ChronelGui --hidden\n"), std::string::npos);
    ASSERT_TRUE(a.SetEnabled(false));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(a.EntryPath())));
    EXPECT_FALSE(a.Enabled());
    EXPECT_TRUE(a.SetEnabled(false));  // nothing to remove is no failure
}

TEST_F(Autostart, SystemEntryIsHiddenNotLeftToStart)
{
    Write(system() + "/autostart/chronel-timer.desktop", "[Desktop Entry]\nType=Application\nExec=ChronelGui\n");
    XdgAutostart a = Make();
    EXPECT_TRUE(a.Enabled());
    ASSERT_TRUE(a.SetEnabled(false));
    EXPECT_NE(Read(a.EntryPath()).find("\nHidden=true\n"), std::string::npos);
    EXPECT_FALSE(a.Enabled());
    ASSERT_TRUE(a.SetEnabled(true));
    EXPECT_TRUE(a.Enabled());
}

TEST_F(Autostart, UnwritableFolderIsAFailureWithThePath)
{
    Write(home() + "/autostart", "a file where the folder should be");
    XdgAutostart a = Make();
    EXPECT_FALSE(a.SetEnabled(true));
    EXPECT_EQ(a.Error(), "Unable to write to " + a.EntryPath());
    EXPECT_FALSE(a.Enabled());
}

TEST(AutostartExec, ArgumentsAreQuotedForTheExecKey)
{
    EXPECT_EQ(XdgAutostart::ExecLine({"ChronelGui", "--hidden"}), "ChronelGui --hidden");
    // Reserved characters: double quotes, with ", `, $ and \ escaped, then
    // the string escape of the backslash; % is doubled.
    EXPECT_EQ(XdgAutostart::ExecLine({"/opt/my apps/ChronelGui", "--settings", "/h/a$b\"c\\d%e.ini"}),
              "\"/opt/my apps/ChronelGui\" --settings \"/h/a\\\\$b\\\\\"c\\\\\\\\d%%e.ini\"");
    EXPECT_EQ(XdgAutostart::ExecLine({"x", ""}), "x \"\"");
}

TEST(AutostartExec, InstalledProgramByNameOtherwiseByPath)
{
    QTemporaryDir dir;
    const std::string exe = dir.path().toStdString() + "/ChronelGui";
    Write(exe, "");
    const std::string other = dir.path().toStdString() + "/other/ChronelGui";
    Write(other, "");
    using V = std::vector<std::string>;
    EXPECT_EQ(AutostartCommand(exe, exe, ""), (V{"ChronelGui", "--hidden"}));
    EXPECT_EQ(AutostartCommand(exe, other, ""), (V{exe, "--hidden"}));
    EXPECT_EQ(AutostartCommand(exe, "", "/s/x.ini"), (V{exe, "--hidden", "--settings", "/s/x.ini"}));
}

}  // namespace
