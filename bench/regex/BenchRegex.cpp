// Reading the selected work item from timer pages of several sizes: the
// wrapper, PCRE2 called directly for the same work, and std::regex.
#include <benchmark/benchmark.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <regex>
#include <string>
#include <utility>

#include "regex/PcreRegex.h"

namespace {

const char* const kPattern = "<\\s*?option .*?(selected)[^>]*?>([^<]+)</option>";

enum PageKind { kLines = 0, kOneLine = 1 };

// A timer page of about `bytes` bytes: log rows with an option tag every few
// rows, and (for kLines) one selected option at 95% of the page. kOneLine
// has no line breaks and no selected entry: the pattern's worst case.
const std::string& Page(size_t bytes, PageKind kind)
{
    static std::map<std::pair<size_t, int>, std::string> pages;
    auto& page = pages[{bytes, kind}];
    if (!page.empty()) return page;
    const char nl = kind == kLines ? '\n' : ' ';
    page = std::string("<html><head><title>Time log</title></head><body>") + nl + "<table>" + nl;
    bool selectedDone = kind == kOneLine;
    for (int i = 0; page.size() < bytes; ++i) {
        const std::string n = std::to_string(i);
        page += "<tr class=\"row\"><td>2024-05-" + std::to_string(1 + i % 28) + "</td><td>Project " + n +
                "</td><td class=\"t\">1.25</td></tr>" + nl;
        if (i % 4 == 0) page += "<option value=\"" + n + "\">Work item " + n + " - Client &amp; Co</option>" + nl;
        if (!selectedDone && page.size() >= bytes * 95 / 100) {
            page += "<option value=\"" + n + "\" selected=\"selected\">Current work item</option>" + nl;
            selectedDone = true;
        }
    }
    page += std::string("</table></body></html>") + nl;
    return page;
}

bool IsSelected(std::string group)
{
    for (char& c : group) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return group == "selected";
}

// The main window's walk: first match whose group 1 reads "selected".
std::string WrapperSelected(TPcreRegex& preg)
{
    for (bool found = preg.Match(); found; found = preg.MatchAgain())
        if (IsSelected(preg.SubExpressions(1))) return preg.SubExpressions(2);
    return {};
}

void BM_Wrapper(benchmark::State& state)
{
    const std::string& page = Page(state.range(0), static_cast<PageKind>(state.range(1)));
    TPcreRegex preg;
    preg.SetRegEx(kPattern);
    preg.SetOptions(preCaseLess);
    if (state.range(2)) preg.Study();
    preg.SetSubject(page);
    std::string item;
    for (auto _ : state) {
        item = WrapperSelected(preg);
        benchmark::DoNotOptimize(item);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * page.size());
    state.SetLabel(item.empty() ? "no item" : item);
}

// The same work on PCRE2 alone, set up as the wrapper sets it up.
class Direct {
public:
    explicit Direct(bool jit)
    {
        tables_ = pcre2_maketables(nullptr);
        compile_ = pcre2_compile_context_create(nullptr);
        pcre2_set_character_tables(compile_, tables_);
        int error;
        PCRE2_SIZE offset;
        code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(kPattern), PCRE2_ZERO_TERMINATED, PCRE2_CASELESS, &error,
                              &offset, compile_);
        match_ = pcre2_match_context_create(nullptr);
        data_ = pcre2_match_data_create(100, nullptr);
        if (jit && pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE) == 0) {
            stack_ = pcre2_jit_stack_create(32 * 1024, 8 * 1024 * 1024, nullptr);
            pcre2_jit_stack_assign(match_, nullptr, stack_);
        }
    }
    ~Direct()
    {
        pcre2_match_data_free(data_);
        pcre2_jit_stack_free(stack_);
        pcre2_match_context_free(match_);
        pcre2_code_free(code_);
        pcre2_compile_context_free(compile_);
        pcre2_maketables_free(nullptr, tables_);
    }

    std::string Selected(const std::string& page)
    {
        const auto* subject = reinterpret_cast<PCRE2_SPTR>(page.data());
        for (PCRE2_SIZE start = 0; start <= page.size();) {
            if (pcre2_match(code_, subject, page.size(), start, PCRE2_NOTEMPTY, data_, match_) <= 0) return {};
            const PCRE2_SIZE* v = pcre2_get_ovector_pointer(data_);
            if (IsSelected(page.substr(v[2], v[3] - v[2]))) return page.substr(v[4], v[5] - v[4]);
            start = v[1] == v[0] ? v[1] + 1 : v[1];
        }
        return {};
    }

private:
    const uint8_t* tables_ = nullptr;
    pcre2_compile_context* compile_ = nullptr;
    pcre2_match_context* match_ = nullptr;
    pcre2_code* code_ = nullptr;
    pcre2_match_data* data_ = nullptr;
    pcre2_jit_stack* stack_ = nullptr;
};

void BM_Direct(benchmark::State& state)
{
    const std::string& page = Page(state.range(0), static_cast<PageKind>(state.range(1)));
    Direct direct(state.range(2) != 0);
    std::string item;
    for (auto _ : state) {
        item = direct.Selected(page);
        benchmark::DoNotOptimize(item);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * page.size());
    state.SetLabel(item.empty() ? "no item" : item);
}

void BM_StdRegex(benchmark::State& state)
{
    const std::string& page = Page(state.range(0), static_cast<PageKind>(state.range(1)));
    const std::regex re(kPattern, std::regex::ECMAScript | std::regex::icase);
    std::string item;
    for (auto _ : state) {
        item.clear();
        for (std::sregex_iterator it(page.begin(), page.end(), re), end; it != end; ++it)
            if (IsSelected((*it)[1].str())) {
                item = (*it)[2].str();
                break;
            }
        benchmark::DoNotOptimize(item);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * page.size());
    state.SetLabel(item.empty() ? "no item" : item);
}

// Args: page bytes, page kind, study (JIT).
void PcreSizes(benchmark::internal::Benchmark* b)
{
    for (int64_t study : {0, 1})
        for (int64_t bytes : {10'000, 100'000, 1'000'000}) b->Args({bytes, kLines, study});
    for (int64_t study : {0, 1})
        for (int64_t bytes : {10'000, 100'000}) b->Args({bytes, kOneLine, study});
    b->Args({1'000'000, kOneLine, 1});
    b->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK(BM_Wrapper)->Apply(PcreSizes);
BENCHMARK(BM_Direct)->Apply(PcreSizes);
// The interpreter needs about 20 s for the 1 MB single-line page: one iteration each.
BENCHMARK(BM_Wrapper)->Args({1'000'000, kOneLine, 0})->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Direct)->Args({1'000'000, kOneLine, 0})->Iterations(1)->Unit(benchmark::kMillisecond);
// std::regex recurses once per character a lazy loop takes, so a long line
// overflows the stack: only the line-broken pages and a 10 KB single line.
BENCHMARK(BM_StdRegex)
    ->Args({10'000, kLines, 0})
    ->Args({100'000, kLines, 0})
    ->Args({1'000'000, kLines, 0})
    ->Args({10'000, kOneLine, 0})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
