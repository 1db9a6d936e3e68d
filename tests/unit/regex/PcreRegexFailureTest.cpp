// Failures with their messages, and hostile input.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "components/Exceptions.h"
#include "regex/PcreRegex.h"

namespace {

const char* const kMatchFirst = "REQUIRE: There must be a successful match first";
const char* const kIndex = "REQUIRE: Index <= SubExpressionCount";

std::string MessageOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "<no exception>";
}

// Assertion messages read "<text> (<file>, line <n>)".
void ExpectAssertion(const std::function<void()>& action, const std::string& text)
{
    try {
        action();
        ADD_FAILURE() << "no assertion for " << text;
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(e.Message().rfind(text + " (PcreRegex.cpp, line ", 0), 0u)
            << e.Message();
    }
}

TEST(PcreRegexFailure, EmptyPatternOnEveryCompilePath)
{
    const std::string message = "TPcreRegex.Compile() - Please specify a regular expression in RegEx first";
    TPcreRegex r;
    r.SetSubject("abc");
    EXPECT_EQ(MessageOf([&] { r.Compile(); }), message);
    EXPECT_EQ(MessageOf([&] { r.Match(); }), message);
    EXPECT_EQ(MessageOf([&] { r.MatchAgain(); }), message);
    EXPECT_EQ(MessageOf([&] { r.Study(); }), message);
}

TEST(PcreRegexFailure, RejectedPatternReportsOffsetAndText)
{
    TPcreRegex r;
    r.SetRegEx("a(b");
    EXPECT_EQ(MessageOf([&] { r.Compile(); }),
              "TPcreRegex.Compile() - Error in regex at offset 3: missing closing parenthesis");
    EXPECT_FALSE(r.Compiled());
    r.SetRegEx("ab\\");
    EXPECT_EQ(MessageOf([&] { r.Match(); }), "TPcreRegex.Compile() - Error in regex at offset 3: \\ at end of pattern");
    r.SetRegEx("a(b)");
    r.SetSubject("ab");
    EXPECT_TRUE(r.Match());  // usable again after a failure
}

TEST(PcreRegexFailure, ExtraMakesUnknownEscapesErrors)
{
    TPcreRegex r;
    r.SetRegEx("x\\qy");
    r.SetSubject("xqy");
    EXPECT_TRUE(r.Match());
    r.SetOptions(preExtra);
    EXPECT_EQ(MessageOf([&] { r.Match(); }),
              "TPcreRegex.Compile() - Error in regex at offset 2: unrecognized character follows \\");
    // Malformed escapes stay errors without preExtra too.
    r.SetOptions({});
    for (const char* bad : {"x\\", "\\c", "\\x{2z}", "\\k"}) {
        r.SetRegEx(bad);
        EXPECT_NE(MessageOf([&] { r.Compile(); }).find("Error in regex at offset"), std::string::npos) << bad;
    }
}

TEST(PcreRegexFailure, UnknownEscapesAreLiteralOneByOneOtherErrorsStay)
{
    TPcreRegex r;
    // Each unknown letter escape stands for its letter...
    r.SetRegEx("\\q[\\y]\\j\\i");
    r.SetSubject("-qyji");
    EXPECT_TRUE(r.Match());
    EXPECT_EQ(r.MatchedExpression(), "qyji");
    // ...but a malformed escape beside them is still raised, at its offset
    // in the pattern as written.
    r.SetRegEx("\\qa\\");
    EXPECT_EQ(MessageOf([&] { r.Compile(); }),
              "TPcreRegex.Compile() - Error in regex at offset 4: \\ at end of pattern");
    EXPECT_FALSE(r.Compiled());
    r.SetRegEx("\\q\\c");
    EXPECT_EQ(MessageOf([&] { r.Compile(); }),
              "TPcreRegex.Compile() - Error in regex at offset 4: \\c at end of pattern");
    r.SetRegEx("\\q(\\y");
    EXPECT_EQ(MessageOf([&] { r.Compile(); }),
              "TPcreRegex.Compile() - Error in regex at offset 5: missing closing parenthesis");
}

TEST(PcreRegexFailure, StudyFindsNothingToReport)
{
    // Without a usable JIT the interpreter stays in use: Study never fails on a compiled pattern.
    TPcreRegex r;
    r.SetRegEx("(a|b)*c(?=d)");
    EXPECT_NO_THROW(r.Study());
    EXPECT_TRUE(r.Studied());
    r.SetRegEx("(");
    EXPECT_NE(MessageOf([&] { r.Study(); }).find("TPcreRegex.Compile() - Error in regex"), std::string::npos);
    EXPECT_FALSE(r.Studied());
}

TEST(PcreRegexFailure, AccessorsNeedAMatch)
{
    TPcreRegex r;
    r.SetRegEx("(b)");
    r.SetSubject("abc");
    auto all = [&] {
        ExpectAssertion([&] { r.MatchedExpression(); }, kMatchFirst);
        ExpectAssertion([&] { r.MatchedExpressionOffset(); }, kMatchFirst);
        ExpectAssertion([&] { r.MatchedExpressionLength(); }, kMatchFirst);
        ExpectAssertion([&] { r.SubExpressionCount(); }, kMatchFirst);
        ExpectAssertion([&] { r.SubExpressions(1); }, kMatchFirst);
        ExpectAssertion([&] { r.SubExpressionOffsets(0); }, kMatchFirst);
        ExpectAssertion([&] { r.SubExpressionLengths(0); }, kMatchFirst);
        ExpectAssertion([&] { r.Replace(); }, kMatchFirst);
    };
    all();  // never matched
    ASSERT_TRUE(r.Match());
    r.Replace();
    all();  // after a replacement
    r.SetRegEx("x");
    EXPECT_FALSE(r.Match());
    all();  // after a failed match
}

TEST(PcreRegexFailure, GroupIndexOutOfRange)
{
    TPcreRegex r;
    r.SetRegEx("(a)(b)");
    r.SetSubject("ab");
    ASSERT_TRUE(r.Match());
    ExpectAssertion([&] { r.SubExpressionOffsets(3); }, kIndex);
    ExpectAssertion([&] { r.SubExpressionLengths(3); }, kIndex);
    ExpectAssertion([&] { r.SubExpressionOffsets(-1); }, kIndex);
    ExpectAssertion([&] { r.SubExpressionLengths(-1); }, kIndex);
    ExpectAssertion([&] { r.SubExpressions(-1); }, kIndex);
    EXPECT_EQ(r.SubExpressions(3), "");
    EXPECT_EQ(r.SubExpressions(1000), "");
}

TEST(PcreRegexFailure, SplitNeedsAList)
{
    TPcreRegex r;
    r.SetRegEx(",");
    r.SetSubject("a,b");
    ExpectAssertion([&] { r.Split(nullptr, 0); }, "REQUIRE: Strings");
}

TEST(PcreRegexFailure, ComputeReplacementWithoutAMatch)
{
    TPcreRegex r;
    r.SetRegEx("(?<n>a)");
    r.Compile();
    r.SetReplacement("\\\\x$$y\\$z${nope}\\q$");
    EXPECT_EQ(r.ComputeReplacement(), "\\x$y$z${nope}\\q$");
    for (const char* reference : {"a$1", "\\0", "${1}", "${n}", "\\g<n>", "\\U1", "$12"}) {
        r.SetReplacement(reference);
        ExpectAssertion([&] { r.ComputeReplacement(); }, kMatchFirst);
    }
}

TEST(PcreRegexFailure, MatchErrorsAreNoMatch)
{
    // Exhausts PCRE2's match limit, with and without the JIT.
    for (bool study : {false, true}) {
        TPcreRegex r;
        r.SetRegEx("^(\\w+\\s?)*$");
        r.SetSubject(std::string(40, 'a') + " aaaa aaa!");
        if (study) r.Study();
        EXPECT_FALSE(r.Match()) << "study=" << study;
        EXPECT_FALSE(r.FoundMatch());
    }
}

TEST(PcreRegexBadInput, NulBytesAreOrdinaryCharacters)
{
    const std::string subject("a\0b\0\0c", 6);
    TPcreRegex r;
    r.SetRegEx("\\0+");
    r.SetSubject(subject);
    std::vector<std::string> pieces;
    r.Split(&pieces, 0);
    EXPECT_EQ(pieces, (std::vector<std::string>{"a", "b", "c"}));

    r.SetRegEx(std::string("b\0\0", 3));  // a raw NUL in the pattern is a NUL, not its end
    ASSERT_TRUE(r.Match());
    EXPECT_EQ(r.MatchedExpressionOffset(), 3);
    EXPECT_EQ(r.MatchedExpression(), std::string("b\0\0", 3));
    r.SetReplacement(std::string("<\0>", 3));
    r.Replace();
    EXPECT_EQ(r.Subject(), std::string("a\0<\0>c", 6));
}

TEST(PcreRegexBadInput, InvalidUtf8IsJustBytes)
{
    TPcreRegex r;
    r.SetRegEx("\xFF+|\xC3(");
    EXPECT_NE(MessageOf([&] { r.Compile(); }).find("missing closing parenthesis"), std::string::npos);
    r.SetRegEx("[\x80-\xFF]+");
    r.SetSubject("ok\xC3\x28\xFF\xFEz");
    ASSERT_TRUE(r.Match());
    EXPECT_EQ(r.MatchedExpressionOffset(), 3);
    EXPECT_EQ(r.MatchedExpressionLength(), 1);
    ASSERT_TRUE(r.MatchAgain());
    EXPECT_EQ(r.MatchedExpression(), "\xFF\xFE");
    r.SetRegEx(".");
    r.SetOptions(preCaseLess);
    int count = 0;
    for (bool f = r.Match(); f; f = r.MatchAgain()) ++count;
    EXPECT_EQ(count, 7);
}

TEST(PcreRegexBadInput, TenMegabyteSubject)
{
    std::string page;
    page.reserve(10'500'000);
    for (int i = 0; page.size() < 10'000'000; ++i)
        page += "<tr><td>" + std::to_string(i) + "</td></tr>\n<option value=" + std::to_string(i) + ">Item</option>\n";
    page += "<option value=x selected>Last</option>\n";
    TPcreRegex r;
    r.SetRegEx("<\\s*?option .*?(selected)[^>]*?>([^<]+)</option>");
    r.SetOptions(preCaseLess);
    r.SetSubject(page);
    ASSERT_TRUE(r.Match());
    EXPECT_EQ(r.SubExpressions(2), "Last");
    EXPECT_EQ(r.MatchedExpressionOffset() + r.MatchedExpressionLength(), static_cast<int>(page.size()));
    EXPECT_FALSE(r.MatchAgain());

    r.SetReplacement("<p>$2</p>");
    ASSERT_TRUE(r.Match());
    r.Replace();
    EXPECT_EQ(r.Subject().substr(r.Subject().size() - 12), "<p>Last</p>\n");

    r.SetRegEx("\n");
    std::vector<std::string> lines;
    r.Split(&lines, 0);
    EXPECT_GT(lines.size(), 200'000u);
    EXPECT_EQ(lines.back(), "");
}

TEST(PcreRegexBadInput, RejectedPatternsAtAnyOffset)
{
    const char* const tails[] = {"(", "\\", "[", "(?<", "x{2,1}", "(?P=", "(*", "(?z)", "\\c", "[z-a]", ")"};
    const std::regex form("TPcreRegex\\.Compile\\(\\) - Error in regex at offset ([0-9]+): .+");
    for (const char* tail : tails) {
        for (int k = 0; k <= 40; k += 7) {
            const std::string pattern = std::string(k, 'x') + tail;
            TPcreRegex r;
            r.SetRegEx(pattern);
            const std::string message = MessageOf([&] { r.Compile(); });
            std::smatch m;
            ASSERT_TRUE(std::regex_match(message, m, form)) << pattern << ": " << message;
            const int offset = std::stoi(m[1]);
            EXPECT_GE(offset, k) << pattern;
            EXPECT_LE(offset, static_cast<int>(pattern.size())) << pattern;
            EXPECT_FALSE(r.Compiled());
        }
    }
}

}  // namespace
