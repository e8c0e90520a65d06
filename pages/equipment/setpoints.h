#pragma once

// Suggested calibration set points from a range and a count, as the
// equipment page's grid shows them.

#include <QString>
#include <QStringList>

namespace setpoints {

struct Grid
{
    int points = 0;            // grid columns after the label column; 0: none
    bool rangeMissing = false; // a range field was empty: nothing generated
    QStringList tem;           // `points` cells; empty texts where nothing is generated
    QStringList hum;
};

// Whole number of a count text; anything else (decimals, letters, empty) is 0.
int wholeCount(const QString &text);

// `category`: "温湿度", "温度" or "湿度". Bounds are the range fields as typed.
Grid generate(const QString &category, const QString &countText, const QString &temDown,
              const QString &temUp, const QString &humDown, const QString &humUp);

// A count that can be stored: a whole number from 1 to 10.
bool storableCount(const QString &countText);

} // namespace setpoints
