#include "platform/PrivateProfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "TempDir.h"

using platform::GetPrivateProfileString;
using platform::WritePrivateProfileString;

namespace {

class PrivateProfile : public TempDirTest {
protected:
    std::string Read(const std::string& section, const std::string& key, const std::string& def = "<none>")
    {
        return GetPrivateProfileString(section, key, def, ini_);
    }
    bool Write(const std::string& section, const std::string& key, const std::string& value)
    {
        return WritePrivateProfileString(section, key, value, ini_);
    }
    int FilesInDir() const
    {
        int n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_)) ++n;
        return n;
    }
    void SetUp() override
    {
        TempDirTest::SetUp();
        ini_ = Path("ChronelGui.ini");
    }
    std::string ini_;
};

TEST_F(PrivateProfile, FirstWritesKeepTheirOrderWithinEachSection)
{
    ASSERT_TRUE(Write("Form", "Top", "10"));
    ASSERT_TRUE(Write("Prefs", "BaseURL", "http://localhost/"));
    ASSERT_TRUE(Write("Form", "Left", "20"));  // back to the first section
    ASSERT_TRUE(Write("Prefs", "Username", "ann"));
    EXPECT_EQ(Get(ini_), "[Form]\nTop=10\nLeft=20\n[Prefs]\nBaseURL=http://localhost/\nUsername=ann\n");

    // A new key goes after the section's last filled line, before the blank
    // lines that separate it from the next section.
    Put(ini_, "[Form]\nTop=1\n; placement\n\n\n[Prefs]\nA=1\n");
    ASSERT_TRUE(Write("Form", "Left", "2"));
    EXPECT_EQ(Get(ini_), "[Form]\nTop=1\n; placement\nLeft=2\n\n\n[Prefs]\nA=1\n");
}

TEST_F(PrivateProfile, UpdateReplacesOnlyItsOwnLine)
{
    const std::string before =
        "; written by hand\n"
        "stray=before any section\n"
        "[Form]\n"
        "  Top = 5   \n"
        "Colour=blue\n"
        "this line is nonsense\n"
        "\n"
        "[Prefs]\n"
        "# another comment\n"
        "Password=nop\n";
    Put(ini_, before);
    ASSERT_TRUE(Write("Form", "Top", "77"));
    std::string expected = before;
    expected.replace(expected.find("  Top = 5   "), 12, "Top=77");
    EXPECT_EQ(Get(ini_), expected);
    EXPECT_EQ(Read("Form", "Colour"), "blue");
    EXPECT_EQ(Read("Prefs", "Password"), "nop");
}

TEST_F(PrivateProfile, NamesMatchWithoutRegardToCase)
{
    Put(ini_, "[form]\ntop=5\n");
    EXPECT_EQ(Read("FORM", "Top"), "5");
    ASSERT_TRUE(Write("Form", "TOP", "6"));
    EXPECT_EQ(Get(ini_), "[form]\nTOP=6\n");  // no second section, no second key
}

TEST_F(PrivateProfile, ReadingRules)
{
    Put(ini_,
        "Top=0\n"                 // before any section: belongs to none
        "[Form\n"                 // no closing bracket: not a section
        "Top=1\n"
        "[ Form ] trailing\n"
        "Top = 2 \n"
        "Top=3\n"                 // first key wins
        "=orphan\n"
        "Url = a=b=c\n"
        "Quoted=\"  spaced  \"\n"
        "Single='x'\n"
        "Lone=\"x\n"
        "Mixed=\"x'\n"
        "Empty=\n"
        "[Form]\n"
        "Left=9\n");              // second section of the same name is not read
    EXPECT_EQ(Read("Form", "Top"), "2");
    EXPECT_EQ(Read("Form", "Url"), "a=b=c");
    EXPECT_EQ(Read("Form", "Quoted"), "  spaced  ");
    EXPECT_EQ(Read("Form", "Single"), "x");
    EXPECT_EQ(Read("Form", "Lone"), "\"x");
    EXPECT_EQ(Read("Form", "Mixed"), "\"x'");
    EXPECT_EQ(Read("Form", "Empty"), "");
    EXPECT_EQ(Read("Form", "Left"), "<none>");
    EXPECT_EQ(Read("Form", ""), "<none>");
    EXPECT_EQ(Read("Prefs", "Top"), "<none>");
    EXPECT_EQ(GetPrivateProfileString("Form", "Top", "dflt", Path("missing.ini")), "dflt");
}

TEST_F(PrivateProfile, ResultsAreCutTo2047Bytes)
{
    const std::string longValue(5000, 'v');
    ASSERT_TRUE(Write("Prefs", "Long", longValue));
    EXPECT_EQ(Get(ini_), "[Prefs]\nLong=" + longValue + "\n");  // stored whole
    EXPECT_EQ(Read("Prefs", "Long"), std::string(2047, 'v'));
    EXPECT_EQ(Read("Prefs", "Missing", std::string(3000, 'd')), std::string(2047, 'd'));

    // A two-byte character across the limit is dropped whole, not split.
    ASSERT_TRUE(Write("Prefs", "Long", std::string(2046, 'a') + "\xC3\xA9" + "tail"));
    EXPECT_EQ(Read("Prefs", "Long"), std::string(2046, 'a'));
    ASSERT_TRUE(Write("Prefs", "Long", std::string(2045, 'a') + "\xC3\xA9" + "tail"));
    EXPECT_EQ(Read("Prefs", "Long"), std::string(2045, 'a') + "\xC3\xA9");
}

TEST_F(PrivateProfile, AwkwardValuesComeBackAsWritten)
{
    for (const std::string v : {" lead", "trail\t", "\"quoted\"", "'q'", "\"", "a \"b\" c", ""}) {
        ASSERT_TRUE(Write("Prefs", "Password", v));
        EXPECT_EQ(Read("Prefs", "Password"), v) << "value [" << v << "]";
    }
    // One value is one line: a line break cannot smuggle in another key.
    ASSERT_TRUE(Write("Prefs", "Username", "ann\nPassword=evil\r\n"));
    EXPECT_EQ(Read("Prefs", "Username"), "ann Password=evil  ");
    EXPECT_EQ(Read("Prefs", "Password"), "");
    ASSERT_TRUE(Write("Prefs", "Username", std::string("ann\0bob", 7)));
    EXPECT_EQ(Read("Prefs", "Username"), "ann");
}

TEST_F(PrivateProfile, NamesThatCannotBeReadBackAreRefused)
{
    EXPECT_FALSE(Write("", "Top", "1"));
    EXPECT_FALSE(Write("  ", "Top", "1"));
    EXPECT_FALSE(Write("Fo]rm", "Top", "1"));
    EXPECT_FALSE(Write("Form\n[Evil", "Top", "1"));
    EXPECT_FALSE(Write("Form", "", "1"));
    EXPECT_FALSE(Write("Form", "To=p", "1"));
    EXPECT_FALSE(Write("Form", "[Top", "1"));
    EXPECT_FALSE(Write("Form", "To\np", "1"));
    EXPECT_FALSE(WritePrivateProfileString("Form", "Top", "1", ""));
    EXPECT_EQ(FilesInDir(), 0);
}

TEST_F(PrivateProfile, ForeignFilesLoadAndKeepTheirBytes)
{
    // BOM, CRLF, no final line end: the first section stays readable and
    // the rewrite keeps all three.
    Put(ini_, "\xEF\xBB\xBF[Form]\r\nTop=1\r\n[Prefs]\r\nA=x");
    EXPECT_EQ(Read("Form", "Top"), "1");
    EXPECT_EQ(Read("Prefs", "A"), "x");
    ASSERT_TRUE(Write("Form", "Left", "2"));
    ASSERT_TRUE(Write("Prefs", "A", "y"));
    EXPECT_EQ(Get(ini_), "\xEF\xBB\xBF[Form]\r\nTop=1\r\nLeft=2\r\n[Prefs]\r\nA=y");
    ASSERT_TRUE(Write("Prefs", "B", "z"));
    EXPECT_EQ(Get(ini_), "\xEF\xBB\xBF[Form]\r\nTop=1\r\nLeft=2\r\n[Prefs]\r\nA=y\r\nB=z\r\n");

    // No sections at all, no final line end.
    Put(ini_, "just some text");
    EXPECT_EQ(Read("Form", "Top"), "<none>");
    ASSERT_TRUE(Write("Form", "Top", "3"));
    EXPECT_EQ(Get(ini_), "just some text\n[Form]\nTop=3\n");

    // Every byte value, NULs in names and values, and a 100 KB value.
    std::string binary;
    for (int c = 0; c < 256; ++c)
        if (c != '\n') binary += static_cast<char>(c);
    const std::string big(100 * 1024, 'B');
    const std::string foreign = "[Form]\n" + binary + "\n" + std::string("Nul=a\0b", 7) + "\nBig=" + big +
                                "\n" + std::string("Ke\0y=v\n", 7) + "Top=4\n";
    Put(ini_, foreign);
    EXPECT_EQ(Read("Form", "Top"), "4");
    EXPECT_EQ(Read("Form", "Nul"), "a");
    EXPECT_EQ(Read("Form", "Big"), std::string(2047, 'B'));
    ASSERT_TRUE(Write("Form", "Top", "5"));
    std::string expected = foreign;
    expected.replace(expected.rfind("Top=4"), 5, "Top=5");
    EXPECT_EQ(Get(ini_), expected);
}

TEST_F(PrivateProfile, FileIsReplacedWholeWithAGuardedMode)
{
    const mode_t oldMask = ::umask(0);  // the mode must not depend on the umask
    ASSERT_TRUE(Write("Prefs", "Password", "nop"));
    ::umask(oldMask);
    EXPECT_EQ(Mode(ini_), 0600u);
    EXPECT_EQ(FilesInDir(), 1);  // no temporary file left beside it

    // A rewrite keeps the mode of a file without a password...
    Put(ini_, "[Form]\nTop=1\n");
    ASSERT_EQ(::chmod(ini_.c_str(), 0644), 0);
    ASSERT_TRUE(Write("Form", "Top", "2"));
    EXPECT_EQ(Mode(ini_), 0644u);
    // ...and takes group and others' access once it holds one.
    ASSERT_TRUE(Write("Prefs", "Password", "abc"));
    EXPECT_EQ(Mode(ini_), 0600u);
    ASSERT_EQ(::chmod(ini_.c_str(), 0764), 0);  // the owner's own bits stay as they are
    ASSERT_TRUE(Write("Form", "Top", "3"));
    EXPECT_EQ(Mode(ini_), 0700u);
    EXPECT_EQ(FilesInDir(), 1);
    EXPECT_EQ(Get(ini_), "[Form]\nTop=3\n[Prefs]\nPassword=abc\n");
}

TEST_F(PrivateProfile, UnwritableTargetsFailAndKeepTheOldFile)
{
    const std::string old = "[Form]\nTop=1\n";

    // Read-only file: refused even for the superuser.
    Put(ini_, old);
    ASSERT_EQ(::chmod(ini_.c_str(), 0444), 0);
    EXPECT_FALSE(Write("Form", "Top", "2"));
    EXPECT_EQ(Get(ini_), old);
    EXPECT_EQ(Mode(ini_), 0444u);
    EXPECT_EQ(FilesInDir(), 1);
    ASSERT_EQ(::chmod(ini_.c_str(), 0600), 0);

    // Folder is a file, path is a folder.
    EXPECT_FALSE(WritePrivateProfileString("Form", "Top", "2", ini_ + "/x.ini"));
    ASSERT_EQ(::mkdir(Path("folder.ini").c_str(), 0700), 0);
    EXPECT_FALSE(WritePrivateProfileString("Form", "Top", "2", Path("folder.ini")));
    EXPECT_EQ(Get(ini_), old);
}

TEST_F(PrivateProfile, LinksAndFifos)
{
    // Writing through a link updates the file it names; the link stays.
    const std::string real = Path("real.ini");
    Put(real, "[Form]\nTop=1\n");
    ASSERT_EQ(::symlink(real.c_str(), ini_.c_str()), 0);
    ASSERT_TRUE(Write("Form", "Top", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(ini_));
    EXPECT_EQ(Get(real), "[Form]\nTop=2\n");
    EXPECT_EQ(FilesInDir(), 2);

    // A FIFO neither blocks the reader nor gets replaced.
    const std::string fifo = Path("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(GetPrivateProfileString("Form", "Top", "d", fifo), "d");
    EXPECT_FALSE(WritePrivateProfileString("Form", "Top", "1", fifo));
}

}  // namespace
