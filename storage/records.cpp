#include "storage/records.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace storage {

namespace {

// Fills the fields in column order; missing trailing values read as empty.
template <int N> void fill(QString *const (&fields)[N], const Row &row)
{
    for (int i = 0; i < N; ++i)
        *fields[i] = row.value(i);
}

} // namespace

Row Collector::toRow() const
{
    return Row{num,   name,     type,      portnum,    serialnum, zqtem,      zqhum, cltem,
               clhum, zhengshu, temnosure, temnosurek, humnosure, humnosurek, todata};
}

Collector Collector::fromRow(const Row &row)
{
    Collector c;
    QString *const fields[kColumns] = {&c.num,        &c.name,      &c.type,       &c.portnum,
                                       &c.serialnum,  &c.zqtem,     &c.zqhum,      &c.cltem,
                                       &c.clhum,      &c.zhengshu,  &c.temnosure,  &c.temnosurek,
                                       &c.humnosure,  &c.humnosurek, &c.todata};
    fill(fields, row);
    return c;
}

Row Equipment::toRow() const
{
    Row row{name,   companyname,     address,  type,    model, equipmodel, listnum, temnum,
            humnum, madecompanyname, madedate, temdown, temup, humdown,    humup,   adjustnum};
    for (int i = 0; i < 10; ++i)
        row << tem.value(i);
    for (int i = 0; i < 10; ++i)
        row << hum.value(i);
    return row;
}

Equipment Equipment::fromRow(const Row &row)
{
    Equipment e;
    QString *const fields[kListColumns] = {
        &e.name,   &e.companyname,     &e.address,  &e.type,    &e.model, &e.equipmodel,
        &e.listnum, &e.temnum,         &e.humnum,   &e.madecompanyname,   &e.madedate,
        &e.temdown, &e.temup,          &e.humdown,  &e.humup,   &e.adjustnum};
    fill(fields, row);
    for (int i = 0; i < 10; ++i)
        e.tem << row.value(kListColumns + i);
    for (int i = 0; i < 10; ++i)
        e.hum << row.value(kListColumns + 10 + i);
    return e;
}

Row Company::toRow() const
{
    return Row{unitname, tel, fax, address, yzbm, website, place, booknum};
}

Company Company::fromRow(const Row &row)
{
    Company c;
    QString *const fields[kColumns] = {&c.unitname, &c.tel,     &c.fax,   &c.address,
                                       &c.yzbm,     &c.website, &c.place, &c.booknum};
    fill(fields, row);
    return c;
}

Row ChannelRow::toRow() const
{
    return Row{num,    headtype, chantype, wiring, mxm,   mxb,    r0,
               compmode, cjtemp, coefa,    coefb,  coefc, coefa4, coefb4};
}

ChannelRow ChannelRow::fromRow(const Row &row)
{
    ChannelRow c;
    QString *const fields[kColumns] = {&c.num,      &c.headtype, &c.chantype, &c.wiring, &c.mxm,
                                       &c.mxb,      &c.r0,       &c.compmode, &c.cjtemp, &c.coefa,
                                       &c.coefb,    &c.coefc,    &c.coefa4,   &c.coefb4};
    fill(fields, row);
    return c;
}

Row Selection::toRow() const
{
    return Row{datacollect, equipdata, secA, roadA, roadtypeA, secB, roadB, roadtypeB, comnum};
}

Selection Selection::fromRow(const Row &row)
{
    Selection s;
    QString *const fields[kColumns] = {&s.datacollect, &s.equipdata, &s.secA,
                                       &s.roadA,       &s.roadtypeA, &s.secB,
                                       &s.roadB,       &s.roadtypeB, &s.comnum};
    fill(fields, row);
    return s;
}

Row RunHeader::toRow() const
{
    return Row{num,      dtbegin, dtend,     pointnum,  temset,  humset,
               kindsA,   kindsB,  collector, equipname, channum, samplenum,
               chanlist, envtem,  envhum,    equiptype, typesA,  typesB};
}

RunHeader RunHeader::fromRow(const Row &row)
{
    RunHeader h;
    QString *const fields[kColumns] = {
        &h.num,      &h.dtbegin, &h.dtend,     &h.pointnum,  &h.temset,  &h.humset,
        &h.kindsA,   &h.kindsB,  &h.collector, &h.equipname, &h.channum, &h.samplenum,
        &h.chanlist, &h.envtem,  &h.envhum,    &h.equiptype, &h.typesA,  &h.typesB};
    fill(fields, row);
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

namespace {

QJsonArray rowJson(const Row &row)
{
    QJsonArray a;
    for (const QString &v : row)
        a.append(v);
    return a;
}

Row rowFrom(const QJsonValue &v)
{
    Row row;
    for (const QJsonValue &x : v.toArray())
        row << x.toString();
    return row;
}

template <typename R> QJsonArray rowsJson(const QList<R> &records)
{
    QJsonArray a;
    for (const R &r : records)
        a.append(rowJson(r.toRow()));
    return a;
}

template <typename R> QList<R> rowsFrom(const QJsonValue &v)
{
    QList<R> out;
    for (const QJsonValue &x : v.toArray())
        out << R::fromRow(rowFrom(x));
    return out;
}

} // namespace

QJsonObject CollectorExtra::toJson() const
{
    return QJsonObject{{QStringLiteral("stabilityT"), stabilityT},
                       {QStringLiteral("stabilityH"), stabilityH}};
}

CollectorExtra CollectorExtra::fromJson(const QJsonObject &o)
{
    return CollectorExtra{o.value(QStringLiteral("stabilityT")).toString(),
                          o.value(QStringLiteral("stabilityH")).toString()};
}

QJsonObject EquipmentExtra::toJson() const
{
    QJsonArray locations;
    for (const Location &l : own)
        locations << QJsonObject{{QStringLiteral("name"), l.name},
                                 {QStringLiteral("x"), l.x},
                                 {QStringLiteral("y"), l.y},
                                 {QStringLiteral("z"), l.z}};
    return QJsonObject{{QStringLiteral("settingT"), settingT},
                       {QStringLiteral("settingH"), settingH},
                       {QStringLiteral("intervalMonths"), intervalMonths},
                       {QStringLiteral("width"), width},
                       {QStringLiteral("depth"), depth},
                       {QStringLiteral("height"), height},
                       {QStringLiteral("layout"), layout},
                       {QStringLiteral("own"), locations}};
}

EquipmentExtra EquipmentExtra::fromJson(const QJsonObject &o)
{
    EquipmentExtra e;
    e.settingT = o.value(QStringLiteral("settingT")).toString();
    e.settingH = o.value(QStringLiteral("settingH")).toString();
    e.intervalMonths = o.value(QStringLiteral("intervalMonths")).toString();
    e.width = o.value(QStringLiteral("width")).toString();
    e.depth = o.value(QStringLiteral("depth")).toString();
    e.height = o.value(QStringLiteral("height")).toString();
    e.layout = o.value(QStringLiteral("layout")).toString();
    for (const QJsonValue &v : o.value(QStringLiteral("own")).toArray()) {
        const QJsonObject l = v.toObject();
        auto at = [&](const char *k) {
            return qBound(0.0, l.value(QLatin1String(k)).toDouble(0.5), 1.0);
        };
        e.own << Location{l.value(QStringLiteral("name")).toString(), at("x"), at("y"), at("z")};
    }
    return e;
}

static QJsonObject mapJson(const QMap<QString, QString> &m)
{
    QJsonObject o;
    for (auto it = m.constBegin(); it != m.constEnd(); ++it)
        o.insert(it.key(), it.value());
    return o;
}

static QMap<QString, QString> mapFrom(const QJsonObject &o)
{
    QMap<QString, QString> m;
    for (auto it = o.constBegin(); it != o.constEnd(); ++it)
        m.insert(it.key(), it.value().toString());
    return m;
}

QString Snapshot::toJson() const
{
    QJsonObject o{{QStringLiteral("taken"), taken},
                        {QStringLiteral("equipment"), rowJson(equipment.toRow())},
                        {QStringLiteral("collectors"), rowsJson(collectors)},
                        {QStringLiteral("company"), rowJson(company.toRow())},
                        {QStringLiteral("channelsA"), rowsJson(channelsA)},
                        {QStringLiteral("channelsB"), rowsJson(channelsB)}};
    if (!adoptedBy.isEmpty())
        o.insert(QStringLiteral("adoptedBy"), adoptedBy);
    o.insert(QStringLiteral("equipmentExtra"), equipmentExtra.toJson());
    QJsonArray extras;
    for (const CollectorExtra &e : collectorExtras)
        extras << e.toJson();
    o.insert(QStringLiteral("collectorExtras"), extras);
    if (!locationsA.isEmpty() || !locationsB.isEmpty()) {
        o.insert(QStringLiteral("locationsA"), mapJson(locationsA));
        o.insert(QStringLiteral("locationsB"), mapJson(locationsB));
    }
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

bool Snapshot::fromJson(const QString &json, Snapshot *out)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json.toUtf8());
    if (!doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    Snapshot s;
    s.taken = o.value(QStringLiteral("taken")).toString();
    s.adoptedBy = o.value(QStringLiteral("adoptedBy")).toString();
    s.equipment = Equipment::fromRow(rowFrom(o.value(QStringLiteral("equipment"))));
    s.collectors = rowsFrom<Collector>(o.value(QStringLiteral("collectors")));
    s.company = Company::fromRow(rowFrom(o.value(QStringLiteral("company"))));
    s.channelsA = rowsFrom<ChannelRow>(o.value(QStringLiteral("channelsA")));
    s.channelsB = rowsFrom<ChannelRow>(o.value(QStringLiteral("channelsB")));
    // Records kept before these were: not entered.
    s.equipmentExtra = EquipmentExtra::fromJson(o.value(QStringLiteral("equipmentExtra")).toObject());
    s.locationsA = mapFrom(o.value(QStringLiteral("locationsA")).toObject());
    s.locationsB = mapFrom(o.value(QStringLiteral("locationsB")).toObject());
    const QJsonArray extras = o.value(QStringLiteral("collectorExtras")).toArray();
    for (int i = 0; i < s.collectors.size(); ++i)
        s.collectorExtras << CollectorExtra::fromJson(extras.at(i).toObject());
    *out = s;
    return true;
}

} // namespace storage
