// The command line: options, mistakes, and the toolkit's own options.
#include <QDir>
#include <gtest/gtest.h>

#include "app/CommandLine.h"

namespace {

CommandLine Parse(QStringList args)
{
    args.prepend("ChronelGui");
    return ParseCommandLine(args);
}

TEST(CommandLine, NoOptionsRunsWithTheUsualSettingsFile)
{
    const CommandLine c = Parse({});
    EXPECT_EQ(c.action, CommandLine::Action::Run);
    EXPECT_FALSE(c.hidden);
    EXPECT_TRUE(c.settingsFile.empty());
}

TEST(CommandLine, HelpAndVersionWinOverEverythingElse)
{
    EXPECT_EQ(Parse({"--help"}).action, CommandLine::Action::Help);
    EXPECT_EQ(Parse({"-h"}).action, CommandLine::Action::Help);
    EXPECT_EQ(Parse({"--hidden", "--help"}).action, CommandLine::Action::Help);
    EXPECT_EQ(Parse({"--version"}).action, CommandLine::Action::Version);
    const CommandLine help = Parse({"--help"});
    EXPECT_NE(help.usage.find("--settings <file>"), std::string::npos);
    EXPECT_NE(help.usage.find("--hidden"), std::string::npos);
    // The toolkit's options are taken but not offered.
    EXPECT_EQ(help.usage.find("platform"), std::string::npos);
}

TEST(CommandLine, SettingsFileIsMadeAbsoluteAndHiddenIsKept)
{
    const CommandLine c = Parse({"--hidden", "--settings", "sub/my.ini"});
    EXPECT_EQ(c.action, CommandLine::Action::Run);
    EXPECT_TRUE(c.hidden);
    EXPECT_EQ(c.settingsFile, QDir::current().absoluteFilePath("sub/my.ini").toStdString());
    EXPECT_EQ(Parse({"--settings=/x/y.ini"}).settingsFile, "/x/y.ini");
}

TEST(CommandLine, MistakesAreErrorsWithAMessage)
{
    const CommandLine unknown = Parse({"--frobnicate"});
    EXPECT_EQ(unknown.action, CommandLine::Action::Error);
    EXPECT_NE(unknown.error.find("frobnicate"), std::string::npos);
    EXPECT_FALSE(unknown.usage.empty());
    EXPECT_EQ(Parse({"--settings"}).action, CommandLine::Action::Error);       // no value
    EXPECT_EQ(Parse({"--settings", ""}).action, CommandLine::Action::Error);   // empty value
    EXPECT_EQ(Parse({"--settings", "/tmp"}).action, CommandLine::Action::Error);  // a folder
    const CommandLine stray = Parse({"file.ini"});
    EXPECT_EQ(stray.action, CommandLine::Action::Error);
    EXPECT_NE(stray.error.find("file.ini"), std::string::npos);
}

TEST(CommandLine, ToolkitOptionsPassThrough)
{
    // The session manager restarts programs with -session; developers pick a platform.
    const CommandLine c = Parse({"-platform", "offscreen", "-session", "1a2b_3", "--hidden", "-reverse"});
    EXPECT_EQ(c.action, CommandLine::Action::Run);
    EXPECT_TRUE(c.hidden);
}

}  // namespace
