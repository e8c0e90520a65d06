#include "pages/pagekit.h"

#include "link/serialline.h"
#include "pages/prompts.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QWidget>

namespace pagekit {

const char *const kNumberPattern = "^(-?[0]|-?[1-9][0-9]{0,3})(?:\\.\\d{1,7})?$|(^\\t?$)";

QValidator *numberValidator(QObject *parent)
{
    return new QRegularExpressionValidator(QRegularExpression(QLatin1String(kNumberPattern)),
                                           parent);
}

void fillPorts(QComboBox *box)
{
    box->clear();
    box->insertItems(box->count(), rtu::availablePortNames());
    // A narrow box shows its whole text as a tooltip, and its list as wide
    // as the longest name.
    int widest = 0;
    for (int i = 0; i < box->count(); ++i)
        widest = qMax(widest, box->fontMetrics().horizontalAdvance(box->itemText(i)));
    box->view()->setMinimumWidth(widest + 40);
    box->setToolTip(box->currentText());
    if (!box->property("orvenTooltip").toBool()) {
        box->setProperty("orvenTooltip", true);
        QObject::connect(box, &QComboBox::currentTextChanged, box, &QWidget::setToolTip);
    }
}

void selectText(QComboBox *box, const QString &text)
{
    const int index = box->findText(text);
    if (index >= 0)
        box->setCurrentIndex(index);
}

QString itemText(const QTableWidget *table, int row, int column)
{
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QString();
}

void reportFailure(QWidget *parent, const QString &what, const QString &reason)
{
    prompts::about(parent, QStringLiteral("失败"), what + QStringLiteral("：") + reason);
}

bool reportOutcome(QWidget *parent, const storage::Status &status, const QString &what,
                   const QString &success)
{
    if (!status.ok) {
        reportFailure(parent, what, status.error);
        return false;
    }
    prompts::about(parent, QStringLiteral("提示"), success);
    return true;
}

void makeFrameless(QWidget *page)
{
    page->setWindowFlags(page->windowFlags() | Qt::FramelessWindowHint);
}

} // namespace pagekit
