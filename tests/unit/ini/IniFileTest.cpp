#include "components/IniFile.h"

#include <sys/stat.h>

#include "TempDir.h"
#include "components/Exceptions.h"

namespace {

class IniFile : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        ini_ = Path("ChronelGui.ini");
    }
    int IntOf(const std::string& text, int def = -7)
    {
        Put(ini_, "[Prefs]\nValue=" + text + "\n");
        return TIniFile(ini_).ReadInteger("Prefs", "Value", def);
    }
    bool BoolOf(const std::string& text, bool def)
    {
        Put(ini_, "[Form]\nFlag=" + text + "\n");
        return TIniFile(ini_).ReadBool("Form", "Flag", def);
    }
    // Runs the write and returns the exception's message, or "" when none.
    template <class F>
    static std::string FailureOf(F write)
    {
        try {
            write();
        } catch (const Exception& e) {
            return e.Message();
        }
        return "";
    }
    std::string ini_;
};

TEST_F(IniFile, IntegersParseWhollyOrYieldTheDefault)
{
    EXPECT_EQ(IntOf("0x3C"), 60);
    EXPECT_EQ(IntOf("0X3c"), 60);
    EXPECT_EQ(IntOf("0x0000000010"), 16);
    EXPECT_EQ(IntOf("0xFFFFFFFF"), -1);  // wraps like the Windows routines
    EXPECT_EQ(IntOf("0x80000000"), INT32_MIN);
    EXPECT_EQ(IntOf("42"), 42);
    EXPECT_EQ(IntOf("  42  "), 42);
    EXPECT_EQ(IntOf("-12"), -12);
    EXPECT_EQ(IntOf("+12"), 12);
    EXPECT_EQ(IntOf("007"), 7);
    EXPECT_EQ(IntOf("2147483647"), INT32_MAX);
    EXPECT_EQ(IntOf("-2147483648"), INT32_MIN);

    for (const char* bad : {"0x", "0X", "0xG", "0x12z", "0x-1", "0x100000000", "abc", "12abc", "", "-", "+",
                            "1 2", "1.5", "$3C", "-0x10", "2147483648", "-2147483649", "99999999999999999999"})
        EXPECT_EQ(IntOf(bad), -7) << "value [" << bad << "]";

    Put(ini_, "[Prefs]\n");
    EXPECT_EQ(TIniFile(ini_).ReadInteger("Prefs", "TickingSoundInterval", 60), 60);
    EXPECT_EQ(TIniFile(Path("absent.ini")).ReadInteger("Prefs", "TickingSoundInterval", 60), 60);
}

TEST_F(IniFile, BooleansAreIntegers)
{
    EXPECT_TRUE(BoolOf("2", false));
    EXPECT_TRUE(BoolOf("-1", false));
    EXPECT_TRUE(BoolOf("0x10", false));
    EXPECT_FALSE(BoolOf("0", true));
    EXPECT_TRUE(BoolOf("yes", true));  // unreadable: the default
    EXPECT_FALSE(BoolOf("yes", false));
    EXPECT_FALSE(BoolOf("true", false));
    EXPECT_TRUE(BoolOf("", true));
}

TEST_F(IniFile, WritesUseTheWindowsForms)
{
    TIniFile ini(ini_);
    ini.WriteInteger("Form", "Top", -12);
    ini.WriteBool("Form", "MinimizeOnClose", true);
    ini.WriteBool("Form", "UseTransparency", false);
    ini.WriteString("Prefs", "BaseURL", "http://localhost/");
    ini.WriteInteger("Prefs", "HotKeyStartStop", 32960);
    EXPECT_EQ(Get(ini_),
              "[Form]\nTop=-12\nMinimizeOnClose=1\nUseTransparency=0\n"
              "[Prefs]\nBaseURL=http://localhost/\nHotKeyStartStop=32960\n");
    EXPECT_EQ(ini.ReadInteger("Form", "Top", 0), -12);
    EXPECT_EQ(ini.ReadString("Prefs", "Username", "none"), "none");
}

TEST_F(IniFile, FailedWriteThrowsWithThePathAndKeepsTheFile)
{
    const std::string old = "[Form]\nTop=1\n";
    Put(ini_, old);

    ASSERT_EQ(::chmod(ini_.c_str(), 0444), 0);
    EXPECT_EQ(FailureOf([&] { TIniFile(ini_).WriteInteger("Form", "Top", 2); }), "Unable to write to " + ini_);
    EXPECT_EQ(Get(ini_), old);
    ASSERT_EQ(::chmod(ini_.c_str(), 0600), 0);

    // A new file in a read-only folder cannot be made.
    const std::string fresh = Path("fresh.ini");
    ASSERT_EQ(::chmod(dir_.c_str(), 0555), 0);
    EXPECT_EQ(FailureOf([&] { TIniFile(fresh).WriteBool("Form", "MinimizeOnClose", true); }),
              "Unable to write to " + fresh);
    ASSERT_EQ(::chmod(dir_.c_str(), 0700), 0);
    EXPECT_EQ(Get(ini_), old);

    const std::string nowhere = Path("gone/ChronelGui.ini");
    EXPECT_EQ(FailureOf([&] { TIniFile(nowhere).WriteString("Prefs", "Username", "ann"); }),
              "Unable to write to " + nowhere);

    EXPECT_EQ(FailureOf([&] { TIniFile(ini_).WriteInteger("Form", "Top", 3); }), "");
    EXPECT_EQ(Get(ini_), "[Form]\nTop=3\n");
}

}  // namespace
