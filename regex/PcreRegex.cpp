#include "regex/PcreRegex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "components/Exceptions.h"

namespace {

constexpr struct {
    TPcreRegexOption option;
    uint32_t flag;
} kCompileFlags[] = {
    {preCaseLess, PCRE2_CASELESS},
    {preMultiLine, PCRE2_MULTILINE},
    {preSingleLine, PCRE2_DOTALL},
    {preExtended, PCRE2_EXTENDED},
    {preAnchored, PCRE2_ANCHORED},
    {preDollarEndOnly, PCRE2_DOLLAR_ENDONLY},
    {preUnGreedy, PCRE2_UNGREEDY},
    // preExtra has no compile flag: see Compile().
};

// Largest JIT stack a studied pattern may grow; the interpreter's own limit
// is the (much larger) default heap limit.
constexpr size_t kJitStackStart = 32 * 1024;
constexpr size_t kJitStackMax = 8 * 1024 * 1024;

const char* const kMatchFirst = "REQUIRE: There must be a successful match first";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c); }

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// Characters after which \I starts a new word (the apostrophe is handled apart).
bool IsWordSeparator(unsigned char c)
{
    return c <= 38 || (c >= 40 && c <= 46) || c == 60 || c == 63 || c == 91 || c == 123 || c == 183;
}

std::string ConvertCase(std::string text, char mode)
{
    switch (mode) {
    case 'L': case 'l':
        std::transform(text.begin(), text.end(), text.begin(), Lower);
        break;
    case 'U': case 'u':
        std::transform(text.begin(), text.end(), text.begin(), Upper);
        break;
    case 'F': case 'f':
        std::transform(text.begin(), text.end(), text.begin(), Lower);
        if (!text.empty()) text[0] = Upper(text[0]);
        break;
    case 'I': case 'i': {
        bool wordStart = true;
        for (char& c : text) {
            c = Lower(c);
            if (c == '\'') continue;  // never capitalised, keeps the next one a word start
            if (wordStart) c = Upper(c);
            wordStart = IsWordSeparator(static_cast<unsigned char>(c));
        }
        break;
    }
    default:
        break;
    }
    return text;
}

int ClampToInt(size_t n) { return n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n); }

}  // namespace

// ---------------------------------------------------------------------------
// TPcreRegex

TPcreRegex::TPcreRegex()
{
    tables_ = pcre2_maketables(nullptr);
    compileContext_ = pcre2_compile_context_create(nullptr);
    matchContext_ = pcre2_match_context_create(nullptr);
    matchData_ = pcre2_match_data_create(kOffsetPairs, nullptr);
    if (!tables_ || !compileContext_ || !matchContext_ || !matchData_) {
        FreeResources();
        throw std::bad_alloc();
    }
    pcre2_set_character_tables(compileContext_, tables_);
#ifdef CHRONEL_REGEX_MATCH_LIMIT
    // The fuzz build bounds the work one match may do, so that every input
    // runs in well under a second under the sanitizers.
    pcre2_set_match_limit(matchContext_, CHRONEL_REGEX_MATCH_LIMIT);
    pcre2_set_depth_limit(matchContext_, CHRONEL_REGEX_DEPTH_LIMIT);
#endif
}

TPcreRegex::~TPcreRegex()
{
    CleanUp();
    FreeResources();
}

void TPcreRegex::FreeResources()
{
    pcre2_match_data_free(matchData_);
    pcre2_jit_stack_free(jitStack_);
    pcre2_match_context_free(matchContext_);
    pcre2_compile_context_free(compileContext_);
    pcre2_maketables_free(nullptr, tables_);
    matchData_ = nullptr;
    jitStack_ = nullptr;
    matchContext_ = nullptr;
    compileContext_ = nullptr;
    tables_ = nullptr;
}

void TPcreRegex::SetOptions(TPcreRegexOptions value)
{
    if (value == options_) return;
    options_ = value;
    compileFlags_ = 0;
    for (const auto& entry : kCompileFlags)
        if (options_.Contains(entry.option)) compileFlags_ |= entry.flag;
    CleanUp();
}

void TPcreRegex::SetRegEx(const std::string& value)
{
    if (value == regex_) return;
    regex_ = value;
    CleanUp();
}

void TPcreRegex::SetSubject(std::string value)
{
    subject_ = std::move(value);
    start_ = 1;
    stop_ = ClampToInt(subject_.size());
    if (!stored_) resultCount_ = 0;
}

void TPcreRegex::SetStart(int value) { start_ = value < 1 ? 1 : value; }

void TPcreRegex::SetStop(int value)
{
    const int length = ClampToInt(subject_.size());
    stop_ = value > length ? length : value;
}

void TPcreRegex::CleanUp()
{
    compiled_ = false;
    studied_ = false;
    start_ = 1;
    pcre2_code_free(pattern_);  // also frees the JIT code
    pattern_ = nullptr;
    ClearStoredSubExpressions();
    resultCount_ = 0;
}

void TPcreRegex::Compile()
{
    if (regex_.empty())
        throw Exception("TPcreRegex.Compile() - Please specify a regular expression in RegEx first");
    CleanUp();
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    pcre2_set_compile_extra_options(compileContext_, 0);
    // Without preExtra a letter escape with no meaning stands for the letter.
    // PCRE2's option for that would also let malformed escapes through (a
    // trailing backslash, "\c" at the end), so each unknown letter escape the
    // library rejects loses its backslash, one at a time; any other error is
    // raised at its offset in the pattern as given.
    std::string pattern = regex_;
    std::vector<std::size_t> dropped;  // offsets in regex_ of removed backslashes
    for (;;) {
        pattern_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), compileFlags_,
                                 &errorCode, &errorOffset, compileContext_);
        if (pattern_ || options_.Contains(preExtra) ||
            (errorCode != PCRE2_ERROR_UNKNOWN_ESCAPE && errorCode != PCRE2_ERROR_UNSUPPORTED_ESCAPE_SEQUENCE))
            break;
        // The offset names the letter after the backslash.
        if (errorOffset < 1 || errorOffset >= pattern.size() || pattern[errorOffset - 1] != '\\' ||
            !std::isalpha(static_cast<unsigned char>(pattern[errorOffset])))
            break;
        const std::size_t at = errorOffset - 1;
        std::size_t original = at;
        for (std::size_t d : dropped)
            if (d <= original) ++original;
        dropped.insert(std::upper_bound(dropped.begin(), dropped.end(), original), original);
        pattern.erase(at, 1);
    }
    // Report offsets in the pattern as the caller wrote it.
    for (std::size_t d : dropped)
        if (d <= errorOffset) ++errorOffset;
    if (!pattern_) {
        PCRE2_UCHAR text[256];
        if (pcre2_get_error_message(errorCode, text, sizeof text) == PCRE2_ERROR_BADDATA)
            std::strcpy(reinterpret_cast<char*>(text), "unknown error");
        throw Exception("TPcreRegex.Compile() - Error in regex at offset " +
                        std::to_string(ClampToInt(errorOffset)) + ": " + reinterpret_cast<const char*>(text));
    }
    compiled_ = true;
}

void TPcreRegex::Study()
{
    if (!compiled_) Compile();
    // A pattern the JIT cannot take (or a system without one) simply stays
    // with the interpreter: nothing useful was learned, which is no error.
    if (pcre2_jit_compile(pattern_, PCRE2_JIT_COMPLETE) == 0 && !jitStack_) {
        jitStack_ = pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr);
        if (jitStack_) pcre2_jit_stack_assign(matchContext_, nullptr, jitStack_);
    }
    studied_ = true;
}

bool TPcreRegex::Match() { return DoMatch(0); }

bool TPcreRegex::MatchAgain() { return DoMatch(start_ - 1); }

bool TPcreRegex::DoMatch(int startOffset)
{
    ClearStoredSubExpressions();
    if (!compiled_) Compile();
    uint32_t flags = 0;
    if (state_.Contains(preNotBOL)) flags |= PCRE2_NOTBOL;
    if (state_.Contains(preNotEOL)) flags |= PCRE2_NOTEOL;
    if (state_.Contains(preNotEmpty)) flags |= PCRE2_NOTEMPTY;

    // Stop never exceeds the subject through the setters; the clamp keeps
    // PCRE2 inside the string whatever the caller did in between.
    const size_t length = std::min(static_cast<size_t>(std::max(stop_, 0)), subject_.size());
    // Nothing to search when Stop lies before the search start; for Match that
    // is the first character, whatever Start a previous walk left behind.
    if (startOffset < 0 || stop_ < startOffset + 1 || static_cast<size_t>(startOffset) > length) {
        resultCount_ = -1;
    } else {
        // Errors (match limit, ...) are negative like "no match"; 0 means
        // more groups were set than the offset vector holds.
        resultCount_ = pcre2_match(pattern_, reinterpret_cast<PCRE2_SPTR>(subject_.data()), length,
                                   static_cast<PCRE2_SIZE>(startOffset), flags, matchData_, matchContext_);
    }
    if (resultCount_ > 0) {
        const PCRE2_SIZE* vector = pcre2_get_ovector_pointer(matchData_);
        for (int i = 0; i < 2 * resultCount_; ++i)
            offsets_[i] = vector[i] == PCRE2_UNSET ? 0 : ClampToInt(vector[i] + 1);
        start_ = offsets_[1];
        if (offsets_[0] == offsets_[1]) start_ = offsets_[1] + 1;
        if (OnMatch) OnMatch(this);
    }
    return resultCount_ > 0;
}

void TPcreRegex::RequireMatch() const { CHRONEL_REQUIRE(resultCount_ > 0, kMatchFirst); }

void TPcreRegex::RequireIndex(int index) const
{
    RequireMatch();
    CHRONEL_REQUIRE(index >= 0 && index <= resultCount_ - 1, "REQUIRE: Index <= SubExpressionCount");
}

int TPcreRegex::SubExpressionCount() const
{
    RequireMatch();
    return resultCount_ - 1;
}

std::string TPcreRegex::SubExpressions(int index) const
{
    RequireMatch();
    if (index > resultCount_ - 1) return {};
    CHRONEL_REQUIRE(index >= 0, "REQUIRE: Index <= SubExpressionCount");
    if (stored_) return storedSubExpressions_[index];
    const int offset = offsets_[2 * index];
    const int length = offsets_[2 * index + 1] - offset;
    if (offset < 1 || length <= 0 || static_cast<size_t>(offset - 1) >= subject_.size()) return {};
    return subject_.substr(offset - 1, length);
}

int TPcreRegex::SubExpressionOffsets(int index) const
{
    RequireIndex(index);
    return offsets_[2 * index];
}

int TPcreRegex::SubExpressionLengths(int index) const
{
    RequireIndex(index);
    return offsets_[2 * index + 1] - offsets_[2 * index];
}

void TPcreRegex::StoreSubExpressions()
{
    if (resultCount_ <= 0) return;
    ClearStoredSubExpressions();
    storedSubExpressions_.resize(resultCount_);
    for (int i = resultCount_ - 1; i >= 0; --i) storedSubExpressions_[i] = SubExpressions(i);
    stored_ = true;
}

void TPcreRegex::ClearStoredSubExpressions()
{
    stored_ = false;
    storedSubExpressions_.clear();
}

int TPcreRegex::NamedSubExpression(const std::string& name)
{
    if (!pattern_) return PCRE2_ERROR_NULL;
    if (name.find('\0') != std::string::npos) return PCRE2_ERROR_NOSUBSTRING;
    const auto* sname = reinterpret_cast<PCRE2_SPTR>(name.c_str());
    int number = pcre2_substring_number_from_name(pattern_, sname);
    if (number == PCRE2_ERROR_NOUNIQUESUBSTRING) {
        // A duplicated name (?J) means its lowest-numbered group.
        PCRE2_SPTR first = nullptr;
        PCRE2_SPTR last = nullptr;
        if (pcre2_substring_nametable_scan(pattern_, sname, &first, &last) > 0 && first)
            number = (first[0] << 8) | first[1];
    }
    return number;
}

std::string TPcreRegex::ComputeReplacement()
{
    std::string s = replacement_;
    size_t i = 0;  // scan position; the last character never starts a reference

    // Replaces s[i, end) by group `number` (converted per `mode`) and moves past it.
    auto expand = [&](size_t end, int number, char mode) {
        std::string text;
        if (number <= SubExpressionCount()) text = ConvertCase(SubExpressions(number), mode);
        s.replace(i, end - i, text);
        i += text.size();
    };
    // A one- or two-digit group number at s[j]; two digits only when that group exists.
    auto digits = [&](size_t& j) {
        int number = s[j++] - '0';
        if (j < s.size() && IsDigit(s[j])) {
            const int two = number * 10 + (s[j] - '0');
            if (two <= SubExpressionCount()) {
                number = two;
                ++j;
            }
        }
        return number;
    };

    while (i + 1 < s.size()) {
        const char c = s[i];
        const char next = s[i + 1];
        if (c == '\\') {
            if (next == '\\' || next == '$') {
                s.erase(i, 1);
                ++i;
            } else if (IsDigit(next)) {
                size_t j = i + 1;
                const int number = digits(j);
                expand(j, number, 0);
            } else if (std::strchr("FfIiLlUu", next) && i + 2 < s.size() && IsDigit(s[i + 2])) {
                size_t j = i + 2;
                const int number = digits(j);
                expand(j, number, next);
            } else if ((next == 'g' || next == 'G') && i + 3 < s.size() && s[i + 2] == '<' &&
                       IsNameStart(s[i + 3])) {
                size_t j = i + 4;
                while (j < s.size() && IsNameChar(s[j])) ++j;
                if (j < s.size() && s[j] == '>') {
                    const int number = NamedSubExpression(s.substr(i + 3, j - i - 3));
                    if (number >= 1)
                        expand(j + 1, number, 0);
                    else
                        s.erase(i, j + 1 - i);
                } else {
                    i = j;
                }
            } else {
                ++i;
            }
        } else if (c == '$') {
            if (next == '$') {
                s.erase(i, 1);
                ++i;
            } else if (IsDigit(next)) {
                size_t j = i + 1;
                const int number = digits(j);
                expand(j, number, 0);
            } else if (next == '{' && i + 2 < s.size()) {
                size_t j = i + 2;
                int number = -1;
                if (IsDigit(s[j])) {
                    number = 0;
                    for (; j < s.size() && IsDigit(s[j]); ++j)
                        number = std::min(number * 10 + (s[j] - '0'), 1000000);  // saturates: no such group
                } else if (IsNameStart(s[j])) {
                    const size_t nameStart = j;
                    while (j < s.size() && IsNameChar(s[j])) ++j;
                    if (j < s.size() && s[j] == '}') number = NamedSubExpression(s.substr(nameStart, j - nameStart));
                }
                if (number >= 0 && j < s.size() && s[j] == '}')
                    expand(j + 1, number, 0);
                else
                    ++i;  // no closing brace or unknown name: stays as text
            } else {
                ++i;
            }
        } else {
            ++i;
        }
    }
    return s;
}

std::string TPcreRegex::Replace()
{
    RequireMatch();
    const int offset = MatchedExpressionOffset();
    const int length = MatchedExpressionLength();
    std::string replaceWith = ComputeReplacement();
    if (OnReplace) OnReplace(this, replaceWith);
    // The handler may have changed the subject: stay inside it.
    const size_t at = std::min(static_cast<size_t>(offset - 1), subject_.size());
    subject_.replace(at, static_cast<size_t>(length), replaceWith);
    const int delta = ClampToInt(replaceWith.size()) - length;
    start_ += delta;
    stop_ += delta;
    ClearStoredSubExpressions();
    resultCount_ = 0;
    return replaceWith;
}

bool TPcreRegex::ReplaceAll()
{
    if (!Match()) return false;
    do {
        Replace();
    } while (MatchAgain());
    return true;
}

void TPcreRegex::Split(std::vector<std::string>* strings, int limit)
{
    CHRONEL_REQUIRE(strings != nullptr, "REQUIRE: Strings");
    if (limit == 1 || !Match()) {
        strings->push_back(subject_);
        return;
    }
    auto piece = [this](int from, int to) {  // 1-based [from, to)
        from = std::clamp(from, 1, ClampToInt(subject_.size()) + 1);
        return to > from ? subject_.substr(from - 1, to - from) : std::string();
    };
    int from = 1;
    int count = 1;
    do {
        strings->push_back(piece(from, MatchedExpressionOffset()));
        ++count;
        from = MatchedExpressionOffset() + MatchedExpressionLength();
    } while (!(limit > 1 && count >= limit) && MatchAgain());
    strings->push_back(piece(from, INT_MAX));
}

std::string TPcreRegex::EscapeRegExChars(const std::string& text)
{
    std::string result;
    result.reserve(text.size() + text.size() / 4);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\0') {
            // "\0" swallows up to two following octal digits; spell all three then.
            const bool octalNext = i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '7';
            result += octalNext ? "\\000" : "\\0";
            continue;
        }
        if (std::strchr("$()*+.?[\\]^{|}", c)) result += '\\';
        result += c;
    }
    return result;
}

// ---------------------------------------------------------------------------
// TPcreRegexList

void TPcreRegexList::Attach(Item& item)
{
    item.regex->SetSubject(subject_);
    item.regex->SetStart(start_);
    item.searchedFrom = -1;
}

void TPcreRegexList::Forget() { matched_ = nullptr; }

int TPcreRegexList::Add(TPcreRegex* regex)
{
    items_.push_back({regex, -1});
    Attach(items_.back());
    return Count() - 1;
}

void TPcreRegexList::Insert(int index, TPcreRegex* regex)
{
    if (index < 0 || index > Count()) throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    auto it = items_.insert(items_.begin() + index, Item{regex, -1});
    Attach(*it);
}

void TPcreRegexList::SetRegEx(int index, TPcreRegex* regex)
{
    Item& item = items_.at(index);
    if (item.regex == matched_) Forget();
    item.regex = regex;
    Attach(item);
}

void TPcreRegexList::Delete(int index)
{
    if (index < 0 || index >= Count()) throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    // A removed object may be destroyed next: never look at it again.
    if (items_[index].regex == matched_) Forget();
    items_.erase(items_.begin() + index);
}

void TPcreRegexList::Clear()
{
    items_.clear();
    Forget();
}

int TPcreRegexList::IndexOf(const TPcreRegex* regex) const
{
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].regex == regex) return static_cast<int>(i);
    return -1;
}

template <class Apply>
void TPcreRegexList::ApplyToAll(Apply apply)
{
    // Every object takes the new value and the list's walk starts afresh.
    for (Item& item : items_) {
        apply(*item.regex);
        item.searchedFrom = -1;
    }
    Forget();
}

void TPcreRegexList::SetSubject(const std::string& value)
{
    if (value == subject_) return;
    subject_ = value;
    ApplyToAll([&](TPcreRegex& r) { r.SetSubject(value); });
}

void TPcreRegexList::SetStart(int value)
{
    if (value == start_) return;
    start_ = value;
    ApplyToAll([&](TPcreRegex& r) { r.SetStart(value); });
}

void TPcreRegexList::SetStop(int value)
{
    if (value == stop_) return;
    stop_ = value;
    ApplyToAll([&](TPcreRegex& r) { r.SetStop(value); });
}

bool TPcreRegexList::Match()
{
    SetStart(1);
    Forget();
    return Walk(true);
}

bool TPcreRegexList::MatchAgain() { return Walk(false); }

bool TPcreRegexList::Walk(bool fresh)
{
    int p = start_;
    if (matched_ && matched_->FoundMatch()) {
        const int length = matched_->MatchedExpressionLength();
        p = matched_->MatchedExpressionOffset() + length;
        if (length == 0) ++p;  // an empty match must not be reported again
    }
    Forget();
    int best = INT_MAX;
    for (Item& item : items_) {
        TPcreRegex* regex = item.regex;
        // A match this walk found earlier, at or after p, is still the next one.
        const bool current = !fresh && item.searchedFrom >= 0 && item.searchedFrom <= p && regex->FoundMatch() &&
                             regex->MatchedExpressionOffset() >= p;
        if (!current) {
            regex->SetStart(p);
            regex->MatchAgain();
            item.searchedFrom = p;
        }
        if (regex->FoundMatch() && regex->MatchedExpressionOffset() < best) {
            matched_ = regex;
            best = regex->MatchedExpressionOffset();
        }
        if (best == p) break;
    }
    return matched_ != nullptr;
}
