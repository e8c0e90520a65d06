// Every page as the operator sees it: no two visible widgets of one parent
// lie over each other (a label over a field takes its clicks), and the
// start panel is there whenever no page is open.

#include "app/mainwindow.h"
#include "app/startpanel.h"
#include "pages/channels/form3.h"
#include "pages/channels/form4.h"
#include "pages/collectors/form1.h"
#include "pages/equipment/form2.h"
#include "pages/reports/form6.h"
#include "pages/run/curvewindow.h"
#include "pages/run/shoudata.h"
#include "pages/settings/about.h"
#include "pages/settings/form5.h"
#include "tests/testkit.h"

#include <QAction>
#include <QPushButton>
#include <QStackedWidget>
#include <functional>

using namespace testkit;

namespace {

QString describe(const QWidget *w)
{
    const QRect r = w->geometry();
    return QStringLiteral("%1 %2 (%3,%4 %5x%6)")
        .arg(QString::fromLatin1(w->metaObject()->className()), w->objectName())
        .arg(r.x())
        .arg(r.y())
        .arg(r.width())
        .arg(r.height());
}

// Pairs of visible sibling widgets whose rectangles overlap, at every level.
QStringList overlaps(QWidget *parent)
{
    QStringList found;
    QList<QWidget *> kids;
    for (QObject *o : parent->children()) {
        auto *w = qobject_cast<QWidget *>(o);
        if (w && !w->isWindow() && w->isVisibleTo(parent) && w->width() > 0 && w->height() > 0)
            kids << w;
    }
    for (int i = 0; i < kids.size(); ++i) {
        for (int j = i + 1; j < kids.size(); ++j)
            if (kids[i]->geometry().intersects(kids[j]->geometry()))
                found << describe(kids[i]) + " / " + describe(kids[j]);
        // Inside scroll areas, tables and the like Qt places its own parts.
        if (!kids[i]->inherits("QAbstractScrollArea") && !kids[i]->inherits("QComboBox") &&
            !kids[i]->inherits("QAbstractSpinBox") && !kids[i]->inherits("QTabBar"))
            found += overlaps(kids[i]);
    }
    return found;
}

} // namespace

class LayoutTest : public QObject
{
    Q_OBJECT

private slots:
    void noWidgetLiesOverAnother_data();
    void noWidgetLiesOverAnother();
    void startPanelWhenNoPageIsOpen();
};

void LayoutTest::noWidgetLiesOverAnother_data()
{
    QTest::addColumn<int>("page");
    const char *names[] = {"Form1", "Form2", "Form3", "Form4", "Form5",
                           "Form6", "shoudata", "about", "CurveWindow", "MainWindow"};
    for (int i = 0; i < int(sizeof names / sizeof *names); ++i)
        QTest::newRow(names[i]) << i;
}

void LayoutTest::noWidgetLiesOverAnother()
{
    QFETCH(int, page);
    TempDatabase db;
    const QList<std::function<QWidget *()>> make{
        [] { return new Form1; },     [] { return new Form2; },    [] { return new Form3; },
        [] { return new Form4; },     [] { return new Form5; },    [] { return new Form6; },
        [] { return new shoudata; },  [] { return new about; },
        [] {
            auto *session = new acquisition::RunSession;
            auto *w = new CurveWindow(new acquisition::RunMonitor(session, session));
            session->setParent(w);
            return w;
        },
        [&db] { return new MainWindow(db.path()); }};
    std::unique_ptr<QWidget> w(make[page]());
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    const QStringList found = overlaps(w.get());
    QVERIFY2(found.isEmpty(), qPrintable(found.join('\n')));
}

void LayoutTest::startPanelWhenNoPageIsOpen()
{
    TempDatabase db;
    MainWindow w(db.path());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(w.startPanel()->isVisible());
    w.findChild<QAction *>("action_5")->trigger(); // 检定单位
    QVERIFY(!w.startPanel()->isVisible());
    w.findChild<QAction *>("action_2")->trigger(); // 试验设备 over it
    auto closeCurrent = [&] {
        for (QPushButton *b : w.pages()->currentWidget()->findChildren<QPushButton *>())
            if (b->text() == "关闭")
                return b->click(), true;
        return false;
    };
    QVERIFY(closeCurrent());
    // The page below is still open: it comes back, not the panel.
    QVERIFY(waitUntil([&] { return w.pages()->currentWidget()->isVisible(); }, 1000));
    QVERIFY(!w.startPanel()->isVisible());
    QVERIFY(closeCurrent());
    QVERIFY(waitUntil([&] { return w.startPanel()->isVisible(); }, 1000));
    // And the ticks are up to date.
    QVERIFY(w.startPanel()->isVisibleTo(&w));
}

QTEST_MAIN(LayoutTest)
#include "tst_layout.moc"
