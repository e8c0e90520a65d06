#pragma once

// Builds processed calibrations directly in the test database: a header and
// its samples, one second apart from the start time.

#include "storage/statements.h"

#include <QDateTime>
#include <QStringList>

namespace testkit {

struct CalibrationFixture
{
    QString begin = QStringLiteral("2024-05-01 10:00:00");
    QStringList tem{QStringLiteral("20"), QStringLiteral("30")};
    QStringList hum{QStringLiteral("50"), QStringLiteral("60")};
    QStringList channels{QStringLiteral("101"), QStringLiteral("102")};
    QString kindsA = QStringLiteral("2;0;0;");
    QString kindsB;
    QString typesA = QStringLiteral("00");
    QString typesB;
    QString equipType = QStringLiteral("温度");
    QString equipment = QStringLiteral("Chamber");
    QString collector = QStringLiteral("ORV7020001");
    struct Row
    {
        QString point;  // "检点1"
        QString values; // list text
    };
    QList<Row> samples;
    int stepSeconds = 1;
    // The header's sample count; -1: the number of samples.
    int sampleCount = -1;

    void add(int point, const QString &values, int times = 1)
    {
        for (int i = 0; i < times; ++i)
            samples << Row{QStringLiteral("检点%1").arg(point), values};
    }
};

// Inserts the samples and the header; returns the header written.
storage::RunHeader insertCalibration(const CalibrationFixture &fixture);
QString timeAfter(const QString &begin, int seconds);

} // namespace testkit
