/* Test-only preload: adds the seconds written in the file named by
   CHRONEL_TEST_BOOTTIME_OFFSET_FILE to CLOCK_BOOTTIME, the kernel clock that
   goes on counting while the machine sleeps. The program under test thus
   sees a sleep that lasted that long; nothing else changes. */
#include <dlfcn.h>
#include <cstdio>
#include <cstdlib>
#include <ctime>

extern "C" int clock_gettime(clockid_t id, struct timespec* ts) noexcept
{
    using Fn = int (*)(clockid_t, struct timespec*);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "clock_gettime"));
    int rc = real(id, ts);
    if (rc != 0 || id != CLOCK_BOOTTIME) return rc;
    const char* path = std::getenv("CHRONEL_TEST_BOOTTIME_OFFSET_FILE");
    FILE* f = path ? std::fopen(path, "r") : nullptr;
    if (!f) return rc;
    long seconds = 0;
    if (std::fscanf(f, "%ld", &seconds) == 1) ts->tv_sec += seconds;
    std::fclose(f);
    return rc;
}
