#include "app/mainwindow.h"

#include "app/signinpanel.h"
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
#include "pages/settings/auditpage.h"
#include "pages/settings/form5.h"
#include "resources/resources.h"
#include "storage/database.h"
#include "storage/localcopy.h"
#include "storage/server.h"
#include "storage/statements.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

MainWindow::MainWindow(const QString &databasePath, bool readOnly, QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow)
{
    initOrvenImages();
    ui->setupUi(this);
    ui->toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint);

    const QString path = databasePath.isEmpty() ? storage::defaultDatabasePath() : databasePath;
    base::Status opened = storage::openDatabase(path, readOnly ? storage::Access::ReadOnly
                                                               : storage::Access::ReadWrite);
    // On a shared server one workstation per station name: another one
    // already recording as this station leaves this one for viewing only.
    if (opened && !readOnly && storage::databaseIsServer()) {
        const base::Status locked = storage::lockStation(QString());
        if (!locked) {
            prompts::about(this, QStringLiteral("提示"),
                           locked.error + QStringLiteral("\n本窗口只能查看校准记录和导出文件。"));
            readOnly = true;
            opened = storage::openDatabase(path, storage::Access::ReadOnly);
            setWindowTitle(windowTitle() + QStringLiteral("（只读）"));
        }
    }
    if (opened && storage::serverOffline()) {
        const storage::OfflineState off = storage::offlineState();
        prompts::about(
            this, QStringLiteral("提示"),
            QStringLiteral(
                "%1\n\n工作站用本机的记录副本（%2 取自服务器）启动：可以校准，"
                "样本暂存在本机；采集器、试验设备、检定单位、通道的修改和所选的设备先存在本机，"
                "服务器恢复后按顺序送出（服务器上更晚的修改优先）；"
                "校准列表可以查看，打开和处理校准要等服务器恢复。")
                .arg(off.why, off.taken));
    } else if (!opened) {
        // Reported once; the program still starts and every page reports its own failures.
        prompts::about(
            this, QStringLiteral("失败"),
            QStringLiteral("无法打开数据库 %1：%2")
                .arg(storage::databaseDisplay(path), storage::withoutPassword(opened.error, path)));
    } else if (readOnly && !storage::databaseIsServer()) {
        prompts::about(this, QStringLiteral("提示"),
                       QStringLiteral("数据库所在的文件夹不能写入：\n%1\n"
                                      "数据库以只读方式打开，只能查看校准记录和导出文件，"
                                      "不能保存任何数据，也不能进行校准。")
                           .arg(QDir::toNativeSeparators(path)));
        setWindowTitle(windowTitle() + QStringLiteral("（只读）"));
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
    // An audit trail changed outside the program is said at once, in red.
    // (On a server the check is orven-report's: the window sends the server
    // nothing it could wait on here.)
    if (opened && !storage::databaseIsServer()) {
        const base::Result<storage::AuditCheck> audit = storage::verifyAudit();
        const QString problem = !audit                ? audit.error
                                : audit.value.whole() ? QString()
                                                      : audit.value.reason;
        if (!problem.isEmpty()) {
            auto *warning = new QLabel(QStringLiteral("审计记录不完整：") + problem, this);
            warning->setObjectName(QStringLiteral("label_audit"));
            warning->setStyleSheet(QStringLiteral("color: #c0392b; font-weight: bold;"));
            statusBar()->addWidget(warning);
        }
    }
    // The audit trail, read and exported (管理 → 审计记录).
    auto *audit = new QAction(QStringLiteral("审计记录"), this);
    audit->setObjectName(QStringLiteral("action_audit"));
    connect(audit, &QAction::triggered, this, [this] {
        if (!currentPageBusy())
            addPage(new AuditPage);
    });
    // Beside the status, not in the toolbar (its pages are the laboratory's
    // daily work): the trail, and below who is signed in.
    auto *auditButton = new QToolButton(this);
    auditButton->setDefaultAction(audit);
    auditButton->setAutoRaise(true);
    statusBar()->addPermanentWidget(auditButton);
    m_clock = base::SystemClock::instance();
    if (opened && !readOnly && !storage::serverOffline()) {
        // What the trail kept while this station last ran without the server.
        storage::sendPendingAuditSoon();
        startAccess(true);
    }
    if (opened && !readOnly && storage::serverOffline()) {
        // The copy holds the accounts (and the laboratory's choice) as the
        // server had them: the operator signs in as usual. A copy without
        // accounts leaves the sign-in to the server's return.
        const base::Result<QList<storage::OperatorAccount>> accounts = storage::operatorAccounts();
        if (accounts && !accounts.value.isEmpty())
            startAccess(false);
    }
    if (opened && storage::databaseIsServer()) {
        // While the station runs on its copy (the server away at the start
        // or since), asked every few seconds whether the server answers
        // again (the asking itself runs on a thread of its own); a run asks
        // with every sample anyway.
        auto *retry = new QTimer(this);
        connect(retry, &QTimer::timeout, this, [this, readOnly] {
            if (!storage::serverOffline() || !storage::serverReady())
                return;
            refreshSelection();
            // Started without a sign-in: the server's accounts ask for one now.
            if (!readOnly && !m_signIn)
                startAccess(false);
        });
        retry->start(3000);
        // The copy follows other stations' changes too (nothing is written
        // while the server holds what it held).
        auto *follow = new QTimer(this);
        connect(follow, &QTimer::timeout, this, [] { storage::refreshLocalCopySoon(); });
        follow->start(10000);
    }
}

// Sign-in first when the laboratory asks for it; then the run left
// unprocessed, if any, is offered.
void MainWindow::startAccess(bool offerRun)
{
    const base::Result<storage::AccessSettings> access = storage::accessSettings();
    if (!access || !access.value.signInRequired) {
        if (offerRun)
            QTimer::singleShot(0, this, &MainWindow::offerUnprocessedRun);
        return;
    }
    m_idleMinutes = access.value.idleMinutes;
    m_offerRun = offerRun;
    m_signIn = new SignInPanel(this);
    connect(m_signIn, &SignInPanel::signedIn, this, &MainWindow::signedIn);
    m_operatorLabel = new QLabel(this);
    m_operatorLabel->setObjectName(QStringLiteral("label_operator"));
    statusBar()->addPermanentWidget(m_operatorLabel);
    auto *switchUser = new QAction(QStringLiteral("切换用户"), this);
    switchUser->setObjectName(QStringLiteral("action_switchUser"));
    connect(switchUser, &QAction::triggered, this, [this] { lock(QStringLiteral("切换用户")); });
    auto *switchButton = new QToolButton(this);
    switchButton->setDefaultAction(switchUser);
    switchButton->setAutoRaise(true);
    statusBar()->addPermanentWidget(switchButton);
    qApp->installEventFilter(this);
    setClock(m_clock);
    lock(QString());
}

bool MainWindow::isLocked() const
{
    return m_signIn && !m_signIn->isHidden();
}

void MainWindow::lock(const QString &why)
{
    if (!m_signIn)
        return;
    if (!m_operator.name.isEmpty()) {
        const base::Status st = storage::signOut(why.isEmpty() ? QStringLiteral("锁定") : why);
        if (!st)
            statusBar()->showMessage(QStringLiteral("失败：") + st.error, 10000);
    }
    const QString last = m_operator.name.isEmpty()
                             ? QSettings().value(QStringLiteral("access/lastOperator")).toString()
                             : m_operator.name;
    m_operator = storage::OperatorAccount();
    m_operatorLabel->setText(QStringLiteral("未登录"));
    ui->toolBar->setEnabled(false);
    m_signIn->setGeometry(rect());
    m_signIn->ask(last, why == QStringLiteral("空闲锁定")
                            ? QStringLiteral("空闲 %1 分钟，已锁定").arg(m_idleMinutes)
                            : QString());
}

void MainWindow::signedIn(const storage::OperatorAccount &account)
{
    m_operator = account;
    QSettings().setValue(QStringLiteral("access/lastOperator"), account.name);
    m_operatorLabel->setText(QStringLiteral("操作员：%1（%2）")
                                 .arg(account.name, account.roles.join(QStringLiteral("、"))));
    ui->toolBar->setEnabled(true);
    m_lastInput = m_clock->now();
    if (m_offerRun) {
        m_offerRun = false;
        QTimer::singleShot(0, this, &MainWindow::offerUnprocessedRun);
    }
}

void MainWindow::setClock(base::Clock *clock)
{
    m_clock = clock;
    if (!m_signIn)
        return;
    delete m_idleTimer;
    m_idleTimer = clock->makeTimer(this);
    m_lastInput = clock->now();
    connect(m_idleTimer, &base::Timer::timeout, this, [this] {
        if (!isLocked() && m_clock->now() - m_lastInput >= qint64(m_idleMinutes) * 60000)
            lock(QStringLiteral("空闲锁定"));
    });
    m_idleTimer->start(10000);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (m_signIn)
        m_signIn->setGeometry(rect());
}

void MainWindow::offerUnprocessedRun()
{
    const base::Result<QList<storage::Sample>> run = storage::unprocessedRun();
    if (!run) {
        pagekit::reportFailure(this, QStringLiteral("读取未处理的样本失败"), run.error);
        return;
    }
    if (run.value.isEmpty())
        return;
    const QList<storage::Sample> &s = run.value;
    QStringList points;
    for (const storage::Sample &sample : s)
        if (!points.contains(sample.jdnum))
            points << sample.jdnum;
    const QString text =
        QStringLiteral("发现一次尚未处理的校准：试验设备“%1”，%2 至 %3，共 %4 条样本（%5）。\n"
                       "程序上次可能没有正常退出。\n\n"
                       "继续校准：在校准页面接着这些样本继续，完成后再“数据处理”；\n"
                       "按现有数据处理：立即用这些样本生成这次校准；\n"
                       "以后再说：下次启动时再询问；\n"
                       "不再提示：样本留在数据库中，不再询问。")
            .arg(s.first().equipname, s.first().coltime, s.last().coltime)
            .arg(s.size())
            .arg(points.join(QStringLiteral("、")));
    const int choice =
        prompts::choose(this, QStringLiteral("提示"), text,
                        {QStringLiteral("继续校准"), QStringLiteral("按现有数据处理"),
                         QStringLiteral("以后再说"), QStringLiteral("不再提示")},
                        0, 2);
    if (choice == 3) {
        const base::Status st = storage::setAsideUnprocessed(s.last().coltime);
        if (!st)
            pagekit::reportFailure(this, QStringLiteral("保存失败"), st.error);
        return;
    }
    if (choice != 0 && choice != 1)
        return;
    on_action_3_triggered();
    auto *page = qobject_cast<shoudata *>(ui->stwidshow->currentWidget());
    if (!page || page->isRunning())
        return;
    QString why;
    if (!page->restoreRun(s, &why)) {
        prompts::about(this, QStringLiteral("失败"),
                       QStringLiteral("不能恢复这次校准：%1").arg(why));
        return;
    }
    if (choice == 1)
        page->processRun();
}

void MainWindow::refreshSelection()
{
    const base::Result<storage::Progress> p = storage::readProgress();
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
    if (storage::serverOffline())
        text = QStringLiteral("数据库服务器无法连接，记录取自本机副本（%1）；样本暂存在本机    ")
                   .arg(storage::offlineState().taken) +
               text;
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
    page->installEventFilter(this);
    showPage(page);
}

void MainWindow::showPage(QWidget *page)
{
    m_history.removeAll(page);
    if (page != ui->page)
        m_history << page;
    m_switching = true;
    ui->stwidshow->setCurrentWidget(page);
    page->show();
    m_switching = false;
    if (page == ui->page)
        m_start->refresh();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // What the operator does keeps the window from locking.
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::Wheel:
        if (m_signIn)
            m_lastInput = m_clock->now();
        break;
    default:
        break;
    }
    // A page closed with its own "关闭" button hides itself: the page opened
    // before it comes back, or the start panel when none is left.
    if (event->type() == QEvent::Hide && !m_switching && !event->spontaneous() &&
        watched == ui->stwidshow->currentWidget() && static_cast<QWidget *>(watched)->isHidden()) {
        m_history.removeAll(static_cast<QWidget *>(watched));
        QTimer::singleShot(0, this, [this] {
            QWidget *current = ui->stwidshow->currentWidget();
            if (current && !current->isHidden())
                return;
            while (!m_history.isEmpty() && ui->stwidshow->indexOf(m_history.last()) < 0)
                m_history.removeLast();
            showPage(m_history.isEmpty() ? ui->page : m_history.last());
        });
    }
    return QMainWindow::eventFilter(watched, event);
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
            showPage(run);
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

int MainWindow::unstoredSamples() const
{
    int n = 0;
    for (shoudata *run : ui->stwidshow->findChildren<shoudata *>()) {
        run->session()->retryStore();
        n += run->unstoredSamples();
    }
    return n;
}

QString MainWindow::unstoredReason() const
{
    for (shoudata *run : ui->stwidshow->findChildren<shoudata *>())
        if (run->unstoredSamples() > 0)
            return run->session()->lastStoreError();
    return QString();
}

void MainWindow::quitWithoutQuestion()
{
    if (m_quitConfirmed) {
        // A second request while exchanges end: go now.
        QCoreApplication::quit();
        return;
    }
    m_quitConfirmed = true;
    close();
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
        // Samples the database refused are tried once more; what still
        // waits is lost with the window, and the question says how much.
        const int unstored = unstoredSamples();
        QString text;
        if (unstored > 0)
            text = QStringLiteral("有 %1 条样本尚未保存到数据库（%2），退出后这些样本将丢失。\n"
                                  "请先排除数据库故障（磁盘空间、文件被占用）。确定退出吗？")
                       .arg(unstored)
                       .arg(unstoredReason());
        else if (running || unprocessed)
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
    emit closed();
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
