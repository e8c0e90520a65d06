#include "acquisition/runlayout.h"

#include "acquisition/runtypes.h"
#include "link/frames.h"
#include "storage/statements.h"

#include <algorithm>

namespace acquisition {

QString RunSample::timeText() const
{
    return QDateTime::fromMSecsSinceEpoch(msecs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString pointLabel(int point)
{
    return QStringLiteral("检点%1").arg(point);
}

int pointOfLabel(const QString &label)
{
    static const QString prefix = QStringLiteral("检点");
    if (!label.startsWith(prefix))
        return 0;
    bool ok = false;
    const int n = label.mid(prefix.size()).trimmed().toInt(&ok);
    return ok && n > 0 ? n : 0;
}

RunLayout RunLayout::read()
{
    RunLayout l;
    const storage::Selection sel = storage::readSelection().value;
    l.countsA = storage::roadCounts(sel.roadA);
    l.countsB = storage::roadCounts(sel.roadB);
    l.roadA = sel.roadA;
    l.roadB = sel.roadB;
    l.typesA = sel.roadtypeA;
    l.typesB = sel.roadtypeB;
    l.secA = sel.secA.trimmed().toInt();
    const QList<storage::ChannelRow> a = storage::loadChannelTable(storage::Device::A).value;
    const QList<storage::ChannelRow> b = storage::loadChannelTable(storage::Device::B).value;
    l.family = rtu::familyFromProbeType(a.isEmpty() ? QString() : a.first().headtype);
    auto fill = [](const QList<storage::ChannelRow> &rows, const QString &flags, QList<int> *numbers,
                   QVector<bool> *humidity) {
        for (int i = 0; i < rows.size(); ++i) {
            *numbers << rows[i].num.trimmed().toInt();
            *humidity << (i < flags.size() && flags.at(i) != QLatin1Char('0'));
        }
    };
    fill(a, l.typesA, &l.channelsA, &l.humidityA);
    fill(b, l.typesB, &l.channelsB, &l.humidityB);
    return l;
}

int RunLayout::valuesOf(int collector) const
{
    if (!m702())
        return 16;
    return collector == 1 ? channelsA.size() : channelsB.size();
}

QList<int> RunLayout::channels(bool two) const
{
    return two ? channelsA + channelsB : channelsA;
}

QVector<bool> RunLayout::humidity(bool two) const
{
    return two ? humidityA + humidityB : humidityA;
}

QStringList RunLayout::names(bool two) const
{
    QStringList out;
    for (int n : channelsA)
        out << (two ? QStringLiteral("1-") : QString()) + QString::number(n);
    if (two)
        for (int n : channelsB)
            out << QStringLiteral("2-") + QString::number(n);
    return out;
}

QString RunLayout::storedNames(bool two) const
{
    QStringList numbers;
    for (int n : channels(two).mid(0, qMax(0, secA)))
        numbers << QString::number(n);
    return storage::listText(numbers);
}

bool RunLayout::decode(int collector, bool two, const QByteArray &reading,
                       QVector<float> *values) const
{
    // The values lie between the 3-byte header and the 2-byte CRC.
    const int count = (reading.size() - 5) / 4;
    QVector<float> out;
    if (!m702()) {
        // An M701 reads 16 channels; with two collectors each supplies the
        // sum of its road counts, with one every channel of the table.
        QList<int> channels = collector == 1 ? channelsA : channelsB;
        if (two) {
            const QList<int> &counts = collector == 1 ? countsA : countsB;
            channels = channels.mid(0, counts[0] + counts[1] + counts[2]);
        }
        for (int n : channels) {
            if (n < 101 || n > 116 || n - 101 >= count)
                return false;
            out << rtu::floatAt(reading, 3 + 4 * (n - 101));
        }
        *values = out;
        return true;
    }
    const QList<int> &channels = collector == 1 ? channelsA : channelsB;
    if (count != channels.size())
        return false;
    // One value per enabled channel in ascending channel order, assigned to
    // the table's rows by their channel numbers.
    QList<QPair<int, int>> byNumber; // channel number, table position
    for (int i = 0; i < channels.size(); ++i)
        byNumber << qMakePair(channels[i], i);
    std::stable_sort(byNumber.begin(), byNumber.end());
    out.resize(channels.size());
    for (int k = 0; k < byNumber.size(); ++k)
        out[byNumber[k].second] = rtu::floatAt(reading, 3 + 4 * k);
    *values = out;
    return true;
}

} // namespace acquisition
