#include "app/mainwindow.h"

#include "pages/pagekit.h"
#include "pages/prompts.h"
#include "pages/reports/form6.h"
#include "pages/settings/about.h"
#include "pages/collectors/form1.h"
#include "pages/channels/form3.h"
#include "pages/equipment/form2.h"
#include "pages/settings/form5.h"
#include "resources/resources.h"
#include "storage/database.h"
#include "ui_mainwindow.h"

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

static QWidget *placeholderPage(const QString &title)
{
    auto *page = new QWidget;
    page->setWindowTitle(title);
    auto *label = new QLabel(title + QStringLiteral("页面尚未提供。"), page);
    label->setGeometry(40, 40, 600, 40);
    return page;
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
    addPage(placeholderPage(QStringLiteral("校准")));
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
