// Start-up, main window, page stack, organisation page and About box.

#include "app/mainwindow.h"
#include "app/welcome.h"
#include "pages/prompts.h"
#include "pages/settings/about.h"
#include "pages/settings/form5.h"
#include "storage/database.h"
#include "tests/testkit.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QToolBar>

using namespace testkit;

class ShellTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { prompts::setScripted(true); }
    void cleanup() { storage::closeDatabase(); }

    void splashIsFramelessOnTopAndOpensTheMainWindowAfterThreeSeconds();
    void mainWindowMatchesItsLayout();
    void sameActionTwiceGivesTwoLivePages();
    void absentDatabaseIsCreatedAndTheWindowStillOpens();
    void unopenableDatabaseIsReportedOnceAndTheWindowStillOpens();
    void aboutIsItsOwnWindow();

    void organisationPageStartsEmpty();
    void organisationSavedTwiceKeepsOneRowWithTheSecondTexts();
    void organisationCancelAndCloseLeaveTheRowUnchanged_data();
    void organisationCancelAndCloseLeaveTheRowUnchanged();
    void organisationFailedInsertKeepsTheRowAndSaysFailed();
};

static QList<QLineEdit *> companyFields(Form5 &page)
{
    QList<QLineEdit *> edits;
    edits << page.findChild<QLineEdit *>("lineEdit");
    for (int i = 2; i <= 8; ++i)
        edits << page.findChild<QLineEdit *>(QStringLiteral("lineEdit_%1").arg(i));
    return edits;
}

void ShellTest::splashIsFramelessOnTopAndOpensTheMainWindowAfterThreeSeconds()
{
    welcome splash;
    QVERIFY(splash.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(splash.windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(splash.size(), QSize(590, 352));
    const auto timers = splash.findChildren<QTimer *>();
    QCOMPARE(timers.size(), 1);
    QVERIFY(timers.first()->isSingleShot());
    QCOMPARE(timers.first()->interval(), 3000);
    QVERIFY(timers.first()->isActive());
    QVERIFY(!splash.mainWindow());
}

void ShellTest::mainWindowMatchesItsLayout()
{
    TempDatabase db;
    MainWindow w(db.path());
    QCOMPARE(w.size(), QSize(1132, 700));
    QCOMPARE(w.windowTitle(), QString("ORVEN-M70X"));
    QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(w.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);

    auto *toolbar = w.findChild<QToolBar *>("toolBar");
    QVERIFY(toolbar);
    QCOMPARE(toolbar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QStringList order, texts;
    for (QAction *a : toolbar->actions()) {
        order << a->objectName();
        texts << a->text();
        QVERIFY2(!a->icon().isNull(), qPrintable(a->objectName()));
        QCOMPARE(a->font().pointSize(), 11);
    }
    QCOMPARE(order, (QStringList{"action_5", "action", "action_2", "action_7", "action_3",
                                 "action_4", "action_6"}));
    QCOMPARE(texts, (QStringList{"检定单位", "采集器", "试验设备", "通道配置", "校准", "数据查询",
                                 "关于"}));
    QStackedWidget *stack = w.pages();
    QCOMPARE(stack->objectName(), QString("stwidshow"));
    QCOMPARE(stack->count(), 2);
    QCOMPARE(stack->currentWidget()->objectName(), QString("page"));
    QVERIFY(prompts::records().isEmpty());
}

void ShellTest::sameActionTwiceGivesTwoLivePages()
{
    TempDatabase db;
    MainWindow w(db.path());
    auto *action = w.findChild<QAction *>("action_5");
    action->trigger();
    QWidget *first = w.pages()->currentWidget();
    action->trigger();
    QWidget *second = w.pages()->currentWidget();
    QVERIFY(qobject_cast<Form5 *>(first));
    QVERIFY(qobject_cast<Form5 *>(second));
    QVERIFY(first != second);
    QCOMPARE(w.pages()->count(), 4);
    QCOMPARE(w.pages()->indexOf(first), 2);
    // Closing a page hides it; it stays in the stack.
    first->findChild<QPushButton *>("pushButton_3")->click();
    QCOMPARE(w.pages()->indexOf(first), 2);
}

void ShellTest::absentDatabaseIsCreatedAndTheWindowStillOpens()
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/ORVDB.db3";
    QVERIFY(!QFile::exists(path));
    MainWindow w(path);
    QVERIFY(QFile::exists(path));
    QCOMPARE(columnsOf("datamark").size(), 18);
    QVERIFY(prompts::records().isEmpty());
}

void ShellTest::unopenableDatabaseIsReportedOnceAndTheWindowStillOpens()
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/missing-folder/ORVDB.db3";
    MainWindow w(path);
    const QStringList boxes = shown();
    QCOMPARE(boxes.size(), 1);
    QVERIFY(boxes.first().startsWith("失败|"));
    QVERIFY(boxes.first().contains(path));
    // Pages still open and report their own failure.
    w.findChild<QAction *>("action_5")->trigger();
    QVERIFY(qobject_cast<Form5 *>(w.pages()->currentWidget()));
    QCOMPARE(shown().size(), 2);
    QVERIFY(shown().last().startsWith("失败|"));
}

void ShellTest::aboutIsItsOwnWindow()
{
    about box;
    QVERIFY(box.isWindow());
    QCOMPARE(box.size(), QSize(336, 462));
    QCOMPARE(box.windowTitle(), QString("关于"));
    QVERIFY(!(box.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(box.windowFlags() & Qt::WindowMinimizeButtonHint));
    QCOMPARE(box.findChild<QLabel *>("label_2")->text(), QString("ORVEN-M70X"));
    QCOMPARE(box.findChild<QLabel *>("label_3")->text(), QString("版本： V1.1"));
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QVERIFY(!box.findChild<QLabel *>("label")->pixmap().isNull());
#else
    QVERIFY(!box.findChild<QLabel *>("label")->pixmap(Qt::ReturnByValue).isNull());
#endif
    for (int i = 4; i <= 8; ++i)
        QVERIFY(!box.findChild<QLabel *>(QStringLiteral("label_%1").arg(i))->text().isEmpty());
}

void ShellTest::organisationPageStartsEmpty()
{
    TempDatabase db;
    Form5 page;
    for (QLineEdit *e : companyFields(page))
        QVERIFY(e->text().isEmpty());
    QVERIFY(page.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(page.size(), QSize(1125, 590));
}

void ShellTest::organisationSavedTwiceKeepsOneRowWithTheSecondTexts()
{
    TempDatabase db;
    {
        Form5 page;
        const auto edits = companyFields(page);
        for (int i = 0; i < edits.size(); ++i)
            edits[i]->setText(QStringLiteral("first %1").arg(i));
        page.findChild<QPushButton *>("pushButton")->click();
        for (int i = 0; i < edits.size(); ++i)
            edits[i]->setText(QStringLiteral("O'Brien 检定 %1").arg(i));
        page.findChild<QPushButton *>("pushButton")->click();
    }
    QCOMPARE(shown(), (QStringList{"提示|保存成功！", "提示|保存成功！"}));
    const storage::Rows stored = rows("select * from company");
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored.first().value(7), QString("O'Brien 检定 7"));
    Form5 reopened;
    QCOMPARE(companyFields(reopened).first()->text(), QString("O'Brien 检定 0"));
}

void ShellTest::organisationCancelAndCloseLeaveTheRowUnchanged_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("取消") << "pushButton_2";
    QTest::newRow("关闭") << "pushButton_3";
}

void ShellTest::organisationCancelAndCloseLeaveTheRowUnchanged()
{
    QFETCH(QString, button);
    TempDatabase db;
    QVERIFY(storage::saveCompany({"Lab", "t", "f", "a", "p", "w", "pl", "b"}).ok);
    Form5 page;
    page.show();
    companyFields(page).first()->setText("Edited");
    page.findChild<QPushButton *>(button)->click();
    QVERIFY(!page.isVisible());
    QCOMPARE(rows("select unitname from company"), (storage::Rows{{"Lab"}}));
    Form5 again;
    QCOMPARE(companyFields(again).first()->text(), QString("Lab"));
}

void ShellTest::organisationFailedInsertKeepsTheRowAndSaysFailed()
{
    TempDatabase db;
    QVERIFY(storage::saveCompany({"Lab", "", "", "", "", "", "", ""}).ok);
    QVERIFY(sql("create trigger ro before insert on company begin "
                "select raise(abort, 'disk says no'); end"));
    Form5 page;
    companyFields(page).first()->setText("New");
    page.findChild<QPushButton *>("pushButton")->click();
    QCOMPARE(shown().size(), 1);
    QVERIFY(shown().first().startsWith("失败|"));
    QVERIFY(shown().first().contains("disk says no"));
    QCOMPARE(rows("select unitname from company"), (storage::Rows{{"Lab"}}));
}

QTEST_MAIN(ShellTest)
#include "tst_shell.moc"
