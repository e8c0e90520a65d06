#pragma once

// Small helpers shared by the pages.

#include "storage/result.h"

#include <QString>
#include <Qt>

class QComboBox;
class QLabel;
class QTableWidget;
class QObject;
class QValidator;
class QWidget;

namespace pagekit {

// Number input rule of the numeric fields.
extern const char *const kNumberPattern;
QValidator *numberValidator(QObject *parent);

// Shows a combo box's text shortened at the left when it does not fit (the
// whole text is its tooltip).
void elideLeft(QComboBox *box);
// Sets `text`, shortened to the label's width; the whole text goes to the
// tooltip when it had to be shortened.
void elideText(QLabel *label, const QString &text, Qt::TextElideMode mode = Qt::ElideRight);

// Empties `box` and fills it with the port names (shortened at the left);
// `fresh`: looked up again rather than the list of the last few seconds.
void fillPorts(QComboBox *box, bool fresh = false);

// Selects `text` in `box` when it is one of its entries; otherwise leaves it.
void selectText(QComboBox *box, const QString &text);

// A cell's text; empty when the cell holds no item.
QString itemText(const QTableWidget *table, int row, int column);

// The "失败" box for a storage action that did not succeed.
void reportFailure(QWidget *parent, const QString &what, const QString &reason);
// Shows `success` under "提示" when `status` is ok, otherwise the failure box.
bool reportOutcome(QWidget *parent, const base::Status &status, const QString &what,
                   const QString &success);

// Makes a page a frameless child widget.
void makeFrameless(QWidget *page);

} // namespace pagekit
