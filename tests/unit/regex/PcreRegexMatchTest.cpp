// Compiling, matching, walking matches and reading groups.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "components/Exceptions.h"
#include "regex/PcreRegex.h"

namespace {

const char* const kOptionPattern = "<\\s*?option .*?(selected)[^>]*?>([^<]+)</option>";

// The main window's use: walk the matches until group 1 reads "selected".
std::string SelectedItem(TPcreRegex& preg, const std::string& page)
{
    preg.SetRegEx(kOptionPattern);
    preg.SetOptions(preCaseLess);
    preg.SetSubject(page);
    for (bool found = preg.Match(); found; found = preg.MatchAgain()) {
        std::string group = preg.SubExpressions(1);
        for (char& c : group) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (group == "selected") return preg.SubExpressions(2);
    }
    return "<none>";
}

TEST(PcreRegexTimerPage, FindsSelectedOptionCaseInsensitively)
{
    TPcreRegex preg;
    preg.SetRegEx(kOptionPattern);
    preg.SetOptions(preCaseLess);
    preg.SetSubject("<OPTION value=7 SELECTED>Job &amp; Co</OPTION>");
    ASSERT_TRUE(preg.Match());
    EXPECT_EQ(preg.SubExpressions(1), "SELECTED");
    EXPECT_EQ(preg.SubExpressions(2), "Job &amp; Co");
    EXPECT_EQ(preg.MatchedExpressionOffset(), 1);
    EXPECT_EQ(preg.SubExpressionCount(), 2);
}

TEST(PcreRegexTimerPage, DotDoesNotCrossLineBreaks)
{
    TPcreRegex preg;
    EXPECT_EQ(SelectedItem(preg, "<option value=7\n selected>Job</option>"), "<none>");
    EXPECT_EQ(SelectedItem(preg, "<option value=6>Other</option>\n<option value=7 selected>Job</option>"), "Job");
}

TEST(PcreRegexTimerPage, TwoSelectedEntriesYieldTheFirst)
{
    TPcreRegex preg;
    const std::string page =
        "<select>\n<option value=1>A</option>\n<option value=2 selected>B</option>\n"
        "<option value=3 selected=\"selected\">C</option>\n</select>";
    EXPECT_EQ(SelectedItem(preg, page), "B");
}

TEST(PcreRegexTimerPage, StreamedOptionsAreNotRecompiled)
{
    TPcreRegex preg;
    preg.SetOptions(preCaseLess);
    preg.SetRegEx(kOptionPattern);
    preg.Compile();
    preg.SetOptions(preCaseLess);
    EXPECT_TRUE(preg.Compiled());
    preg.SetOptions(preCaseLess | preMultiLine);
    EXPECT_FALSE(preg.Compiled());
}

struct OptionCase {
    const char* name;
    TPcreRegexOptions options;
    const char* pattern;
    const char* subject;
    const char* without;  // whole match without the option ("" = no match)
    const char* with;     // whole match with it
};

class PcreRegexOptionTest : public testing::TestWithParam<OptionCase> {};

TEST_P(PcreRegexOptionTest, OptionChangesTheMatch)
{
    const OptionCase& c = GetParam();
    for (bool on : {false, true}) {
        TPcreRegex r;
        r.SetRegEx(c.pattern);
        r.SetOptions(on ? c.options : TPcreRegexOptions{});
        r.SetSubject(c.subject);
        const std::string expected = on ? c.with : c.without;
        ASSERT_EQ(r.Match(), !expected.empty()) << c.name << " on=" << on;
        if (!expected.empty()) {
            EXPECT_EQ(r.MatchedExpression(), expected) << c.name << " on=" << on;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, PcreRegexOptionTest,
    testing::Values(OptionCase{"caseless", preCaseLess, "abc", "xABC", "", "ABC"},
                    OptionCase{"multiline", preMultiLine, "^b.", "ab1\nb2", "", "b2"},
                    OptionCase{"singleline", preSingleLine, "a.b", "a\nb", "", "a\nb"},
                    OptionCase{"extended", preExtended, "a b # comment", "ab", "", "ab"},
                    OptionCase{"anchored", preAnchored, "b", "ab", "b", ""},
                    OptionCase{"dollarEndOnly", preDollarEndOnly, "a$", "a\n", "a", ""},
                    OptionCase{"ungreedy", preUnGreedy, "a+", "aaa", "aaa", "a"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PcreRegexOptions, FlagSetsReadBackAsSet)
{
    TPcreRegex r;
    EXPECT_EQ(r.Options(), TPcreRegexOptions{});
    r.SetOptions(preCaseLess | preUnGreedy);
    EXPECT_TRUE(r.Options().Contains(preUnGreedy));
    EXPECT_FALSE(r.Options().Contains(preMultiLine));
    EXPECT_EQ(r.State(), preNotEmpty);
}

TEST(PcreRegexStartStop, MatchIgnoresStartButMatchAgainHonoursIt)
{
    TPcreRegex r;
    r.SetRegEx("ab");
    r.SetSubject("ab" + std::string(18, '-'));
    r.SetStart(10);
    EXPECT_TRUE(r.Match());
    EXPECT_EQ(r.MatchedExpressionOffset(), 1);
    r.SetStart(10);
    EXPECT_FALSE(r.MatchAgain());
}

TEST(PcreRegexStartStop, StopLimitsTheSearchedText)
{
    TPcreRegex r;
    r.SetRegEx("f");
    r.SetSubject("abcdefgh");
    r.SetStop(5);
    EXPECT_FALSE(r.Match());
    r.SetStop(6);
    EXPECT_TRUE(r.Match());
    r.SetStop(100);
    EXPECT_EQ(r.Stop(), 8);
    r.SetStart(-4);
    EXPECT_EQ(r.Start(), 1);
    r.SetStop(0);
    EXPECT_FALSE(r.Match());  // Stop before Start: nothing is searched
}

TEST(PcreRegexStartStop, MatchAfterAFinishedWalkStartsOver)
{
    TPcreRegex r;
    r.SetRegEx("b");
    r.SetSubject("ab");
    ASSERT_TRUE(r.Match());
    EXPECT_FALSE(r.MatchAgain());
    EXPECT_GT(r.Start(), r.Stop());
    EXPECT_TRUE(r.Match());
}

TEST(PcreRegexStartStop, SubjectResetsStartStopAndCompileResetsStart)
{
    TPcreRegex r;
    r.SetRegEx("b");
    r.SetSubject("abcb");
    ASSERT_TRUE(r.Match());
    EXPECT_EQ(r.Start(), 3);
    r.Compile();
    EXPECT_EQ(r.Start(), 1);
    EXPECT_FALSE(r.FoundMatch());
    r.SetStart(3);
    r.SetSubject("bb");
    EXPECT_EQ(r.Start(), 1);
    EXPECT_EQ(r.Stop(), 2);
}

TEST(PcreRegexStartStop, MatchAgainSeesTextBeforeStart)
{
    TPcreRegex look;
    look.SetRegEx("(?<=a)b");
    look.SetSubject("ab");
    look.SetStart(2);
    EXPECT_TRUE(look.MatchAgain());

    TPcreRegex caret;
    caret.SetRegEx("^b");
    caret.SetSubject("a\nb");
    caret.SetStart(3);
    EXPECT_FALSE(caret.MatchAgain());
    caret.SetOptions(preMultiLine);
    caret.SetStart(3);
    EXPECT_TRUE(caret.MatchAgain());
}

TEST(PcreRegexWalk, MatchAgainWalksAllMatchesWithOneBasedOffsets)
{
    TPcreRegex r;
    r.SetRegEx("\\d+");
    r.SetSubject("a1 b22 c333");
    std::vector<std::pair<int, int>> seen;
    for (bool f = r.Match(); f; f = r.MatchAgain())
        seen.emplace_back(r.MatchedExpressionOffset(), r.MatchedExpressionLength());
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{2, 1}, {5, 2}, {9, 3}}));
}

TEST(PcreRegexWalk, EmptyMatchesAdvanceByOne)
{
    TPcreRegex r;
    r.SetRegEx("x*");
    r.SetSubject("abc");
    EXPECT_FALSE(r.Match());  // empty matches are refused by default
    r.SetState({});
    std::vector<int> offsets;
    for (bool f = r.Match(); f; f = r.MatchAgain()) {
        EXPECT_EQ(r.MatchedExpressionLength(), 0);
        offsets.push_back(r.MatchedExpressionOffset());
    }
    EXPECT_EQ(offsets, (std::vector<int>{1, 2, 3}));
}

TEST(PcreRegexWalk, NotBolAndNotEolStates)
{
    TPcreRegex r;
    r.SetRegEx("^a|b$");
    r.SetSubject("ab");
    r.SetState(preNotBOL);
    ASSERT_TRUE(r.Match());
    EXPECT_EQ(r.MatchedExpression(), "b");
    r.SetState(preNotBOL | preNotEOL);
    EXPECT_FALSE(r.Match());
}

TEST(PcreRegexWalk, OnMatchIsCalledForEveryMatch)
{
    TPcreRegex r;
    std::vector<std::string> seen;
    r.OnMatch = [&](TPcreRegex* sender) { seen.push_back(sender->MatchedExpression()); };
    r.SetRegEx("[a-z]+");
    r.SetSubject("one, two");
    for (bool f = r.Match(); f; f = r.MatchAgain()) {
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "two"}));
}

TEST(PcreRegexGroups, UnsetGroupsReadAsEmpty)
{
    TPcreRegex r;
    r.SetRegEx("a(x)?b");
    r.SetSubject("ab");
    ASSERT_TRUE(r.Match());
    EXPECT_EQ(r.SubExpressionCount(), 0);
    EXPECT_EQ(r.SubExpressions(1), "");
    r.SetSubject("-axb");
    ASSERT_TRUE(r.Match());
    EXPECT_EQ(r.SubExpressions(1), "x");
    EXPECT_EQ(r.SubExpressionOffsets(1), 3);

    // An unset group below a set one: offset 0, length 0.
    r.SetRegEx("(a)?(b)");
    r.SetSubject("b");
    ASSERT_TRUE(r.Match());
    EXPECT_EQ(r.SubExpressionCount(), 2);
    EXPECT_EQ(r.SubExpressionOffsets(1), 0);
    EXPECT_EQ(r.SubExpressionLengths(1), 0);
    EXPECT_EQ(r.SubExpressions(1), "");
    EXPECT_EQ(r.SubExpressions(2), "b");
}

TEST(PcreRegexGroups, NinetyNineGroupsFitOneHundredDoNot)
{
    auto groups = [](int n) {
        std::string p;
        for (int i = 0; i < n; ++i) p += "(a)";
        return p;
    };
    TPcreRegex r;
    r.SetSubject(std::string(100, 'a'));
    r.SetRegEx(groups(99));
    ASSERT_TRUE(r.Match());
    EXPECT_EQ(r.SubExpressionCount(), 99);
    EXPECT_EQ(r.SubExpressionOffsets(99), 99);
    r.SetRegEx(groups(100));
    EXPECT_FALSE(r.Match());
    EXPECT_FALSE(r.FoundMatch());
}

TEST(PcreRegexGroups, StoredGroupsSurviveANewSubject)
{
    TPcreRegex r;
    r.SetRegEx("(\\w+)=(\\w+)");
    r.SetSubject("key=value");
    ASSERT_TRUE(r.Match());
    r.StoreSubExpressions();
    r.SetSubject("something else");
    ASSERT_TRUE(r.FoundMatch());
    EXPECT_EQ(r.SubExpressions(2), "value");
    EXPECT_EQ(r.MatchedExpression(), "key=value");
    r.ClearStoredSubExpressions();
    r.SetSubject("x");
    EXPECT_FALSE(r.FoundMatch());
}

TEST(PcreRegexGroups, NamedGroups)
{
    TPcreRegex r;
    EXPECT_LT(r.NamedSubExpression("user"), 0);  // nothing compiled yet
    r.SetRegEx("(?<user>\\w+)@(?<host>\\w+)");
    r.Compile();
    EXPECT_EQ(r.NamedSubExpression("user"), 1);
    EXPECT_EQ(r.NamedSubExpression("host"), 2);
    EXPECT_LT(r.NamedSubExpression("nope"), 0);
    EXPECT_LT(r.NamedSubExpression(std::string("user\0x", 6)), 0);
    r.SetRegEx("(?J)(?<n>a)|(?<n>b)");
    r.Compile();
    EXPECT_EQ(r.NamedSubExpression("n"), 1);
}

TEST(PcreRegexStudy, StudiedPatternGivesTheSameMatches)
{
    std::string page;
    for (int i = 0; i < 500; ++i) page += "<option value=" + std::to_string(i) + ">Item " + std::to_string(i) + "</option>\n";
    page += "<option value=x Selected>Chosen</option>\n";
    TPcreRegex plain;
    TPcreRegex studied;
    studied.SetRegEx(kOptionPattern);
    studied.SetOptions(preCaseLess);
    studied.Study();
    EXPECT_TRUE(studied.Studied());
    EXPECT_EQ(SelectedItem(plain, page), "Chosen");
    EXPECT_EQ(SelectedItem(studied, page), "Chosen");
    EXPECT_TRUE(studied.Studied());  // same pattern and options: still studied
    studied.SetRegEx("other");
    EXPECT_FALSE(studied.Studied());
}

}  // namespace
