#include "storage/records.h"

namespace storage {

Row RunHeader::toRow() const
{
    return Row{num,      dtbegin, dtend,     pointnum,  temset,  humset,
               kindsA,   kindsB,  collector, equipname, channum, samplenum,
               chanlist, envtem,  envhum,    equiptype, typesA,  typesB};
}

RunHeader RunHeader::fromRow(const Row &row)
{
    RunHeader h;
    QString *fields[kColumns] = {
        &h.num,      &h.dtbegin, &h.dtend,     &h.pointnum,  &h.temset,  &h.humset,
        &h.kindsA,   &h.kindsB,  &h.collector, &h.equipname, &h.channum, &h.samplenum,
        &h.chanlist, &h.envtem,  &h.envhum,    &h.equiptype, &h.typesA,  &h.typesB};
    for (int i = 0; i < kColumns; ++i)
        *fields[i] = row.value(i);
    return h;
}

Row Sample::toRow() const
{
    return Row{equipname, jdnum, coltime, colname, coldata};
}

Sample Sample::fromRow(const Row &row)
{
    return Sample{row.value(0), row.value(1), row.value(2), row.value(3), row.value(4)};
}

QString listText(const QStringList &items)
{
    QString text;
    for (const QString &item : items)
        text += item + QLatin1Char(';');
    return text;
}

QStringList splitList(const QString &text)
{
    QStringList items = text.split(QLatin1Char(';'));
    if (!items.isEmpty() && items.last().isEmpty())
        items.removeLast();
    return items;
}

QList<int> roadCounts(const QString &road)
{
    const QStringList items = road.split(QLatin1Char(';'));
    QList<int> counts;
    for (int i = 0; i < 3; ++i)
        counts << qMax(0, items.value(i).trimmed().toInt());
    return counts;
}

} // namespace storage
