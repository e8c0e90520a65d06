#include "acquisition/decode.h"

#include "link/commands.h"
#include "link/frames.h"

#include <algorithm>

namespace acquisition {

static bool channelNumber(const QString &text, int *n)
{
    bool ok = false;
    *n = text.trimmed().toInt(&ok);
    return ok;
}

static bool valueAt(const QString &reply, int offset, QString *value)
{
    // Values lie between the 6-character header and the 4-character CRC.
    if (offset < 6 || offset + 8 > reply.size() - 4)
        return false;
    float v = 0;
    if (!rtu::floatFromHexLE(reply.mid(offset, 8), &v))
        return false;
    *value = rtu::formatValue(v);
    return true;
}

bool decodeM701(const QString &reply, const QStringList &channels, QStringList *values)
{
    QStringList out;
    for (const QString &text : channels) {
        int n = 0;
        QString v;
        if (!channelNumber(text, &n) || n < 101 || n > 116 || !valueAt(reply, 8 * n - 802, &v))
            return false;
        out << v;
    }
    *values = out;
    return true;
}

bool decodeM702(const QString &reply, const QStringList &channels, QStringList *values)
{
    const int count = rtu::readReplyValueCount(reply);
    if (count != channels.size())
        return false;
    QList<QPair<int, int>> byNumber; // channel number, table position
    for (int i = 0; i < channels.size(); ++i) {
        int n = 0;
        if (!channelNumber(channels[i], &n))
            return false;
        byNumber << qMakePair(n, i);
    }
    std::stable_sort(byNumber.begin(), byNumber.end());
    QStringList out;
    for (int i = 0; i < channels.size(); ++i)
        out << QString();
    for (int k = 0; k < byNumber.size(); ++k) {
        QString v;
        if (!valueAt(reply, 6 + 8 * k, &v))
            return false;
        out[byNumber[k].second] = v;
    }
    *values = out;
    return true;
}

QString channelHeader(const QString &number, const QString &flags, int index)
{
    const bool humidity = index < flags.size() && flags.at(index) != QLatin1Char('0');
    return number + (humidity ? QStringLiteral("(%RH)") : QStringLiteral("(℃)"));
}

} // namespace acquisition
