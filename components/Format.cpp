#include "components/Format.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTime>
#include <cmath>
#include <cstdio>

std::string FormatMinutes(double value, char decimalSeparator)
{
    if (decimalSeparator == 0) {
        const QString sep = QLocale::system().decimalPoint();
        decimalSeparator = sep.isEmpty() ? '.' : sep.at(0).toLatin1();
        if (decimalSeparator == 0) decimalSeparator = '.';
    }
    if (!std::isfinite(value)) return std::string();
    // Round the hundredths half away from zero.
    const double scaled = std::round(std::fabs(value) * 100.0);
    if (scaled == 0.0) return std::string();
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.0f", scaled);
    std::string d = digits;
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
    return static_cast<long long>(std::fabs(a - b) * 86400.0 + 1e-7);
}
