#include "app/mainwindow.h"

#include "pages/channels/form3.h"
#include "pages/collectors/form1.h"
#include "pages/equipment/form2.h"
#include "pages/pagekit.h"
#include "pages/prompts.h"
#include "pages/reports/form6.h"
#include "pages/run/shoudata.h"
#include "pages/settings/about.h"
#include "pages/settings/form5.h"
#include "resources/resources.h"
#include "storage/database.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QLabel>

MainWindow::MainWindow(const QString &databasePath, QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow)
{
    initOrvenImages();
    ui->setupUi(this);
    ui->toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint);

    const QString path = databasePath.isEmpty() ? storage::defaultDatabasePath() : databasePath;
    const storage::Status opened = storage::openDatabase(path);
    if (!opened) {
        // Reported once; the program still starts and every page reports its own failures.
        prompts::about(this, QStringLiteral("失败"),
                       QStringLiteral("无法打开数据库 %1：%2").arg(path, opened.error));
    }
}

MainWindow::~MainWindow()
{
    delete ui;
}

QStackedWidget *MainWindow::pages() const
{
    return ui->stwidshow;
}

void MainWindow::addPage(QWidget *page)
{
    ui->stwidshow->addWidget(page);
    ui->stwidshow->setCurrentWidget(page);
}

void MainWindow::on_action_triggered()
{
    addPage(new Form1);
}

void MainWindow::on_action_2_triggered()
{
    addPage(new Form2);
}

void MainWindow::on_action_3_triggered()
{
    // One calibration at a time: a page that runs or holds unprocessed rows
    // comes back instead of a new one (samples belong to a run by time only).
    for (shoudata *run : ui->stwidshow->findChildren<shoudata *>()) {
        if (run->isRunning() || run->hasUnprocessedRows()) {
            ui->stwidshow->setCurrentWidget(run);
            run->show();
            return;
        }
    }
    addPage(new shoudata);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    const QList<shoudata *> runs = ui->stwidshow->findChildren<shoudata *>();
    bool busy = false;
    for (shoudata *run : runs)
        busy = busy || run->isRunning() || run->hasUnprocessedRows();
    if (busy &&
        !prompts::question(this, QStringLiteral("提示"),
                           QStringLiteral("校准正在进行或有尚未处理的数据，确定退出吗？"))) {
        event->ignore();
        return;
    }
    for (shoudata *run : runs)
        run->stopRun();
    event->accept();
}

void MainWindow::on_action_4_triggered()
{
    addPage(new Form6);
}

void MainWindow::on_action_5_triggered()
{
    addPage(new Form5);
}

void MainWindow::on_action_6_triggered()
{
    auto *box = new about;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

void MainWindow::on_action_7_triggered()
{
    addPage(new Form3);
}
