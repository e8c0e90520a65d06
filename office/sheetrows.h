#pragma once

// The rows of a large worksheet written straight into the package: a
// workbook made by libxlsxwriter with the sheet's heading row only gets its
// data rows streamed into the sheet's part, compressed as they come, so a
// hundred thousand rows cost neither memory nor a number formatting per
// cell (a value already written with three decimals goes in as it is).

#include "base/result.h"
#include "base/task.h"

#include <QByteArray>
#include <functional>

namespace office {

// Cells of one row, appended to the sheet's XML.
class RowText
{
public:
    explicit RowText(QByteArray *out) : m_out(out) {}
    void begin(int row); // 1-based, as Excel counts
    void number(int column, qint64 value);
    // A decimal text as a number when it is one (the stored form and any
    // other plain decimal), otherwise as text; nothing when empty.
    void value(int column, const char *begin, const char *end, int style);
    void text(int column, const QByteArray &utf8);
    void end();

private:
    void ref(int column);
    QByteArray *m_out;
    QByteArray m_row;
};

// Letters of a 0-based column: 0 → "A", 26 → "AA".
QByteArray columnName(int column);

// Appends rows to `out` until it holds enough for one write; false when
// there are no more rows (whatever it appended still counts).
using RowSource = std::function<bool(QByteArray *out)>;

// Replaces the rows after the heading of the worksheet part `part` (e.g.
// "xl/worksheets/sheet1.xml") of the finished workbook `xlsx` with what
// `rows` produces; `lastRow`/`lastColumn` (1-based rows, 0-based columns)
// give the sheet's dimension. Stops with "已取消" when cancelled.
base::Status streamSheetRows(const QString &xlsx, const QByteArray &part, int lastRow,
                             int lastColumn, const RowSource &rows,
                             const base::Progress &progress);

} // namespace office
