#pragma once

// Typed records at the storage boundary. Positional rows exist only between
// these structs and the statements; pages and engines use the fields.

#include <QList>
#include <QString>
#include <QStringList>

namespace storage {

using Row = QStringList;
using Rows = QList<Row>;

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

// Items each followed by ";", the last one included.
QString listText(const QStringList &items);
// The items of a list text; the empty item after the last ";" is dropped.
QStringList splitList(const QString &text);
// The three channel counts of a road text ("2;1;0;"); a missing or negative
// item counts as 0.
QList<int> roadCounts(const QString &road);

} // namespace storage
