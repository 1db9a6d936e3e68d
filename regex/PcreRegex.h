#pragma once
// TPcreRegex: one PCRE2 pattern compiled on demand, matched against a byte
// string, with 1-based offsets, its own replacement syntax, replace and split.
// TPcreRegexList: several patterns over one subject, earliest match wins.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

// Opaque PCRE2 (8-bit) types, so that users of this header need not include pcre2.h.
struct pcre2_real_code_8;
struct pcre2_real_match_data_8;
struct pcre2_real_compile_context_8;
struct pcre2_real_match_context_8;
struct pcre2_real_jit_stack_8;

// A small set of enumerators whose values are distinct bits.
template <typename E>
class TFlagSet {
public:
    using Bits = std::underlying_type_t<E>;

    constexpr TFlagSet() noexcept = default;
    constexpr TFlagSet(E e) noexcept : bits_(static_cast<Bits>(e)) {}

    constexpr bool Contains(E e) const noexcept { return (bits_ & static_cast<Bits>(e)) != 0; }
    constexpr bool Empty() const noexcept { return bits_ == 0; }
    constexpr Bits ToBits() const noexcept { return bits_; }

    constexpr TFlagSet operator|(TFlagSet other) const noexcept { return FromBits(bits_ | other.bits_); }
    constexpr TFlagSet operator-(TFlagSet other) const noexcept { return FromBits(bits_ & ~other.bits_); }
    constexpr TFlagSet& operator|=(TFlagSet other) noexcept { bits_ |= other.bits_; return *this; }
    constexpr TFlagSet& operator-=(TFlagSet other) noexcept { bits_ &= ~other.bits_; return *this; }
    constexpr bool operator==(const TFlagSet&) const noexcept = default;

private:
    static constexpr TFlagSet FromBits(Bits b) noexcept { TFlagSet s; s.bits_ = b; return s; }
    Bits bits_ = 0;
};

enum TPcreRegexOption : unsigned {
    preCaseLess = 1u << 0,
    preMultiLine = 1u << 1,
    preSingleLine = 1u << 2,
    preExtended = 1u << 3,
    preAnchored = 1u << 4,
    preDollarEndOnly = 1u << 5,
    preExtra = 1u << 6,
    preUnGreedy = 1u << 7,
};
using TPcreRegexOptions = TFlagSet<TPcreRegexOption>;
constexpr TPcreRegexOptions operator|(TPcreRegexOption a, TPcreRegexOption b) noexcept
{
    return TPcreRegexOptions(a) | b;
}

enum TPcreRegexStateFlag : unsigned {
    preNotBOL = 1u << 0,
    preNotEOL = 1u << 1,
    preNotEmpty = 1u << 2,
};
using TPcreRegexState = TFlagSet<TPcreRegexStateFlag>;
constexpr TPcreRegexState operator|(TPcreRegexStateFlag a, TPcreRegexStateFlag b) noexcept
{
    return TPcreRegexState(a) | b;
}

class TPcreRegex {
public:
    using TNotifyEvent = std::function<void(TPcreRegex* sender)>;
    using TReplaceEvent = std::function<void(TPcreRegex* sender, std::string& replaceWith)>;

    TPcreRegex();
    ~TPcreRegex();
    TPcreRegex(const TPcreRegex&) = delete;
    TPcreRegex& operator=(const TPcreRegex&) = delete;

    TPcreRegexOptions Options() const { return options_; }
    void SetOptions(TPcreRegexOptions value);
    const std::string& RegEx() const { return regex_; }
    void SetRegEx(const std::string& value);
    const std::string& Replacement() const { return replacement_; }
    void SetReplacement(const std::string& value) { replacement_ = value; }

    // Called after every successful Match or MatchAgain.
    TNotifyEvent OnMatch;
    // Called by Replace with the computed text, which it may change.
    TReplaceEvent OnReplace;

    const std::string& Subject() const { return subject_; }
    void SetSubject(std::string value);
    int Start() const { return start_; }
    void SetStart(int value);
    int Stop() const { return stop_; }
    void SetStop(int value);
    TPcreRegexState State() const { return state_; }
    void SetState(TPcreRegexState value) { state_ = value; }

    bool Compiled() const { return compiled_; }
    bool Studied() const { return studied_; }

    bool FoundMatch() const { return resultCount_ > 0; }
    std::string MatchedExpression() const { return SubExpressions(0); }
    int MatchedExpressionOffset() const { return SubExpressionOffsets(0); }
    int MatchedExpressionLength() const { return SubExpressionLengths(0); }
    // Number of the highest group set by the last match.
    int SubExpressionCount() const;
    std::string SubExpressions(int index) const;
    int SubExpressionOffsets(int index) const;
    int SubExpressionLengths(int index) const;

    void Compile();
    // Compiles if needed, then JIT-compiles; without a JIT the interpreter is used.
    void Study();
    bool Match();
    bool MatchAgain();
    std::string Replace();
    bool ReplaceAll();
    std::string ComputeReplacement();
    void Split(std::vector<std::string>* strings, int limit);
    void StoreSubExpressions();
    void ClearStoredSubExpressions();
    int NamedSubExpression(const std::string& name);
    static std::string EscapeRegExChars(const std::string& text);
    void CleanUp();

private:
    static constexpr int kOffsetVectorSize = 300;
    // Like the classic offset vector: one third is never handed out as pairs.
    static constexpr int kOffsetPairs = kOffsetVectorSize / 3;

    void FreeResources();
    bool DoMatch(int startOffset);
    void RequireMatch() const;
    void RequireIndex(int index) const;

    TPcreRegexOptions options_;
    std::string regex_;
    std::string replacement_;
    std::string subject_;
    int start_ = 1;
    int stop_ = 0;
    TPcreRegexState state_ = preNotEmpty;

    uint32_t compileFlags_ = 0;
    bool compiled_ = false;
    bool studied_ = false;
    pcre2_real_code_8* pattern_ = nullptr;
    const uint8_t* tables_ = nullptr;
    pcre2_real_compile_context_8* compileContext_ = nullptr;
    pcre2_real_match_context_8* matchContext_ = nullptr;
    pcre2_real_jit_stack_8* jitStack_ = nullptr;
    pcre2_real_match_data_8* matchData_ = nullptr;

    std::array<int, kOffsetVectorSize> offsets_{};
    int resultCount_ = 0;
    bool stored_ = false;
    std::vector<std::string> storedSubExpressions_;
};

// Runs several patterns (not owned) over one subject; the earliest match wins,
// and among equal offsets the one listed first.
class TPcreRegexList {
public:
    int Add(TPcreRegex* regex);
    void Insert(int index, TPcreRegex* regex);
    void Delete(int index);
    void Clear();
    int IndexOf(const TPcreRegex* regex) const;
    int Count() const { return static_cast<int>(items_.size()); }
    TPcreRegex* RegEx(int index) const { return items_.at(index).regex; }
    void SetRegEx(int index, TPcreRegex* regex);

    const std::string& Subject() const { return subject_; }
    void SetSubject(const std::string& value);
    int Start() const { return start_; }
    void SetStart(int value);
    int Stop() const { return stop_; }
    void SetStop(int value);
    TPcreRegex* MatchedRegEx() const { return matched_; }

    bool Match();
    bool MatchAgain();

private:
    struct Item {
        TPcreRegex* regex;
        // Position the list last searched this object from; -1 when its
        // current match (if any) was not found by the list's current walk.
        int searchedFrom;
    };
    void Attach(Item& item);
    void Forget();
    template <class Apply>
    void ApplyToAll(Apply apply);
    bool Walk(bool fresh);

    std::vector<Item> items_;
    std::string subject_;
    int start_ = 0;
    int stop_ = 0;
    TPcreRegex* matched_ = nullptr;
};
