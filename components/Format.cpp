#include "components/Format.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTime>
#include <cmath>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::string FormatMinutes(double value, char decimalSeparator)
{
    if (decimalSeparator == 0) {
        const QString sep = QLocale::system().decimalPoint();
        decimalSeparator = sep.isEmpty() ? '.' : sep.at(0).toLatin1();
        if (decimalSeparator == 0) decimalSeparator = '.';
    }
    if (!std::isfinite(value)) return std::string();
    // Round the decimal digits the value shows (15 significant), not its
    // binary expansion, so that 9.995 reads as 10.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
    std::string mant;
    for (const char* p = buf; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') mant += *p;
    const int exp10 = std::atoi(std::strchr(buf, 'e') + 1);
    // mant holds d.ddd... x 10^exp10; keep the digits down to the hundredths.
    const int keep = exp10 + 1 + 2;  // digits before the point plus two
    if (keep <= 0) {
        // Below 0.005 only when the first digit is the thousandths and < 5.
        if (keep == 0 && mant[0] >= '5') mant = "1";
        else return std::string();
    } else {
        const bool up = static_cast<std::size_t>(keep) < mant.size() && mant[static_cast<std::size_t>(keep)] >= '5';
        mant = mant.substr(0, std::min<std::size_t>(static_cast<std::size_t>(keep), mant.size()));
        while (mant.size() < static_cast<std::size_t>(keep)) mant += '0';
        if (up) {
            int i = static_cast<int>(mant.size()) - 1;
            while (i >= 0 && mant[static_cast<std::size_t>(i)] == '9') mant[static_cast<std::size_t>(i--)] = '0';
            if (i < 0) mant.insert(0, "1");
            else ++mant[static_cast<std::size_t>(i)];
        }
    }
    // mant is now the value in hundredths.
    std::string d = mant;
    d.erase(0, std::min(d.find_first_not_of('0'), d.size()));
    if (d.empty()) return std::string();
    if (d.size() < 3) d.insert(0, 3 - d.size(), '0');
    std::string whole = d.substr(0, d.size() - 2);
    std::string frac = d.substr(d.size() - 2);
    while (!frac.empty() && frac.back() == '0') frac.pop_back();
    if (whole == "0") whole.clear();
    std::string out = value < 0 ? "-" : "";
    out += whole;
    if (!frac.empty()) out += decimalSeparator + frac;
    return out;
}

std::string FormatLongTime(double dateTime)
{
    double frac = dateTime - std::floor(dateTime);
    int ms = static_cast<int>(std::llround(frac * 86400000.0)) % 86400000;
    QTime t = QTime::fromMSecsSinceStartOfDay(ms);
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    // A time of day carries no time zone.
    format.remove(QRegularExpression(QStringLiteral("\\s*t+")));
    return QLocale::system().toString(t, format).trimmed().toStdString();
}

long long SecondsBetween(double a, double b)
{
    // Date-times near 46000 days carry about a microsecond of noise.
    return static_cast<long long>(std::fabs(a - b) * 86400.0 + 1e-3);
}
