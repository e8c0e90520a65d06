#include "results/rounding.h"

#include <QLocale>
#include <cmath>

namespace results {

namespace {

// The digits of |value| as the shortest decimal that reads back as the same
// double, and the position of the decimal point in them.
struct Digits
{
    bool negative = false;
    QString digits; // no leading zeros except a lone "0"
    int point = 0;  // digits before the decimal point (may be <= 0)
};

Digits digitsOf(double value)
{
    Digits d;
    d.negative = std::signbit(value) && value != 0;
    const QString text =
        QLocale::c().toString(std::fabs(value), 'e', QLocale::FloatingPointShortest);
    // "4.00415e+01": mantissa digits and the exponent.
    const int e = text.indexOf(QLatin1Char('e'));
    QString mantissa = text.left(e);
    const int exponent = text.mid(e + 1).toInt();
    mantissa.remove(QLatin1Char('.'));
    d.digits = mantissa;
    d.point = exponent + 1;
    return d;
}

} // namespace

QString roundDecimal(double value, int decimals)
{
    if (!std::isfinite(value))
        return QString();
    Digits d = digitsOf(value);
    // Keep `keep` digits of d.digits (those before the place rounded to).
    const int keep = d.point + decimals;
    QString kept;
    bool up = false;
    if (keep < 0) {
        kept.clear(); // everything is below half of the last place kept
    } else {
        kept = d.digits.left(keep).leftJustified(keep, QLatin1Char('0'));
        const QString rest = d.digits.mid(keep);
        if (!rest.isEmpty()) {
            const int first = rest.at(0).digitValue();
            bool beyond = false;
            for (int i = 1; i < rest.size(); ++i)
                beyond = beyond || rest.at(i) != QLatin1Char('0');
            if (first > 5 || (first == 5 && beyond))
                up = true;
            else if (first == 5) // exactly half: to the even digit
                up = !kept.isEmpty() && kept.back().digitValue() % 2 == 1;
        }
    }
    // Carry the rounding up through the kept digits.
    if (up) {
        int i = kept.size() - 1;
        while (i >= 0 && kept.at(i) == QLatin1Char('9')) {
            kept[i] = QLatin1Char('0');
            --i;
        }
        if (i >= 0)
            kept[i] = QChar(QLatin1Char('0' + kept.at(i).digitValue() + 1));
        else {
            kept.prepend(QLatin1Char('1'));
            ++d.point;
        }
    }
    // Lay the digits out around the decimal point: digit i of `kept` stands
    // i places after the first of the `d.point` integer places.
    const int decimalsShown = qMax(0, decimals);
    auto digitAt = [&](int at) { return at >= 0 && at < kept.size() ? kept.at(at) : QLatin1Char('0'); };
    QString intPart;
    for (int i = 0; i < d.point; ++i)
        intPart += digitAt(i);
    QString fracPart;
    for (int i = 0; i < decimalsShown; ++i)
        fracPart += digitAt(d.point + i);
    while (intPart.size() > 1 && intPart.front() == QLatin1Char('0'))
        intPart.remove(0, 1);
    if (intPart.isEmpty())
        intPart = QStringLiteral("0");
    QString out = intPart;
    if (decimalsShown > 0)
        out += QLatin1Char('.') + fracPart;
    bool zero = true;
    for (const QChar c : out)
        zero = zero && (c == QLatin1Char('0') || c == QLatin1Char('.'));
    if (d.negative && !zero)
        out.prepend(QLatin1Char('-'));
    return out;
}

int uncertaintyPlace(double expanded)
{
    int decimals = 1 - int(std::floor(std::log10(expanded)));
    // A rounding that reaches the next power of ten is taken at that power.
    const QString rounded = roundDecimal(expanded, decimals);
    const double u = rounded.toDouble();
    if (u > 0)
        decimals = 1 - int(std::floor(std::log10(u)));
    return qMin(decimals, 6);
}

} // namespace results
