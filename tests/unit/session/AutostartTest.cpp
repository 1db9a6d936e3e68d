// The XDG autostart entries and the command they run.
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

bool Exists(const std::string& path)
{
    return QFile::exists(QString::fromStdString(path));
}

class Autostart : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const std::string& program : {exe(), copy()}) {
            Write(program, "");
            QFile::setPermissions(QString::fromStdString(program), QFile::ReadOwner | QFile::ExeOwner);
        }
    }
    XdgAutostart Make(std::vector<std::string> command) const
    {
        return XdgAutostart("chronel-timer", home(), {system()}, std::move(command));
    }
    std::string home() const { return dir.path().toStdString() + "/home"; }
    std::string system() const { return dir.path().toStdString() + "/xdg"; }
    std::string exe() const { return dir.path().toStdString() + "/bin/ChronelGui"; }
    std::string copy() const { return dir.path().toStdString() + "/opt/ChronelGui"; }
    std::string ini(const std::string& name) const { return dir.path().toStdString() + "/" + name; }
    std::string entry(const std::string& name) const { return home() + "/autostart/" + name; }
    QTemporaryDir dir;
};

TEST_F(Autostart, TickWritesTheEntryUntickRemovesIt)
{
    XdgAutostart a = Make({exe(), "--hidden"});
    EXPECT_EQ(a.EntryPath().rfind(home() + "/autostart/chronel-timer-", 0), 0u) << a.EntryPath();
    EXPECT_FALSE(a.Enabled());
    ASSERT_TRUE(a.SetEnabled(true));  // the folder is created
    EXPECT_TRUE(a.Enabled());
    const std::string text = Read(a.EntryPath());
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=" + exe() + " --hidden\n"), std::string::npos);
    // A session skips the entry once the program is gone.
    EXPECT_NE(text.find("\nTryExec=" + exe() + "\n"), std::string::npos);
    ASSERT_TRUE(a.SetEnabled(false));
    EXPECT_FALSE(Exists(a.EntryPath()));
    EXPECT_FALSE(a.Enabled());
    EXPECT_TRUE(a.SetEnabled(false));  // nothing to remove is no failure
}

// Each program and settings file has an entry of its own; one counts only
// where its command starts this program with this settings file, however
// it is spelled, and only such entries are ever removed.
TEST_F(Autostart, OnlyEntriesOfThisProgramAndSettingsFileCount)
{
    XdgAutostart a = Make({exe(), "--hidden", "--settings", ini("a.ini")});
    XdgAutostart b = Make({exe(), "--hidden", "--settings", ini("b.ini")});
    XdgAutostart other = Make({copy(), "--hidden", "--settings", ini("a.ini")});
    EXPECT_NE(a.EntryPath(), b.EntryPath());
    EXPECT_NE(a.EntryPath(), other.EntryPath());

    ASSERT_TRUE(a.SetEnabled(true));
    const std::string aText = Read(a.EntryPath());
    EXPECT_FALSE(b.Enabled());
    EXPECT_FALSE(other.Enabled());  // another copy's program

    // Entries written elsewhere: by name on the PATH, another spelling of
    // b's file, and one switched off in the desktop's own way.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFileInfo(QString::fromStdString(exe())).absolutePath().toUtf8() + ":" + path);
    const std::string forB = "[Desktop Entry]\nExec=ChronelGui --settings=" + ini("x/../b.ini") + "\n";
    Write(entry("chronel-timer.desktop"), forB);
    const std::string off = "[Desktop Entry]\nExec=" + copy() + " --settings " + ini("b.ini") +
                            "\nX-GNOME-Autostart-enabled=false\n";
    Write(entry("chronel-timer-old.desktop"), off);
    EXPECT_TRUE(b.Enabled());
    EXPECT_FALSE(Make({copy(), "--settings", ini("b.ini")}).Enabled());

    // Unticking removes one's own entries only.
    ASSERT_TRUE(b.SetEnabled(false));
    EXPECT_FALSE(Exists(entry("chronel-timer.desktop")));
    EXPECT_EQ(Read(a.EntryPath()), aText);
    EXPECT_EQ(Read(entry("chronel-timer-old.desktop")), off);
    qputenv("PATH", path);
}

TEST_F(Autostart, SystemEntryIsHiddenNotLeftToStart)
{
    Write(system() + "/autostart/chronel-timer.desktop", "[Desktop Entry]\nType=Application\nExec=" + exe() + "\n");
    XdgAutostart a = Make({exe(), "--hidden"});
    EXPECT_TRUE(a.Enabled());
    ASSERT_TRUE(a.SetEnabled(false));
    EXPECT_NE(Read(entry("chronel-timer.desktop")).find("\nHidden=true\n"), std::string::npos);
    EXPECT_FALSE(a.Enabled());
    ASSERT_TRUE(a.SetEnabled(true));
    EXPECT_TRUE(a.Enabled());

    // Another program's system entry is not shown, nor hidden.
    XdgAutostart b = Make({exe(), "--hidden", "--settings", ini("b.ini")});
    Write(system() + "/autostart/chronel-timer-sys.desktop", "[Desktop Entry]\nExec=" + copy() + "\n");
    EXPECT_FALSE(b.Enabled());
    ASSERT_TRUE(b.SetEnabled(false));
    EXPECT_FALSE(Exists(entry("chronel-timer-sys.desktop")));
}

TEST_F(Autostart, UnwritableFolderIsAFailureWithThePath)
{
    Write(home() + "/autostart", "a file where the folder should be");
    XdgAutostart a = Make({exe(), "--hidden"});
    EXPECT_FALSE(a.SetEnabled(true));
    EXPECT_EQ(a.Error(), "Unable to write to " + a.EntryPath());
    EXPECT_FALSE(a.Enabled());
}

TEST(AutostartExec, ArgumentsAreQuotedForTheExecKeyAndReadBack)
{
    EXPECT_EQ(XdgAutostart::ExecLine({"ChronelGui", "--hidden"}), "ChronelGui --hidden");
    // Reserved characters: double quotes, with ", `, $ and \ escaped, then
    // the string escape of the backslash; % is doubled.
    const std::vector<std::string> awkward{"/opt/my apps/ChronelGui", "--settings", "/h/a$b\"c\\d%e.ini"};
    EXPECT_EQ(XdgAutostart::ExecLine(awkward),
              "\"/opt/my apps/ChronelGui\" --settings \"/h/a\\\\$b\\\\\"c\\\\\\\\d%%e.ini\"");
    EXPECT_EQ(XdgAutostart::ExecLine({"x", ""}), "x \"\"");
    EXPECT_EQ(XdgAutostart::ExecWords(XdgAutostart::ExecLine(awkward)), awkward);
    const std::vector<std::string> blanks{"x", "", "a\tb"};
    EXPECT_EQ(XdgAutostart::ExecWords(XdgAutostart::ExecLine(blanks)), blanks);
    // Field codes go; broken quoting reads as nothing.
    EXPECT_EQ(XdgAutostart::ExecWords("ChronelGui  %U --hidden"), (std::vector<std::string>{"ChronelGui", "--hidden"}));
    EXPECT_TRUE(XdgAutostart::ExecWords("\"ChronelGui --hidden").empty());
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
