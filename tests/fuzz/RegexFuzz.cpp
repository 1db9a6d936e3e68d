// libFuzzer target: drives TPcreRegex (and a TPcreRegexList) with a pattern,
// options, subject and replacement taken from the input, and checks what
// callers rely on: offsets inside the subject, group texts equal to their
// slices, walks that always advance, Replace editing exactly the match.
//
// Input: byte 0 options, byte 1 state (bits 0-2), study (bit 3), split
// limit (bits 4-6, minus 1); then pattern, replacement and subject,
// separated by the first two 0x01 bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "components/Exceptions.h"
#include "regex/PcreRegex.h"

#define CHECK(cond)                                                          \
    do {                                                                     \
        if (!(cond)) {                                                       \
            std::fprintf(stderr, "CHECK failed at line %d: %s\n", __LINE__, #cond); \
            std::abort();                                                    \
        }                                                                    \
    } while (0)

namespace {

constexpr int kMaxSteps = 16;  // every pcre2_match may cost up to its match limit
// ReplaceAll and Split walk every match of their subject: a prefix this long.
constexpr size_t kMaxWalkSubject = 128;

const TPcreRegexOption kOptions[] = {preCaseLess,   preMultiLine,     preSingleLine, preExtended,
                                     preAnchored,   preDollarEndOnly, preExtra,      preUnGreedy};
const TPcreRegexStateFlag kStates[] = {preNotBOL, preNotEOL, preNotEmpty};

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

void CheckGroups(TPcreRegex& r)
{
    const int count = r.SubExpressionCount();
    const int size = static_cast<int>(r.Subject().size());
    CHECK(count >= 0 && count <= 99);
    CHECK(r.MatchedExpressionOffset() >= 1);
    CHECK(r.MatchedExpressionLength() >= 0);
    CHECK(r.MatchedExpressionOffset() - 1 + r.MatchedExpressionLength() <= r.Stop());
    for (int i = 0; i <= count; ++i) {
        const int offset = r.SubExpressionOffsets(i);
        const int length = r.SubExpressionLengths(i);
        const std::string text = r.SubExpressions(i);
        if (offset == 0) {  // unset
            CHECK(length == 0 && text.empty());
            continue;
        }
        CHECK(offset >= 1 && length >= 0 && offset - 1 + length <= size);
        CHECK(text == r.Subject().substr(offset - 1, length));
    }
    CHECK(r.SubExpressions(count + 1).empty());
}

void Walk(TPcreRegex& r)
{
    int previousStart = 0;
    int steps = 0;
    for (bool found = r.Match(); found && steps < kMaxSteps; found = r.MatchAgain(), ++steps) {
        CheckGroups(r);
        const int end = r.MatchedExpressionOffset() + r.MatchedExpressionLength();
        CHECK(r.Start() == (r.MatchedExpressionLength() == 0 ? end + 1 : end));
        CHECK(r.Start() > previousStart);  // MatchAgain always moves on
        previousStart = r.Start();
    }
}

void ReplaceChecks(TPcreRegex& r, const std::string& replacement)
{
    r.SetReplacement(replacement);
    if (!r.Match()) {
        // Without a match only escapes are processed; a group reference asserts.
        try {
            r.ComputeReplacement();
        } catch (const EAssertionFailed& e) {
            CHECK(StartsWith(e.Message(), "REQUIRE: There must be a successful match first"));
        }
        return;
    }
    CheckGroups(r);
    r.StoreSubExpressions();
    const std::string whole = r.MatchedExpression();
    const std::string subject = r.Subject();
    const int offset = r.MatchedExpressionOffset();
    const int length = r.MatchedExpressionLength();
    const int start = r.Start();
    const int stop = r.Stop();
    const std::string computed = r.ComputeReplacement();
    const std::string replaced = r.Replace();
    CHECK(replaced == computed);
    CHECK(r.Subject() == subject.substr(0, offset - 1) + replaced + subject.substr(offset - 1 + length));
    const int delta = static_cast<int>(replaced.size()) - length;
    CHECK(r.Start() == start + delta && r.Stop() == stop + delta);
    CHECK(!r.FoundMatch());

    // Stored copies survive a new subject.
    r.SetSubject(subject);
    CHECK(r.Match());
    r.StoreSubExpressions();
    r.SetSubject("");
    CHECK(r.FoundMatch() && r.MatchedExpression() == whole);

    const std::string prefix = subject.substr(0, kMaxWalkSubject);
    r.SetSubject(prefix);
    const bool any = r.Match();
    r.SetSubject(prefix);
    int calls = 0;
    r.OnReplace = [&calls](TPcreRegex*, std::string& with) {
        if (++calls > kMaxSteps) with.clear();  // keep the run short, growth is not the point
    };
    CHECK(r.ReplaceAll() == any);
    r.OnReplace = nullptr;
}

void SplitChecks(TPcreRegex& r, const std::string& subject, int limit)
{
    r.SetSubject(subject);
    std::vector<std::string> pieces{"kept"};
    r.Split(&pieces, limit);
    CHECK(pieces.size() >= 2 && pieces[0] == "kept");
    if (limit > 1) CHECK(static_cast<int>(pieces.size()) - 1 <= limit);
    size_t total = 0;
    for (size_t i = 1; i < pieces.size(); ++i) total += pieces[i].size();
    CHECK(total <= subject.size());
}

void ListChecks(TPcreRegex& r, const std::string& subject)
{
    TPcreRegex other;
    other.SetRegEx(".");
    other.SetState(r.State());
    TPcreRegexList list;
    list.Add(&r);
    list.Add(&other);
    list.SetSubject(subject);
    int previousEnd = 0;
    int steps = 0;
    for (bool found = list.Match(); found && steps < kMaxSteps; found = list.MatchAgain(), ++steps) {
        TPcreRegex* m = list.MatchedRegEx();
        CHECK(m == &r || m == &other);
        const int offset = m->MatchedExpressionOffset();
        const int end = offset + m->MatchedExpressionLength();
        CHECK(offset >= previousEnd);  // never goes back, never repeats a match
        previousEnd = end == offset ? end + 1 : end;
    }
}

void EscapeChecks(const std::string& text)
{
    if (text.empty()) return;
    TPcreRegex r;
    r.SetRegEx(TPcreRegex::EscapeRegExChars(text));  // must always compile
    r.SetSubject(text);
    CHECK(r.Match());
    CHECK(r.MatchedExpressionOffset() == 1 && r.MatchedExpression() == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    const std::string input(reinterpret_cast<const char*>(data) + 2, size - 2);
    const size_t first = input.find('\x01');
    const size_t second = first == std::string::npos ? std::string::npos : input.find('\x01', first + 1);
    const std::string pattern = input.substr(0, first);
    const std::string replacement =
        first == std::string::npos ? "" : input.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    const std::string subject = second == std::string::npos ? "" : input.substr(second + 1);

    TPcreRegexOptions options;
    for (int i = 0; i < 8; ++i)
        if (data[0] & (1 << i)) options |= kOptions[i];
    TPcreRegexState state;
    for (int i = 0; i < 3; ++i)
        if (data[1] & (1 << i)) state |= kStates[i];
    const bool study = data[1] & 0x08;
    const int limit = ((data[1] >> 4) & 0x07) - 1;

    EscapeChecks(pattern);

    TPcreRegex r;
    r.SetOptions(options);
    r.SetState(state);
    r.SetRegEx(pattern);
    try {
        if (study)
            r.Study();
        else
            r.Compile();
    } catch (const EAssertionFailed&) {
        CHECK(false);
    } catch (const Exception& e) {
        CHECK(StartsWith(e.Message(), "TPcreRegex.Compile() - "));
        CHECK(!r.Compiled());
        return 0;
    }
    CHECK(r.Compiled());
    r.NamedSubExpression(replacement);

    r.SetSubject(subject);
    Walk(r);
    r.SetSubject(subject);
    r.SetStart(static_cast<int>(subject.size() / 2));
    r.SetStop(static_cast<int>(subject.size()) - 1);
    if (r.MatchAgain()) CheckGroups(r);
    r.SetSubject(subject);
    ReplaceChecks(r, replacement);
    SplitChecks(r, subject.substr(0, kMaxWalkSubject), limit);
    ListChecks(r, subject);
    return 0;
}
