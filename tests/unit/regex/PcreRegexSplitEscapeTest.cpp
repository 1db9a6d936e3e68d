// Split and EscapeRegExChars.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regex/PcreRegex.h"

namespace {

using Pieces = std::vector<std::string>;

Pieces SplitOf(const std::string& pattern, const std::string& subject, int limit, TPcreRegexState state = preNotEmpty)
{
    TPcreRegex r;
    r.SetRegEx(pattern);
    r.SetState(state);
    r.SetSubject(subject);
    Pieces pieces;
    r.Split(&pieces, limit);
    return pieces;
}

TEST(PcreRegexSplit, Limits)
{
    EXPECT_EQ(SplitOf(",", "a,b,,c", 0), (Pieces{"a", "b", "", "c"}));
    EXPECT_EQ(SplitOf(",", "a,b,,c", -3), (Pieces{"a", "b", "", "c"}));
    EXPECT_EQ(SplitOf(",", "a,b,,c", 1), (Pieces{"a,b,,c"}));
    EXPECT_EQ(SplitOf(",", "a,b,,c", 2), (Pieces{"a", "b,,c"}));
    EXPECT_EQ(SplitOf(",", "a,b,,c", 3), (Pieces{"a", "b", ",c"}));
    EXPECT_EQ(SplitOf(",", "a,b,,c", 10), (Pieces{"a", "b", "", "c"}));
}

TEST(PcreRegexSplit, EdgesOfTheSubject)
{
    EXPECT_EQ(SplitOf(",", "x", 0), (Pieces{"x"}));
    EXPECT_EQ(SplitOf(",", ",a,", 0), (Pieces{"", "a", ""}));
    EXPECT_EQ(SplitOf(",", "", 0), (Pieces{""}));
    EXPECT_EQ(SplitOf("\\s*;\\s*", "a ; b;c", 0), (Pieces{"a", "b", "c"}));
    // With empty matches allowed the text is cut between characters.
    EXPECT_EQ(SplitOf("x*", "abc", 0, {}), (Pieces{"", "a", "b", "c"}));
}

TEST(PcreRegexSplit, AppendsToTheList)
{
    TPcreRegex r;
    r.SetRegEx("-");
    r.SetSubject("1-2");
    Pieces pieces{"kept"};
    r.Split(&pieces, 0);
    EXPECT_EQ(pieces, (Pieces{"kept", "1", "2"}));
}

TEST(PcreRegexEscape, EscapesMetacharacters)
{
    EXPECT_EQ(TPcreRegex::EscapeRegExChars("1+1=2?"), "1\\+1=2\\?");
    EXPECT_EQ(TPcreRegex::EscapeRegExChars("$()*+.?[\\]^{|}"), "\\$\\(\\)\\*\\+\\.\\?\\[\\\\\\]\\^\\{\\|\\}");
    EXPECT_EQ(TPcreRegex::EscapeRegExChars("caf\xC3\xA9 -#<>"), "caf\xC3\xA9 -#<>");
    EXPECT_EQ(TPcreRegex::EscapeRegExChars(std::string("a\0b", 3)), "a\\0b");
    // "\0" would take following octal digits with it.
    EXPECT_EQ(TPcreRegex::EscapeRegExChars(std::string("a\0" "12", 4)), "a\\00012");
    EXPECT_EQ(TPcreRegex::EscapeRegExChars(std::string("\0" "8", 2)), "\\08");
}

TEST(PcreRegexEscape, EscapedTextMatchesItselfLiterally)
{
    const std::string texts[] = {"1+1=2?", "(a|b)*[c]{2}^$\\.", std::string("x\0" "1y\0", 5), std::string("\0" "7", 2),
                                 "\\Qa\\E", "\xFF\xFE\x80 (", "a\\"};
    for (const std::string& text : texts) {
        TPcreRegex r;
        r.SetRegEx(TPcreRegex::EscapeRegExChars(text));
        r.SetSubject("<" + text + ">");
        ASSERT_TRUE(r.Match()) << r.RegEx();
        EXPECT_EQ(r.MatchedExpressionOffset(), 2) << r.RegEx();
        EXPECT_EQ(r.MatchedExpression(), text) << r.RegEx();
    }
}

}  // namespace
