// The settings file in awkward places and under a killed save.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "TempDir.h"
#include "components/Exceptions.h"
#include "components/IniFile.h"
#include "platform/PrivateProfile.h"

using platform::GetPrivateProfileString;
using platform::WritePrivateProfileString;

namespace {

class SettingsFile : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        ini_ = Path("ChronelGui.ini");
    }
    std::string Why(const std::string& path, bool& ok)
    {
        std::string why;
        ok = WritePrivateProfileString("Form", "Top", "2", path, &why);
        return why;
    }
    std::vector<std::string> Entries(const std::string& dir) const
    {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string ini_;
};

TEST_F(SettingsFile, CarriageReturnAloneEndsALine)
{
    Put(ini_, "[Form]\rTop=1\rLeft=2\r\r[Prefs]\rUsername=ann\r");
    EXPECT_EQ(GetPrivateProfileString("Form", "Top", "-", ini_), "1");
    EXPECT_EQ(GetPrivateProfileString("Form", "Left", "-", ini_), "2");
    EXPECT_EQ(GetPrivateProfileString("Prefs", "Username", "-", ini_), "ann");
    // Existing lines keep their ends; added ones get CR LF.
    ASSERT_TRUE(WritePrivateProfileString("Form", "Top", "5", ini_));
    ASSERT_TRUE(WritePrivateProfileString("Prefs", "Password", "nop", ini_));
    EXPECT_EQ(Get(ini_), "[Form]\rTop=5\rLeft=2\r\r[Prefs]\rUsername=ann\rPassword=nop\r\n");
    // CR LF stays one line end, not a line and an empty one.
    Put(ini_, "[Form]\r\nTop=1\r\n");
    ASSERT_TRUE(WritePrivateProfileString("Form", "Left", "3", ini_));
    EXPECT_EQ(Get(ini_), "[Form]\r\nTop=1\r\nLeft=3\r\n");
}

TEST_F(SettingsFile, WritableFileInReadOnlyFolderIsWrittenInPlace)
{
    Put(ini_, "[Form]\nTop=1\n");
    ASSERT_EQ(::chmod(ini_.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(dir_.c_str(), 0555), 0);
    TIniFile ini(ini_);
    EXPECT_NO_THROW(ini.WriteInteger("Form", "Top", 2));
    EXPECT_NO_THROW(ini.WriteString("Prefs", "Password", "nop"));
    EXPECT_EQ(Get(ini_), "[Form]\nTop=2\n[Prefs]\nPassword=nop\n");
    EXPECT_EQ(Mode(ini_), 0600u);
    EXPECT_EQ(Entries(dir_), std::vector<std::string>{"ChronelGui.ini"});
}

// A file-size limit stands in for a full disk: an in-place save that does
// not fit fails before it changes a byte, the password line included.
TEST_F(SettingsFile, InPlaceSaveThatDoesNotFitKeepsTheOldFile)
{
    const std::string old = "[Form]\nTop=1\n[Prefs]\nUsername=ann\nPassword=nop\n";
    Put(ini_, old);
    ASSERT_EQ(::chmod(dir_.c_str(), 0555), 0);
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limit = saved;
    limit.rlim_cur = old.size();
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    EXPECT_FALSE(WritePrivateProfileString("Form", "Top", "1000", ini_));
    EXPECT_EQ(Get(ini_), old);
    // What fits is written, the rest of the old content cut off.
    EXPECT_TRUE(WritePrivateProfileString("Prefs", "Username", "al", ini_));
    const std::string shorter = "[Form]\nTop=1\n[Prefs]\nUsername=al\nPassword=nop\n";
    EXPECT_EQ(Get(ini_), shorter);
    // Below the file's size even a same-size write would stop halfway.
    limit.rlim_cur = 10;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    EXPECT_FALSE(WritePrivateProfileString("Prefs", "Username", "bo", ini_));
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_EQ(Get(ini_), shorter);
}

TEST_F(SettingsFile, LinksAreFollowedAndDanglingOnesNamed)
{
    // The link's target lies in a folder of its own: the safe write happens there.
    const std::string other = Path("elsewhere");
    ASSERT_EQ(::mkdir(other.c_str(), 0700), 0);
    const std::string real = other + "/real.ini";
    Put(real, "[Form]\nTop=1\n");
    ASSERT_EQ(::symlink(real.c_str(), ini_.c_str()), 0);
    bool ok = false;
    EXPECT_EQ(Why(ini_, ok), "");
    EXPECT_TRUE(ok);
    EXPECT_TRUE(std::filesystem::is_symlink(ini_));
    EXPECT_EQ(Get(real), "[Form]\nTop=2\n");
    EXPECT_EQ(Entries(other), std::vector<std::string>{"real.ini"});

    // A dangling link fails with a message naming both paths.
    const std::string gone = other + "/gone.ini";
    const std::string dangling = Path("dangling.ini");
    ASSERT_EQ(::symlink(gone.c_str(), dangling.c_str()), 0);
    try {
        TIniFile(dangling).WriteInteger("Form", "Top", 1);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Unable to write to " + dangling + ": it is a symbolic link to " + gone +
                                   ", which does not exist");
    }
    EXPECT_FALSE(std::filesystem::exists(gone));
}

TEST_F(SettingsFile, OversizedFileIsRefusedAndLeftAsItWas)
{
    const std::string big = "[Form]\nTop=1\n" + std::string(2 * 1024 * 1024, ';') + "\n";
    Put(ini_, big);
    TIniFile ini(ini_);
    try {
        ini.ReadInteger("Form", "Top", 0);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find(ini_), std::string::npos);
        EXPECT_NE(e.Message().find(std::to_string(big.size()) + " bytes"), std::string::npos);
    }
    EXPECT_THROW(ini.WriteInteger("Form", "Top", 2), Exception);
    EXPECT_FALSE(WritePrivateProfileString("Form", "Top", "2", ini_));
    EXPECT_EQ(GetPrivateProfileString("Form", "Top", "def", ini_), "def");
    EXPECT_EQ(Get(ini_), big);
}

TEST_F(SettingsFile, OneLoadServesEveryRead)
{
    Put(ini_, "[Form]\nTop=1\n[Prefs]\nUsername=ann\n");
    TIniFile ini(ini_);
    EXPECT_EQ(ini.ReadInteger("Form", "Top", 0), 1);
    Put(ini_, "[Form]\nTop=9\n");  // not read again...
    EXPECT_EQ(ini.ReadString("Prefs", "Username", ""), "ann");
    ini.WriteInteger("Form", "Left", 3);  // ...until this object writes
    EXPECT_EQ(ini.ReadInteger("Form", "Top", 0), 9);
    EXPECT_EQ(ini.ReadInteger("Form", "Left", 0), 3);
}

// A child saves the fifteen keys over and over; it is killed at random
// moments. Every time the file must be whole, and after the clean-up the
// next start does, nothing else may lie beside it.
TEST_F(SettingsFile, KilledSavesLeaveNoStrayFile)
{
    const char* keys[] = {"Top", "Left", "MinimizeOnClose", "UseTransparency", "RemoveFromTaskBar",
                          "BaseURL", "Username", "Password", "PlayTickingSound", "TickingSoundInterval",
                          "HotKeyStartStop", "ShowMinuteReminder", "MinuteReminderInterval",
                          "AutoStopStartOnIdleTime", "AutoStopStartOnIdleTimeMinutes"};
    {
        TIniFile ini(ini_);
        for (const char* k : keys) ini.WriteString("Prefs", k, "v0");
    }
    std::mt19937 rng(13);
    std::uniform_int_distribution<int> delayUs(0, 3000);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    int runs = 0, strays = 0;
    for (; runs < 1000 && std::chrono::steady_clock::now() < deadline; ++runs) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int round = 1;; ++round)
                for (const char* k : keys)
                    platform::WritePrivateProfileString("Prefs", k, "value " + std::to_string(round), ini_);
        }
        ::usleep(static_cast<useconds_t>(delayUs(rng)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);

        platform::ProfileFile file;
        ASSERT_EQ(file.Load(ini_), platform::ProfileStatus::Ok);
        for (const char* k : keys) ASSERT_NE(file.Get("Prefs", k, "<missing>"), "<missing>") << "run " << runs;
        strays += static_cast<int>(Entries(dir_).size()) - 1;  // named, not yet renamed
        platform::RemoveStaleProfileTemps(ini_);
        ASSERT_EQ(Entries(dir_), std::vector<std::string>{"ChronelGui.ini"}) << "run " << runs;
    }
    std::printf("killed %d saves; %d left a named copy for the clean-up\n", runs, strays);
}

}  // namespace
