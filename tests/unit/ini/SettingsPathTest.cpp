#include "components/SettingsPath.h"

#include <sys/stat.h>

#include "TempDir.h"

namespace {

using SettingsPath = TempDirTest;

TEST_F(SettingsPath, BesideAWritableExecutable)
{
    EXPECT_EQ(SettingsFilePathFor(Path("ChronelGui.exe"), "/cfg", "/home/u"), Path("ChronelGui.ini"));
    EXPECT_EQ(SettingsFilePathFor(Path("ChronelGui"), "/cfg", "/home/u"), Path("ChronelGui.ini"));
    EXPECT_EQ(SettingsFilePathFor(Path("Chronel.Gui.exe"), "/cfg", "/home/u"), Path("Chronel.Gui.ini"));
    EXPECT_EQ(SettingsFilePathFor(Path("ChronelGui."), "/cfg", "/home/u"), Path("ChronelGui.ini"));

    // Dots in folder names are not extensions.
    ASSERT_EQ(::mkdir(Path("app.v2").c_str(), 0700), 0);
    EXPECT_EQ(SettingsFilePathFor(Path("app.v2/ChronelGui"), "/cfg", "/home/u"), Path("app.v2/ChronelGui.ini"));
}

TEST_F(SettingsPath, PerUserFolderWhenTheExecutablesFolderIsReadOnly)
{
    const std::string bin = Path("bin");
    ASSERT_EQ(::mkdir(bin.c_str(), 0700), 0);
    Put(bin + "/ChronelGui.ini", "[Form]\n");
    ASSERT_EQ(::chmod(bin.c_str(), 0555), 0);

    // An existing file beside it is still the one used.
    EXPECT_EQ(SettingsFilePathFor(bin + "/ChronelGui", "/cfg", "/home/u"), bin + "/ChronelGui.ini");
    // Another name has none there.
    EXPECT_EQ(SettingsFilePathFor(bin + "/ChronelGui.v2.bin", "/cfg", "/home/u"),
              "/cfg/chronel-timer/ChronelGui.v2.ini");
    EXPECT_EQ(SettingsFilePathFor("/nonexistent.d/ChronelGui", "", "/home/u"),
              "/home/u/.config/chronel-timer/ChronelGui.ini");
    EXPECT_EQ(SettingsFilePathFor("/nonexistent.d/ChronelGui", "relative/cfg", "/home/u"),
              "/home/u/.config/chronel-timer/ChronelGui.ini");
    // Nowhere better to go: beside the executable, where the save reports the failure.
    EXPECT_EQ(SettingsFilePathFor("/nonexistent.d/ChronelGui", "", ""), "/nonexistent.d/ChronelGui.ini");
    // No executable path at all.
    EXPECT_EQ(SettingsFilePathFor("", "/cfg", "/home/u"), "/cfg/chronel-timer/ChronelGui.ini");
    // Installed in the system's folders: per user even for the superuser, who could write there.
    EXPECT_EQ(SettingsFilePathFor("/usr/bin/ChronelGui-no-such-test", "/cfg", "/home/u"),
              "/cfg/chronel-timer/ChronelGui-no-such-test.ini");
    EXPECT_EQ(SettingsFilePathFor("/usr/local/bin/ChronelGui-no-such-test", "", "/home/u"),
              "/home/u/.config/chronel-timer/ChronelGui-no-such-test.ini");
}

TEST_F(SettingsPath, FolderIsCreatedPrivate)
{
    const std::string ini = Path("cfg/chronel-timer/ChronelGui.ini");
    ASSERT_TRUE(EnsureSettingsFolder(ini));
    EXPECT_EQ(Mode(Path("cfg/chronel-timer")), 0700u);
    EXPECT_TRUE(EnsureSettingsFolder(ini));  // already there
    Put(Path("file"), "x");
    EXPECT_FALSE(EnsureSettingsFolder(Path("file/sub/ChronelGui.ini")));
}

}  // namespace
