#include "pages/pagekit.h"

#include "link/port.h"
#include "pages/prompts.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QTableWidget>
#include <QWidget>

namespace pagekit {

const char *const kNumberPattern = "^(-?[0]|-?[1-9][0-9]{0,3})(?:\\.\\d{1,7})?$|(^\\t?$)";

QValidator *numberValidator(QObject *parent)
{
    return new QRegularExpressionValidator(QRegularExpression(QLatin1String(kNumberPattern)),
                                           parent);
}

namespace {

// Paints a combo box with its text shortened at the left ("…/orven-m702"):
// the end of a port path is what tells ports apart.
class ElideLeft : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *box = qobject_cast<QComboBox *>(watched);
        if (!box || event->type() != QEvent::Paint)
            return false;
        QStylePainter painter(box);
        QStyleOptionComboBox option;
        option.initFrom(box);
        option.editable = box->isEditable();
        option.currentText = box->currentText();
        option.frame = box->hasFrame();
        painter.drawComplexControl(QStyle::CC_ComboBox, option);
        const QRect text = box->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                        QStyle::SC_ComboBoxEditField, box);
        option.currentText =
            box->fontMetrics().elidedText(box->currentText(), Qt::ElideLeft, text.width());
        painter.drawControl(QStyle::CE_ComboBoxLabel, option);
        return true;
    }
};

} // namespace

void elideLeft(QComboBox *box)
{
    if (box->property("orvenElided").toBool())
        return;
    box->setProperty("orvenElided", true);
    box->installEventFilter(new ElideLeft(box));
}

void elideText(QLabel *label, const QString &text, Qt::TextElideMode mode)
{
    const QString shown = label->fontMetrics().elidedText(text, mode, label->width());
    label->setText(shown);
    label->setToolTip(shown == text ? QString() : text);
}

void fillPorts(QComboBox *box, bool fresh)
{
    elideLeft(box);
    box->clear();
    box->insertItems(box->count(), rtu::availablePortNames(fresh));
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

bool reportOutcome(QWidget *parent, const base::Status &status, const QString &what,
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
