#include "platform/TraceMarks.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

void TraceMark(const char* name)
{
    static const bool on = [] {
        const char* v = std::getenv("CHRONEL_TRACE_MARKS");
        return v && std::strcmp(v, "1") == 0;
    }();
    if (!on) return;
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::fprintf(stderr, "chronel-mark %s %lld\n", name,
                 static_cast<long long>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000);
    std::fflush(stderr);
}
