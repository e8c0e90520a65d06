#include "app/mainwindow.h"

#include "app/startpanel.h"
#include "pages/busyguard.h"
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
#include "storage/statements.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

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

    // The empty work area shows where to begin.
    m_start = new StartPanel(ui->page);
    auto *layout = new QVBoxLayout(ui->page);
    layout->addWidget(m_start);
    connect(m_start, &StartPanel::openPage, this, [this](const QString &name) {
        if (QAction *a = findChild<QAction *>(name))
            a->trigger();
    });
    m_selection = new QLabel(this);
    m_selection->setObjectName(QStringLiteral("label_selection"));
    statusBar()->addPermanentWidget(m_selection);
    connect(storage::Changes::instance(), &storage::Changes::changed, this,
            &MainWindow::refreshSelection);
    refreshSelection();
}

void MainWindow::refreshSelection()
{
    const storage::Result<storage::Progress> p = storage::readProgress();
    QString text;
    if (!p) {
        text = QStringLiteral("数据库读取失败：%1").arg(p.error);
    } else {
        text = p.value.collector.isEmpty()
                   ? QStringLiteral("采集器：未选定")
                   : QStringLiteral("采集器：%1 %2").arg(p.value.collector, p.value.collectorName);
        text +=
            QStringLiteral("    试验设备：%1")
                .arg(p.value.equipment.isEmpty() ? QStringLiteral("未选定") : p.value.equipment);
    }
    m_selection->setText(text);
    m_start->refresh();
}

QString MainWindow::selectionText() const
{
    return m_selection->text();
}

MainWindow::~MainWindow()
{
    delete ui;
}

QStackedWidget *MainWindow::pages() const
{
    return ui->stwidshow;
}

bool MainWindow::currentPageBusy()
{
    QWidget *current = ui->stwidshow->currentWidget();
    if (!busy::isBusy(current))
        return false;
    // A page in the middle of an exchange with a collector stays in front
    // until the exchange is over.
    statusBar()->showMessage(QStringLiteral("当前页面正在与采集器通信，请稍候。"), 3000);
    return true;
}

void MainWindow::addPage(QWidget *page)
{
    ui->stwidshow->addWidget(page);
    ui->stwidshow->setCurrentWidget(page);
}

void MainWindow::on_action_triggered()
{
    if (!currentPageBusy())
        addPage(new Form1);
}

void MainWindow::on_action_2_triggered()
{
    if (!currentPageBusy())
        addPage(new Form2);
}

void MainWindow::on_action_3_triggered()
{
    if (currentPageBusy())
        return;
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

QList<QWidget *> MainWindow::busyPages() const
{
    QList<QWidget *> out;
    for (int i = 0; i < ui->stwidshow->count(); ++i)
        if (busy::isBusy(ui->stwidshow->widget(i)))
            out << ui->stwidshow->widget(i);
    return out;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    const QList<shoudata *> runs = ui->stwidshow->findChildren<shoudata *>();
    if (!m_quitConfirmed) {
        bool running = false, unprocessed = false;
        for (shoudata *run : runs) {
            running = running || run->isRunning();
            unprocessed = unprocessed || run->hasUnprocessedRows();
        }
        const bool exchanging = !busyPages().isEmpty();
        QString text;
        if (running || unprocessed)
            text = QStringLiteral("校准正在进行或有尚未处理的数据，确定退出吗？");
        else if (exchanging)
            text = QStringLiteral("正在与采集器通信（扫描或设置通道），确定退出吗？");
        if (!text.isEmpty() && !prompts::question(this, QStringLiteral("提示"), text, true)) {
            event->ignore();
            return;
        }
        m_quitConfirmed = true;
    }
    for (shoudata *run : runs)
        run->stopRun();
    const QList<QWidget *> exchanging = busyPages();
    if (!exchanging.isEmpty()) {
        // Their exchanges end at their next wait; the window closes then.
        for (QWidget *page : exchanging)
            busy::requestCancel(page);
        if (!m_closeWhenIdle) {
            m_closeWhenIdle = true;
            connect(busy::Notifier::instance(), &busy::Notifier::released, this, [this] {
                if (busyPages().isEmpty())
                    QTimer::singleShot(0, this, &QWidget::close);
            });
        }
        event->ignore();
        return;
    }
    event->accept();
}

void MainWindow::on_action_4_triggered()
{
    if (!currentPageBusy())
        addPage(new Form6);
}

void MainWindow::on_action_5_triggered()
{
    if (!currentPageBusy())
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
    if (!currentPageBusy())
        addPage(new Form3);
}
