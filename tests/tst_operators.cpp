// Operators: accounts with hashed passwords, the sign-in over the window,
// the lock after an idle time, roles an action needs, and the trail of it.

#include "app/mainwindow.h"
#include "base/clock.h"
#include "office/standardcertificate.h"
#include "office/zippackage.h"
#include "pages/prompts.h"
#include "pages/settings/auditpage.h"
#include "pages/settings/form5.h"
#include "storage/statements.h"
#include "tests/docskit.h"
#include "tests/testkit.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableWidget>
#include <QToolBar>
#include <QtTest>

using namespace testkit;

namespace {

QStringList trail()
{
    QStringList out;
    for (const storage::AuditRow &r : storage::auditRows({}, {}, {}).value)
        out << r.operatorName + '|' + r.action + '|' + r.object;
    return out;
}

QString panelText(MainWindow &w, const char *label)
{
    return w.findChild<QLabel *>(label)->text();
}

} // namespace

class OperatorsTest : public QObject
{
    Q_OBJECT

private slots:
    void accountsAndTheirPasswords();
    void theWindowAsksWhoIsAtItAndLocksWhenIdle();
    void theToolLeavesSigningToTheWorkstation();
    void theTrailPageFiltersAndExports();
};

void OperatorsTest::accountsAndTheirPasswords()
{
    TempDatabase db;
    QVERIFY(db.ok());
    QVERIFY(storage::saveAccessSettings({true, 15}).ok);
    struct Case
    {
        QString name;
        QStringList roles;
        QString password;
        QString refused; // a part of the reason; empty: added
    };
    const QList<Case> cases{
        {"", {"管理员"}, "secret1", "用户名不能为空"},
        {"张三", {}, "secret1", "至少要有一个角色"},
        {"张三", {"所长"}, "secret1", "没有“所长”这个角色"},
        {"张三", {"管理员"}, "short", "至少 6 个字符"},
        {"张三", {"管理员", "校准员"}, "secret1", ""}, // the first: nobody signed in yet
        {"李四", {"核验员"}, "secret2", "需要“管理员”角色"},
    };
    for (const Case &c : cases) {
        const base::Status st = storage::addOperatorAccount(c.name, c.roles, c.password);
        QVERIFY2(c.refused.isEmpty() ? st.ok : !st.ok && st.error.contains(c.refused),
                 qPrintable(c.name + ": " + st.error));
    }
    // Wrong passwords and unknown names read alike; the trail has both.
    for (const auto &attempt : QList<QPair<QString, QString>>{{"张三", "secret2"}, {"王五", "x"}}) {
        const base::Result<storage::OperatorAccount> refused =
            storage::signIn(attempt.first, attempt.second);
        QVERIFY(!refused.ok);
        QCOMPARE(refused.error, QString("用户名或密码不对"));
    }
    const base::Result<storage::OperatorAccount> in = storage::signIn("张三", "secret1");
    QVERIFY2(in.ok, qPrintable(in.error));
    QCOMPARE(in.value.roles, (QStringList{"校准员", "管理员"})); // in the roles' order
    QCOMPARE(storage::auditOperator(), QString("张三"));
    // A 管理员 adds the others; one without the role may not.
    QVERIFY(storage::addOperatorAccount("李四", {"核验员"}, "secret2").ok);
    QVERIFY(!storage::addOperatorAccount("李四", {"批准人"}, "secret3").ok); // taken
    QVERIFY(storage::signOut("切换用户").ok);
    QVERIFY(storage::signIn("李四", "secret2").ok);
    const QList<QPair<QString, base::Status>> refused{
        {"新增操作员", storage::addOperatorAccount("王五", {"批准人"}, "secret3")},
        {"访问设置", storage::saveAccessSettings({false, 15})},
        {"全清", storage::clearCalibrations()},
        {"删除", storage::deleteCalibration("2024-05-01 10:00:00").status()}};
    for (const auto &r : refused)
        QVERIFY2(!r.second.ok && r.second.error.contains("需要“管理员”角色"),
                 qPrintable(r.first + ": " + r.second.error));

    // Kept only as a salted Argon2id hash, never the password itself.
    const storage::Rows kept = rows("select name, hash from operator_account order by name");
    QCOMPARE(kept.size(), 2);
    for (const storage::Row &r : kept) {
        QVERIFY(r[1].startsWith("$argon2id$"));
        QVERIFY(!r[1].contains("secret"));
    }
    QVERIFY(kept[0][1] != kept[1][1]);
    const QString all = trail().join('\n');
    QVERIFY(!all.contains("secret") && !all.contains("argon2"));
    QCOMPARE(trail().filter("登录被拒绝").size(), 2);
    QVERIFY(trail().contains("张三|切换用户|操作员 张三"));
    QVERIFY(trail().contains("张三|新增操作员|操作员 李四"));
    QVERIFY(storage::verifyAudit().value.whole());

    // Signing a certificate's digest: the password at that moment, the role
    // held; the trail has every attempt.
    const QDateTime at(QDate(2026, 12, 9), QTime(10, 0));
    const QString digest(64, 'a');
    struct Sign
    {
        QString name, password, role, refused;
    };
    const QList<Sign> signs{{"李四", "wrong1", "核验员", "用户名或密码不对"},
                            {"李四", "secret2", "批准人", "没有“批准人”角色"},
                            {"李四", "secret2", "核验员", ""}};
    for (const Sign &sign : signs) {
        const base::Result<storage::Signature> sig =
            storage::signAs(sign.name, sign.password, sign.role, digest, at);
        if (sign.refused.isEmpty()) {
            QVERIFY2(sig.ok, qPrintable(sig.error));
            QCOMPARE(sig.value.meaning, QString("核验"));
            QCOMPARE(sig.value.at, QString("2026-12-09 10:00:00"));
            QCOMPARE(sig.value.hash, digest);
            QVERIFY(office::signaturesText({sig.value}).contains("核验 李四 2026-12-09 10:00:00"));
        } else {
            QVERIFY2(!sig.ok && sig.error.contains(sign.refused), qPrintable(sig.error));
        }
    }
    QCOMPARE(trail().filter("|签名被拒绝|").size(), 2);
    QCOMPARE(trail().filter("|电子签名|").size(), 1);
    QVERIFY(office::signaturesText({}).isEmpty()); // no signatures: nothing said of them
    // Three signers, named, and three different people.
    const QList<QPair<office::Signers, bool>> signers{{{"张三", "李四", "王五"}, true},
                                                      {{"张三", "李四", " 张三"}, false},
                                                      {{"张三", "", "王五"}, false},
                                                      {{"李四", "李四", "王五"}, false}};
    for (const auto &s : signers)
        QCOMPARE(office::signersRefusal(s.first).isEmpty(), s.second);
}

void OperatorsTest::theWindowAsksWhoIsAtItAndLocksWhenIdle()
{
    TempDatabase db;
    QVERIFY(db.ok());
    QVERIFY(storage::saveAccessSettings({true, 15}).ok);
    base::ManualClock clock;
    MainWindow w(db.path());
    w.setClock(&clock);
    w.show();
    // A database without accounts: the first 管理员, asked twice.
    QVERIFY(w.isLocked());
    QCOMPARE(panelText(w, "label_signInTitle"), QString("建立第一个管理员账户"));
    QVERIFY(!w.findChild<QToolBar *>()->isEnabled());
    signInThrough(&w, "张三", "secret1", "secret9");
    QVERIFY(w.isLocked());
    QCOMPARE(panelText(w, "label_signInMessage"), QString("两次输入的密码不一样"));
    signInThrough(&w, "张三", "secret1");
    QVERIFY(!w.isLocked());
    QCOMPARE(w.operatorName(), QString("张三"));
    QCOMPARE(panelText(w, "label_operator"), QString("操作员：张三（管理员）"));
    QVERIFY(w.findChild<QToolBar *>()->isEnabled());

    // Idle for the set time: locked, the last operator offered again.
    clock.advance(10 * 60000);
    QVERIFY(!w.isLocked());
    QTest::keyClick(&w, Qt::Key_Shift); // someone at the keyboard
    clock.advance(10 * 60000);
    QVERIFY(!w.isLocked());
    clock.advance(6 * 60000);
    QVERIFY(w.isLocked());
    QCOMPARE(panelText(w, "label_signInTitle"), QString("登录"));
    QCOMPARE(panelText(w, "label_signInMessage"), QString("空闲 15 分钟，已锁定"));
    QCOMPARE(w.findChild<QComboBox *>("comboBox_operator")->currentText(), QString("张三"));
    signInThrough(&w, "张三", "wrong1");
    QVERIFY(w.isLocked());
    QCOMPARE(panelText(w, "label_signInMessage"), QString("用户名或密码不对"));
    signInThrough(&w, "张三", "secret1");
    QVERIFY(!w.isLocked());
    // 切换用户 locks at once.
    w.findChild<QAction *>("action_switchUser")->trigger();
    QVERIFY(w.isLocked());
    QVERIFY(w.operatorName().isEmpty());
    const QStringList rows = trail();
    // In order; a refused sign-in is nobody's (the system's user).
    QStringList mine;
    for (const QString &row : rows.mid(2))
        mine << (row.startsWith("张三|") ? row : row.section('|', 1));
    QCOMPARE(mine, (QStringList{"张三|登录|操作员 张三", "张三|空闲锁定|操作员 张三",
                                "登录被拒绝|操作员 张三", "张三|登录|操作员 张三",
                                "张三|切换用户|操作员 张三"}));

    // The 管理员 keeps the accounts and the sign-in on the laboratory page.
    signInThrough(&w, "张三", "secret1");
    Form5 page;
    page.findChild<QLineEdit *>("lineEdit_newOperator")->setText("李四");
    page.findChild<QCheckBox *>("checkBox_role1")->setChecked(true); // 核验员
    page.findChild<QLineEdit *>("lineEdit_newPassword")->setText("secret2");
    click(&page, "pushButton_addOperator");
    QCOMPARE(shown().last(), QString("提示|已新增操作员"));
    QCOMPARE(page.findChild<QLabel *>("label_operators")->text(),
             QString("操作员：张三（管理员）；李四（核验员）"));
    page.findChild<QCheckBox *>("checkBox_signIn")->setChecked(false);
    page.findChild<QSpinBox *>("spinBox_idle")->setValue(30);
    click(&page, "pushButton_access");
    QVERIFY(shown().last().startsWith("提示|已保存"));
    QCOMPARE(storage::accessSettings().value.signInRequired, false);
    QCOMPARE(storage::accessSettings().value.idleMinutes, 30);
}

void OperatorsTest::theToolLeavesSigningToTheWorkstation()
{
    TempDatabase db;
    DocumentRig rig;
    QVERIFY(rig.store());
    QVERIFY(storage::saveAccessSettings({true, 15}).ok);
    QVERIFY(storage::addOperatorAccount("张三", {"管理员"}, "secret1").ok);
    const QString pdf = db.dir() + "/standard.pdf";
    // Who issues: nobody, a wrong password, then 张三, who may not issue
    // without the three signatures.
    struct Attempt
    {
        QStringList before;
        QByteArray input;
        QString reason;
    };
    for (const Attempt &a :
         {Attempt{{}, {}, "需要登录"}, Attempt{{"--operator", "张三"}, "wrong11\n", "登录失败"},
          Attempt{{"--operator", "张三"}, "secret1\n", "电子签名"}}) {
        const ToolRun r =
            runReportWith(a.before + QStringList{"--db", db.path(), "certificate",
                                                 rig.fixture.begin, pdf, "--layout", "standard"},
                          a.input);
        QCOMPARE(r.code, 1);
        QVERIFY2(QString::fromUtf8(r.err).contains(a.reason), r.err.constData());
    }
    QVERIFY(!QFile::exists(pdf));
    QVERIFY(storage::listCertificates().value.isEmpty()); // no number taken
}

void OperatorsTest::theTrailPageFiltersAndExports()
{
    TempDatabase db;
    QVERIFY(storage::addOperatorAccount("张三", {"管理员"}, "secret1").ok);
    QVERIFY(storage::signIn("张三", "secret1").ok);
    QVERIFY(storage::addOperatorAccount("李四", {"核验员"}, "secret2").ok);
    QVERIFY(!storage::signIn("李四", "wrong22").ok);
    AuditPage page;
    auto *table = page.findChild<QTableWidget *>("tableWidget_audit");
    QCOMPARE(table->rowCount(), 4);
    QCOMPARE(page.findChild<QLabel *>("label_auditCheck")->text(),
             QString("审计记录完整，4 条；显示 4 条"));
    struct Filter
    {
        const char *field, *text;
        int rows;
    };
    for (const Filter &f :
         {Filter{"lineEdit_auditObject", "李四", 2}, Filter{"lineEdit_auditOperator", "张三", 3},
          Filter{"lineEdit_auditTo", "2000-01-01", 0}}) {
        page.findChild<QLineEdit *>(f.field)->setText(f.text);
        click(&page, "pushButton_auditFind");
        QCOMPARE(table->rowCount(), f.rows);
        page.findChild<QLineEdit *>(f.field)->clear();
    }
    click(&page, "pushButton_auditFind");
    const QString xlsx = db.dir() + "/audit.xlsx";
    prompts::queueFileName(xlsx);
    click(&page, "pushButton_auditExport");
    QCOMPARE(shown().last(), QString("提示|导出成功!"));
    QString strings;
    for (const office::ZipEntry &e : office::readZip(xlsx).value)
        strings += QString::fromUtf8(e.data);
    for (const char *text : {"审计记录完整，4 条", "新增操作员", "登录被拒绝", "操作员 李四"})
        QVERIFY2(strings.contains(QString::fromUtf8(text)), text);
    QCOMPARE(storage::auditRows({}, {}, {}).value.last().action, QString("导出审计记录"));
}

QTEST_MAIN(OperatorsTest)
#include "tst_operators.moc"
