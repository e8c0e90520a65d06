#pragma once

#include <QJsonObject>
#include <QMap>

// Typed records at the storage boundary. Positional rows exist only between
// these structs and the statements; pages and engines use the fields.

#include <QList>
#include <QString>
#include <QStringList>

namespace storage {

using Row = QStringList;
using Rows = QList<Row>;

// One datacollect row: a collector of the register.
struct Collector
{
    QString num, name, type, portnum, serialnum;
    QString zqtem, zqhum;           // accuracy, ± ℃ and ± %RH
    QString cltem, clhum;           // resolution
    QString zhengshu;               // its calibration certificate's number
    QString temnosure, temnosurek;  // U of the temperature result, U of the humidity result
    QString humnosure, humnosurek;  // their coverage factors k
    QString todata;                 // the certificate is valid until, "yyyy-MM-dd"

    static constexpr int kColumns = 15;
    bool isEmpty() const { return serialnum.isEmpty() && num.isEmpty() && name.isEmpty(); }
    Row toRow() const;
    static Collector fromRow(const Row &row);
};

// Kept beside a collector's row (by serial number): the stability of the
// standard between its calibrations, as a half-width per kind, as the
// laboratory enters it. Empty: not entered (unknown, not zero).
struct CollectorExtra
{
    QString stabilityT, stabilityH;
    bool operator==(const CollectorExtra &o) const
    {
        return stabilityT == o.stabilityT && stabilityH == o.stabilityH;
    }
    QJsonObject toJson() const;
    static CollectorExtra fromJson(const QJsonObject &o);
};

// Kept beside an equipment row (by name): the resolution of the chamber's
// set value per kind, and what its customer asked. Empty: not entered.
// A location in the working space: x (width), y (depth), z (height) as
// fractions 0–1 of the working space from its front left bottom corner.
struct Location
{
    QString name;
    double x = 0.5, y = 0.5, z = 0.5;
    bool operator==(const Location &o) const
    {
        return name == o.name && x == o.x && y == o.y && z == o.z;
    }
};

struct EquipmentExtra
{
    QString settingT, settingH;
    // The recalibration interval the customer asked for, in months; empty:
    // none asked (a certificate then recommends no date).
    QString intervalMonths;
    // The working space in metres (width, depth, height), and where the
    // probes go: "9" or "15" (the method's layouts), "own" (`own`), empty:
    // not recorded.
    QString width, depth, height;
    QString layout;
    QList<Location> own;
    bool operator==(const EquipmentExtra &o) const
    {
        return settingT == o.settingT && settingH == o.settingH &&
               intervalMonths == o.intervalMonths && width == o.width && depth == o.depth &&
               height == o.height && layout == o.layout && own == o.own;
    }
    QJsonObject toJson() const;
    static EquipmentExtra fromJson(const QJsonObject &o);
};

// One equipdata row: an equipment under calibration and its points.
struct Equipment
{
    QString name, companyname, address, type, model, equipmodel, listnum;
    QString temnum, humnum; // probe counts
    QString madecompanyname, madedate;
    QString temdown, temup, humdown, humup; // ranges
    QString adjustnum;                      // number of calibration points
    QStringList tem, hum;                   // ten set points each, as typed

    static constexpr int kColumns = 36;
    static constexpr int kListColumns = 16; // the columns before the set points
    bool isEmpty() const { return name.isEmpty() && companyname.isEmpty(); }
    Row toRow() const;
    static Equipment fromRow(const Row &row);
};

// The company row: the laboratory.
struct Company
{
    QString unitname, tel, fax, address, yzbm, website, place, booknum;

    static constexpr int kColumns = 8;
    bool isEmpty() const { return toRow().join(QString()).isEmpty(); }
    Row toRow() const;
    static Company fromRow(const Row &row);
};

// One deviceA / deviceB row: a channel of a collector's layout.
struct ChannelRow
{
    QString num, headtype, chantype, wiring, mxm, mxb, r0, compmode, cjtemp;
    QString coefa, coefb, coefc, coefa4, coefb4;

    static constexpr int kColumns = 14;
    Row toRow() const;
    static ChannelRow fromRow(const Row &row);
};

// The secdevice row: what the pages hand each other.
struct Selection
{
    QString datacollect, equipdata, secA, roadA, roadtypeA, secB, roadB, roadtypeB, comnum;

    static constexpr int kColumns = 9;
    Row toRow() const;
    static Selection fromRow(const Row &row);
};

// The envirdata row: the ambient conditions.
struct Ambient
{
    QString tem, hum;
};

// One datamark row: the header of a processed calibration.
struct RunHeader
{
    QString num;       // rows already in datamark + 1
    QString dtbegin;   // first sample, the calibration's key
    QString dtend;     // last sample
    QString pointnum;  // number of calibration points
    QString temset;    // temperature set points, list text
    QString humset;    // humidity set points, list text
    QString kindsA;    // collector one's three channel counts, list text
    QString kindsB;    // collector two's
    QString collector; // serial number of the selected collector
    QString equipname;
    QString channum;   // recorded channels
    QString samplenum; // stored samples
    QString chanlist;  // channel numbers, list text
    QString envtem, envhum;
    QString equiptype; // "温度", "湿度" or "温湿度"
    QString typesA;    // collector one's kind mask, "0" = temperature
    QString typesB;

    static constexpr int kColumns = 18;
    Row toRow() const;
    // Missing trailing values read as empty texts.
    static RunHeader fromRow(const Row &row);
};

// One data row: one reading of all channels of the run.
struct Sample
{
    QString equipname;
    QString jdnum;   // "检点" + point number
    QString coltime; // "yyyy-MM-dd HH:mm:ss"
    QString colname; // channel numbers, list text
    QString coldata; // values with three decimals, list text

    static constexpr int kColumns = 5;
    Row toRow() const;
    static Sample fromRow(const Row &row);
};

// A header looked up by its key.
struct FoundHeader
{
    bool found = false;
    RunHeader header;
};

// The records a calibration's documents are written from, as they were when
// it was processed (kept beside the header).
struct Snapshot
{
    QString taken; // "yyyy-MM-dd HH:mm:ss"
    // Records taken after processing (a calibration processed before they
    // were kept): who chose to take them; empty for those kept at processing.
    QString adoptedBy;
    Equipment equipment;
    EquipmentExtra equipmentExtra;
    QList<Collector> collectors; // the run's collectors, collector one first
    QList<CollectorExtra> collectorExtras; // parallel to collectors
    Company company;
    QList<ChannelRow> channelsA, channelsB;
    // Where each channel's probe sat: channel number → location name.
    QMap<QString, QString> locationsA, locationsB;

    QString toJson() const;
    // False when `json` is not a snapshot.
    static bool fromJson(const QString &json, Snapshot *out);
};

struct FoundSnapshot
{
    bool found = false;
    Snapshot snapshot;
};

// Items each followed by ";", the last one included.
QString listText(const QStringList &items);
// The items of a list text; the empty item after the last ";" is dropped.
QStringList splitList(const QString &text);
// The three channel counts of a road text ("2;1;0;"); a missing or negative
// item counts as 0.
QList<int> roadCounts(const QString &road);

} // namespace storage
