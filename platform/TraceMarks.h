#pragma once
// Time marks for the start-up benchmark: with CHRONEL_TRACE_MARKS=1 in the
// environment, TraceMark prints "chronel-mark NAME MICROSECONDS" on stderr
// (microseconds since the epoch, so a watcher outside can line them up with
// its own stamps). Otherwise it does nothing.
void TraceMark(const char* name);
