#include "pages/reports/form6.h"

#include "pages/pagekit.h"

#include <QLabel>
#include <QPushButton>

Form6::Form6(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form6"));
    setWindowTitle(QStringLiteral("数据查询"));
    pagekit::makeFrameless(this);
    resize(1125, 590);
    auto *label = new QLabel(QStringLiteral("数据查询页面尚未提供。"), this);
    label->setGeometry(40, 40, 600, 40);
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("pushButton_close"));
    close->setGeometry(1050, 0, 75, 23);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
}
