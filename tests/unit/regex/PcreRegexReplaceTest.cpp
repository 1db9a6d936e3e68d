// Replacement text, Replace and ReplaceAll.
#include <gtest/gtest.h>

#include <string>

#include "regex/PcreRegex.h"

namespace {

// One match with group 1 "jOHN", group 2 "example", named "user" and "host";
// group 3 is unset, so SubExpressionCount is 2.
std::string Expand(const std::string& replacement)
{
    TPcreRegex r;
    r.SetRegEx("(?<user>\\w+)@(?<host>\\w+)(!)?");
    r.SetSubject("mail jOHN@example now");
    EXPECT_TRUE(r.Match());
    r.SetReplacement(replacement);
    return r.ComputeReplacement();
}

struct ReplacementCase {
    const char* replacement;
    const char* expected;
};

class PcreRegexReplacementTest : public testing::TestWithParam<ReplacementCase> {};

TEST_P(PcreRegexReplacementTest, Expands)
{
    EXPECT_EQ(Expand(GetParam().replacement), GetParam().expected) << "replacement: " << GetParam().replacement;
}

INSTANTIATE_TEST_SUITE_P(Escapes, PcreRegexReplacementTest,
                         testing::Values(ReplacementCase{"$$1", "$1"}, ReplacementCase{"\\$1", "$1"},
                                         ReplacementCase{"\\\\1", "\\1"}, ReplacementCase{"a$$$$b", "a$$b"},
                                         ReplacementCase{"\\n\\t", "\\n\\t"}, ReplacementCase{"\\{1}", "\\{1}"}));

INSTANTIATE_TEST_SUITE_P(NumberedGroups, PcreRegexReplacementTest,
                         testing::Values(ReplacementCase{"[$1]", "[jOHN]"}, ReplacementCase{"\\2", "example"},
                                         ReplacementCase{"$0", "jOHN@example"},
                                         ReplacementCase{"$12", "jOHN2"},  // no group 12: one digit
                                         ReplacementCase{"$21$1", "example1jOHN"},
                                         ReplacementCase{"a$3b", "ab"},  // unset group: removed
                                         ReplacementCase{"a$9b", "ab"}, ReplacementCase{"${2}", "example"},
                                         ReplacementCase{"${002}", "example"}, ReplacementCase{"<${99}>", "<>"},
                                         ReplacementCase{"<${99999999999999999999}>", "<>"}));

INSTANTIATE_TEST_SUITE_P(NamedGroups, PcreRegexReplacementTest,
                         testing::Values(ReplacementCase{"${user}", "jOHN"}, ReplacementCase{"\\g<host>", "example"},
                                         ReplacementCase{"\\G<user>!", "jOHN!"},
                                         ReplacementCase{"[\\g<nope>]", "[]"},  // unknown name after \g: removed
                                         ReplacementCase{"[${nope}]", "[${nope}]"},  // after $: stays as text
                                         ReplacementCase{"\\g<host", "\\g<host"},
                                         ReplacementCase{"\\g<host$1", "\\g<hostjOHN"},
                                         ReplacementCase{"\\g<1>", "\\g<1>"}, ReplacementCase{"\\gx", "\\gx"}));

INSTANTIATE_TEST_SUITE_P(CaseConversion, PcreRegexReplacementTest,
                         testing::Values(ReplacementCase{"\\U1", "JOHN"}, ReplacementCase{"\\u1", "JOHN"},
                                         ReplacementCase{"\\L1", "john"}, ReplacementCase{"\\F1", "John"},
                                         ReplacementCase{"\\I0", "John@example"},
                                         ReplacementCase{"\\U12", "JOHN2"}, ReplacementCase{"\\Ux", "\\Ux"},
                                         ReplacementCase{"\\U$1", "\\UjOHN"}));

// The last character never starts a reference, and nothing reads past it.
INSTANTIATE_TEST_SUITE_P(Truncated, PcreRegexReplacementTest,
                         testing::Values(ReplacementCase{"", ""}, ReplacementCase{"$", "$"},
                                         ReplacementCase{"\\", "\\"}, ReplacementCase{"end$", "end$"},
                                         ReplacementCase{"end\\", "end\\"}, ReplacementCase{"${", "${"},
                                         ReplacementCase{"${x", "${x"}, ReplacementCase{"${12", "${12"},
                                         ReplacementCase{"${}", "${}"}, ReplacementCase{"\\U", "\\U"},
                                         ReplacementCase{"\\g<", "\\g<"}, ReplacementCase{"$1$", "jOHN$"}));

TEST(PcreRegexReplacement, TwoDigitGroupWhenItExists)
{
    TPcreRegex r;
    r.SetRegEx("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)");
    r.SetSubject("abcdefghijkl");
    ASSERT_TRUE(r.Match());
    r.SetReplacement("$12|\\10|$13");
    EXPECT_EQ(r.ComputeReplacement(), "l|j|a3");
}

TEST(PcreRegexReplacement, InsertedTextIsNotRescanned)
{
    TPcreRegex r;
    r.SetRegEx("\\[(.*)\\]");
    r.SetSubject("[$1\\\\]");
    ASSERT_TRUE(r.Match());
    r.SetReplacement("$1-$1");
    EXPECT_EQ(r.ComputeReplacement(), "$1\\\\-$1\\\\");
}

TEST(PcreRegexReplacement, EmptyGroupIsRemoved)
{
    TPcreRegex r;
    r.SetRegEx("(a*)b");
    r.SetSubject("b");
    ASSERT_TRUE(r.Match());
    r.SetReplacement("[$1\\U1]");
    EXPECT_EQ(r.ComputeReplacement(), "[]");
}

TEST(PcreRegexReplacement, InitialCapsWordStarts)
{
    TPcreRegex r;
    r.SetRegEx(".*");
    // apostrophes, hyphen and the middle dot's last byte separate; the slash does not
    r.SetSubject("'tis o'NEIL mc-donald a/b x\xC2\xB7y (z)");
    ASSERT_TRUE(r.Match());
    r.SetReplacement("\\I0");
    EXPECT_EQ(r.ComputeReplacement(), "'Tis O'neil Mc-Donald A/b X\xC2\xB7Y (Z)");
    r.SetReplacement("\\F0");
    EXPECT_EQ(r.ComputeReplacement(), "'tis o'neil mc-donald a/b x\xC2\xB7y (z)");
}

TEST(PcreRegexReplace, ReplacesTheMatchAndMovesStartAndStop)
{
    TPcreRegex r;
    r.SetRegEx("b+");
    r.SetSubject("abbcbb");
    ASSERT_TRUE(r.Match());
    r.SetReplacement("[$0]");
    EXPECT_EQ(r.Replace(), "[bb]");
    EXPECT_EQ(r.Subject(), "a[bb]cbb");
    EXPECT_EQ(r.Start(), 6);
    EXPECT_EQ(r.Stop(), 8);
    EXPECT_FALSE(r.FoundMatch());
    ASSERT_TRUE(r.MatchAgain());
    EXPECT_EQ(r.MatchedExpressionOffset(), 7);
}

TEST(PcreRegexReplace, OnReplaceMayChangeTheText)
{
    TPcreRegex r;
    r.SetRegEx("\\d+");
    r.SetSubject("a 12 b 7");
    r.OnReplace = [](TPcreRegex* sender, std::string& with) {
        with = std::to_string(std::stoi(sender->MatchedExpression()) * 2);
    };
    EXPECT_TRUE(r.ReplaceAll());
    EXPECT_EQ(r.Subject(), "a 24 b 14");
}

TEST(PcreRegexReplace, ReplaceAll)
{
    TPcreRegex r;
    r.SetRegEx(",");
    r.SetSubject("a,b,,c");
    r.SetReplacement(";");
    EXPECT_TRUE(r.ReplaceAll());
    EXPECT_EQ(r.Subject(), "a;b;;c");

    r.SetRegEx("x");
    EXPECT_FALSE(r.ReplaceAll());
    EXPECT_EQ(r.Subject(), "a;b;;c");

    // Growing replacements and deletions both terminate.
    r.SetRegEx("a");
    r.SetSubject("aaa");
    r.SetReplacement("$0$0");
    EXPECT_TRUE(r.ReplaceAll());
    EXPECT_EQ(r.Subject(), "aaaaaa");
    r.SetReplacement("");
    EXPECT_TRUE(r.ReplaceAll());
    EXPECT_EQ(r.Subject(), "");
}

TEST(PcreRegexReplace, ReplaceAllWithEmptyMatches)
{
    TPcreRegex r;
    r.SetRegEx("x*");
    r.SetState({});
    r.SetSubject("abc");
    r.SetReplacement("-");
    EXPECT_TRUE(r.ReplaceAll());
    EXPECT_EQ(r.Subject(), "-a-b-c");
}

}  // namespace
