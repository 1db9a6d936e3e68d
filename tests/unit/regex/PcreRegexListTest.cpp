// Several patterns over one subject.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "regex/PcreRegex.h"

namespace {

using Walk = std::vector<std::pair<std::string, int>>;  // matched text, offset

Walk WalkOf(TPcreRegexList& list, int limit = 100)
{
    Walk walk;
    for (bool f = list.Match(); f && limit-- > 0; f = list.MatchAgain())
        walk.emplace_back(list.MatchedRegEx()->MatchedExpression(), list.MatchedRegEx()->MatchedExpressionOffset());
    return walk;
}

TEST(PcreRegexList, EarliestMatchWinsAndTiesGoToTheFirstListed)
{
    TPcreRegex letters, digits, pairs;
    letters.SetRegEx("[a-z]");
    digits.SetRegEx("\\d");
    pairs.SetRegEx("[a-z]\\d");
    TPcreRegexList list;
    list.Add(&digits);
    list.Add(&letters);
    list.SetSubject("a1b2");
    EXPECT_EQ(WalkOf(list), (Walk{{"a", 1}, {"1", 2}, {"b", 3}, {"2", 4}}));

    list.Insert(0, &pairs);
    EXPECT_EQ(list.IndexOf(&pairs), 0);
    EXPECT_EQ(list.RegEx(0)->Subject(), "a1b2");
    EXPECT_EQ(WalkOf(list), (Walk{{"a1", 1}, {"b2", 3}}));
}

TEST(PcreRegexList, MatchesAheadAreKeptNotSearchedAgain)
{
    TPcreRegex far, near;
    far.SetRegEx("z");
    near.SetRegEx("\\d");
    int farSearches = 0;
    far.OnMatch = [&](TPcreRegex*) { ++farSearches; };
    TPcreRegexList list;
    list.Add(&far);
    list.Add(&near);
    list.SetSubject("a1a2a3z");
    EXPECT_EQ(WalkOf(list), (Walk{{"1", 2}, {"2", 4}, {"3", 6}, {"z", 7}}));
    EXPECT_EQ(farSearches, 1);
}

TEST(PcreRegexList, EmptyMatchesAreNotReportedTwice)
{
    TPcreRegex empty, letter;
    empty.SetRegEx("x*");
    empty.SetState({});
    letter.SetRegEx("b");
    TPcreRegexList list;
    list.Add(&empty);
    list.Add(&letter);
    list.SetSubject("ab");
    const Walk walk = WalkOf(list);
    EXPECT_EQ(walk, (Walk{{"", 1}, {"", 2}}));
}

TEST(PcreRegexList, AnEarlierPassDoesNotLeakIntoTheNext)
{
    TPcreRegex word;
    word.SetRegEx("\\w+");
    TPcreRegexList list;
    list.Add(&word);
    list.SetSubject("one two");
    const Walk first = WalkOf(list);
    EXPECT_EQ(first, (Walk{{"one", 1}, {"two", 5}}));
    EXPECT_EQ(WalkOf(list), first);

    // Moving the list's Start backwards searches again from there.
    ASSERT_TRUE(list.Match());
    ASSERT_TRUE(list.MatchAgain());
    list.SetStart(2);
    ASSERT_TRUE(list.MatchAgain());
    EXPECT_EQ(word.MatchedExpression(), "ne");
}

TEST(PcreRegexList, SettersReachEveryObject)
{
    TPcreRegex a, b;
    a.SetRegEx("a");
    b.SetRegEx("b");
    TPcreRegexList list;
    list.Add(&a);
    list.SetSubject("xxab");
    list.Add(&b);
    EXPECT_EQ(b.Subject(), "xxab");
    list.SetStop(3);
    EXPECT_EQ(a.Stop(), 3);
    EXPECT_EQ(b.Stop(), 3);
    ASSERT_TRUE(list.Match());
    EXPECT_EQ(list.MatchedRegEx(), &a);
    EXPECT_FALSE(list.MatchAgain());  // "b" lies beyond Stop

    ASSERT_TRUE(list.Match());
    list.Delete(0);  // the matched object may be destroyed now
    EXPECT_EQ(list.MatchedRegEx(), nullptr);
    EXPECT_EQ(list.Count(), 1);
    list.SetRegEx(0, &a);
    EXPECT_EQ(list.RegEx(0), &a);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_FALSE(list.Match());
}

}  // namespace
