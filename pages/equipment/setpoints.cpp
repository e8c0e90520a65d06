#include "pages/equipment/setpoints.h"

namespace setpoints {

int wholeCount(const QString &text)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    return ok ? n : 0;
}

// Range bounds count toward zero: 10.5 gives 10, text that is no number 0.
static int truncatedBound(const QString &text)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    return ok ? static_cast<int>(v) : 0;
}

static QStringList row(bool included, int n, bool single, const QString &down, const QString &up)
{
    QStringList cells;
    if (!included) {
        for (int k = 1; k <= n; ++k)
            cells << QStringLiteral("N");
        return cells;
    }
    const int lo = truncatedBound(down);
    const int hi = truncatedBound(up);
    if (single) {
        cells << QString::number((lo + hi) / 2);
        return cells;
    }
    const int step = (hi - lo) / (n - 1);
    cells << down;
    for (int k = 2; k <= n - 1; ++k)
        cells << QString::number(lo + (k - 1) * step);
    cells << up;
    return cells;
}

Grid generate(const QString &category, const QString &countText, const QString &temDown,
              const QString &temUp, const QString &humDown, const QString &humUp)
{
    Grid g;
    const int n = wholeCount(countText);
    g.points = n >= 1 ? n : 0;
    for (int k = 0; k < g.points; ++k) {
        g.tem << QString();
        g.hum << QString();
    }
    if (temDown.isEmpty() || temUp.isEmpty() || humDown.isEmpty() || humUp.isEmpty()) {
        g.rangeMissing = true;
        return g;
    }
    const bool single = countText == QLatin1String("1");
    if (n < 2 && !single)
        return g;
    const bool withTem = category != QStringLiteral("湿度");
    const bool withHum = category != QStringLiteral("温度");
    g.tem = row(withTem, n, single, temDown, temUp);
    g.hum = row(withHum, n, single, humDown, humUp);
    return g;
}

bool storableCount(const QString &countText)
{
    bool ok = false;
    const int n = countText.toInt(&ok);
    return ok && n >= 1 && n <= 10;
}

} // namespace setpoints
