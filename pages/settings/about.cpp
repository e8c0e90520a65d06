#include "pages/settings/about.h"

#include "resources/resources.h"
#include "storage/database.h"
#include "storage/server.h"
#include "storage/statements.h"
#include "ui_about.h"

#include <QDir>
#include <QPushButton>
#include <QShortcut>

about::about(QWidget *parent) : QWidget(parent), ui(new Ui::about)
{
    initOrvenImages();
    ui->setupUi(this);
    setFixedSize(336, 462);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    // Which database this workstation uses, for support and backups.
    const QString path = storage::databaseIsServer()
                             ? storage::serverDisplay(storage::databasePath()) +
                                   QStringLiteral("（工作站 %1）").arg(storage::stationName())
                             : QDir::toNativeSeparators(storage::databasePath());
    ui->label_db->setText(ui->label_db->fontMetrics().elidedText(
        QStringLiteral("数据库：") + path, Qt::ElideMiddle, ui->label_db->width()));
    ui->label_db->setToolTip(path);
    // Without a window manager (Xvfb, VNC) the box has no frame to close it by.
    connect(ui->pushButton_close, &QPushButton::clicked, this, &QWidget::close);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
}

QString about::databaseText() const
{
    return ui->label_db->toolTip();
}

about::~about()
{
    delete ui;
}
