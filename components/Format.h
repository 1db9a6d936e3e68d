#pragma once
#include <string>

// "#.##": at most two decimals, rounded half away from zero, no leading or
// trailing zeros; zero gives the empty text. decimalSeparator 0 = the locale's.
std::string FormatMinutes(double value, char decimalSeparator = 0);

// A time of day (fraction of a day, any date part ignored) in the locale's
// long time format.
std::string FormatLongTime(double dateTime);

// Whole seconds between two date-times.
long long SecondsBetween(double a, double b);
