// Test helper, not a test: the workstation's own start and end
// (app::runWorkstation, exactly as main() calls it) with a hook that acts as
// an operator would, for tests that must send signals to a real process or
// run it as another user.
//   workstationprobe run    opens the run page and starts a run at 1 s
//   workstationprobe view   opens the query page, loads the first
//                           calibration, prints "samples N", and quits
// Dialogs are scripted; every one shown is printed to standard error.

#include "app/mainwindow.h"
#include "app/workstation.h"
#include "pages/prompts.h"
#include "pages/reports/form6.h"
#include "pages/run/shoudata.h"
#include "storage/database.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTimer>
#include <cstdio>

static void report(const char *line)
{
    std::fprintf(stdout, "%s\n", line);
    std::fflush(stdout);
}

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    prompts::setScripted(true);
    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : QString();
    app::StartHooks hooks;
    hooks.splashMs = 10;
    hooks.mainWindowShown = [mode](MainWindow *w) {
        for (const prompts::Record &r : prompts::records())
            std::fprintf(stderr, "prompt: %s|%s\n", qPrintable(r.title), qPrintable(r.text));
        if (storage::databaseIsReadOnly())
            report("read-only");
        if (mode == QLatin1String("run")) {
            w->findChild<QAction *>(QStringLiteral("action_3"))->trigger();
            auto *page = qobject_cast<shoudata *>(w->pages()->currentWidget());
            page->findChild<QLineEdit *>(QStringLiteral("lineEdit"))->setText(QStringLiteral("1"));
            page->findChild<QSpinBox *>(QStringLiteral("spinBox_settle"))->setValue(0);
            QObject::connect(page->session(), &acquisition::RunSession::started, [] {
                report("running");
            });
            page->findChild<QPushButton *>(QStringLiteral("pushButton"))->click();
        } else if (mode == QLatin1String("view")) {
            w->findChild<QAction *>(QStringLiteral("action_4"))->trigger();
            auto *page = qobject_cast<Form6 *>(w->pages()->currentWidget());
            QMetaObject::invokeMethod(page, "on_tbnum_cellClicked", Q_ARG(int, 0), Q_ARG(int, 0));
            auto *poll = new QTimer(w);
            QObject::connect(poll, &QTimer::timeout, w, [page, w, poll] {
                if (page->isLoading())
                    return;
                poll->stop();
                const results::Calibration *c = page->loadedCalibration();
                report(qPrintable(QStringLiteral("samples %1").arg(c ? c->samples.size() : -1)));
                w->quitWithoutQuestion();
            });
            poll->start(50);
        } else {
            report("idle");
        }
    };
    return app::runWorkstation(application, hooks);
}
