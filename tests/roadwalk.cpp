// One station walking the operator's road against the laboratory's server
// (or a database file),
// on the display, with a simulated collector of its own whose chamber
// follows the run; then the query page once the server holds as many
// calibrations as asked for. Run two at once (two station names) under
// Xvfb to see the stations share the server:
//   ORVEN_STATION=一号工作站 roadwalk URL SERIAL EQUIPMENT CALIBRATIONS SHOT.png [X Y]
// It prints the longest time its window stood still.
// With ORVEN_ROAD_SHOTS=DIR the equipment gets the method's nine locations
// and a probe at each; the pictures of the road go to DIR: the run page
// and its live chamber, the results and their chamber, the standard
// certificate as PDF.

#include "app/mainwindow.h"
#include "pages/prompts.h"
#include "pages/reports/chamberview.h"
#include "pages/reports/form6.h"
#include "pages/run/shoudata.h"
#include "storage/server.h"
#include "storage/statements.h"
#include "tests/roadkit.h"
#include "tests/testkit.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>
#include <QScreen>
#include <QStackedWidget>
#include <QThread>
#include <cstdio>

// The processed calibration on the query page: its results and their
// chamber, then the standard certificate as PDF, signed by three names.
static int pictures(MainWindow &w, const QString &dir)
{
    w.findChild<QAction *>(QStringLiteral("action_4"))->trigger();
    auto *query = qobject_cast<Form6 *>(w.pages()->currentWidget());
    if (!query)
        return 1;
    QMetaObject::invokeMethod(query, "on_tbnum_cellClicked", Q_ARG(int, 0), Q_ARG(int, 1));
    testkit::waitUntil([&] { return query->loadedCalibration() != nullptr; }, 10000);
    testkit::click(query, QStringLiteral("pushButton_results"));
    testkit::waitUntil([] { return false; }, 500);
    w.grab().save(dir + QStringLiteral("/road-results.png"));
    testkit::click(query, QStringLiteral("pushButton_chamber"));
    testkit::waitUntil([] { return false; }, 500);
    if (ChamberView *view = query->chamberView()) {
        view->window()->grab().save(dir + QStringLiteral("/road-results-chamber.png"));
        view->window()->hide();
    }
    prompts::queueAnswer(true); // points without samples
    // Three operators sign, each with their own password.
    const QString pass = QStringLiteral("road-pass");
    prompts::queueFields(
        {QStringLiteral("李四"), pass, QStringLiteral("王五"), pass, QStringLiteral("赵六"), pass});
    prompts::queueFileName(dir + QStringLiteral("/road-certificate.pdf"));
    testkit::click(query, QStringLiteral("pushButton_standard"));
    testkit::waitUntil([&] { return !query->isExporting(); }, 120000);
    for (const QString &line : testkit::shown())
        std::printf("%s\n", qPrintable(line.left(300)));
    return QFile::exists(dir + QStringLiteral("/road-certificate.pdf")) ? 0 : 1;
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("orven"));
    QCoreApplication::setApplicationName(QStringLiteral("orven-m70x"));
    const QStringList args = app.arguments();
    if (args.size() < 6) {
        std::fprintf(stderr, "usage: roadwalk URL SERIAL EQUIPMENT CALIBRATIONS SHOT.png [X Y]\n");
        return 2;
    }
    prompts::setScripted(true);
    sim::Options opt;
    opt.serial = args[2];
    opt.humidityChannels = {103, 104};
    // As the run command starts it: readings with function 06, writes echoed.
    opt.readingFunction = 0x06;
    opt.writeReplies = sim::Options::WriteReplies::Echo;
    opt.chamberDatabase = args[1]; // the chamber follows this station's run on the server
    auto collector = testkit::startSim(opt);
    if (!collector) {
        std::fprintf(stderr, "no simulated collector\n");
        return 1;
    }
    // The collector answers from a thread of its own, as a real one from its
    // own box: its chamber reads the server, and a server that holds still
    // holds up the simulator, never the window measured here.
    struct OwnThread
    {
        QThread thread;
        sim::CollectorSim *sim = nullptr;
        ~OwnThread()
        {
            QObject::connect(&thread, &QThread::finished, sim, &QObject::deleteLater);
            thread.quit();
            thread.wait();
        }
    } simulator;
    simulator.sim = collector.release();
    simulator.thread.start();
    simulator.sim->moveToThread(&simulator.thread);
    sim::CollectorSim &line = *simulator.sim;
    testkit::setExtraPorts({line.portPath()});
    MainWindow w(args[1]);
    if (args.size() >= 8)
        w.move(args[6].toInt(), args[7].toInt());
    // The road starts at the sign-in: the first 管理员 on a new database (the
    // other station, a moment later, signs in to that account).
    for (int attempt = 0; attempt < 2 && w.isLocked(); ++attempt) {
        auto *panel = w.findChild<QWidget *>(QStringLiteral("signInPanel"));
        if (attempt > 0)
            w.lock(QString()); // asked again: the account exists now
        w.findChild<QComboBox *>(QStringLiteral("comboBox_operator"))
            ->setCurrentText(QStringLiteral("张三"));
        for (const char *field : {"lineEdit_password", "lineEdit_passwordAgain"})
            w.findChild<QLineEdit *>(QLatin1String(field))->setText(QStringLiteral("road-pass"));
        testkit::click(panel, QStringLiteral("pushButton_signIn"));
    }
    if (w.isLocked()) {
        std::fprintf(stderr, "the sign-in did not let the road in\n");
        return 1;
    }
    // The 管理员 gives the three signers their accounts (once per database).
    const QList<QPair<QString, QString>> signers{
        {QStringLiteral("李四"), QStringLiteral("校准员")},
        {QStringLiteral("王五"), QStringLiteral("核验员")},
        {QStringLiteral("赵六"), QStringLiteral("批准人")}};
    for (const auto &s : signers)
        storage::addOperatorAccount(s.first, {s.second}, QStringLiteral("road-pass"));
    w.resize(1180, 700);
    w.show();
    // How long the window ever stood still; with ORVEN_OUTAGE_FLAG, also
    // while that file exists (a script makes it while the server is frozen
    // or restarting).
    const testkit::StallMeter stalls(qEnvironmentVariable("ORVEN_OUTAGE_FLAG"));
    testkit::Road road;
    road.equipment = args[3];
    // ORVEN_ROAD_ROWS: readings per point (a longer run outlasts an outage).
    road.rowsPerPoint = qEnvironmentVariableIntValue("ORVEN_ROAD_ROWS");
    if (road.rowsPerPoint <= 0)
        road.rowsPerPoint = 5;
    road.waitMs = 20000 + 2000 * road.rowsPerPoint;
    const QString shots = qEnvironmentVariable("ORVEN_ROAD_SHOTS");
    if (!shots.isEmpty()) {
        road.nineLocations = true;
        road.standardsData = true;
        road.whileRunning = [&](shoudata *run) {
            testkit::click(run, QStringLiteral("pushButton_chamber"));
            testkit::waitUntil([] { return false; }, 3000);
            w.grab().save(shots + QStringLiteral("/road-run-page.png"));
            if (ChamberView *view = run->chamberView())
                view->window()->grab().save(shots + QStringLiteral("/road-live-chamber.png"));
        };
    }
    const QString stopped = testkit::walkTheRoad(w, line, road);
    if (!stopped.isEmpty()) {
        std::fprintf(stderr, "road stopped: %s\n", qPrintable(stopped));
        return 1;
    }
    for (const QString &line : testkit::firstLines())
        std::printf("%s\n", qPrintable(line));
    if (!shots.isEmpty()) {
        const int code = pictures(w, shots);
        testkit::setExtraPorts({});
        return code;
    }
    // The other station may still be on its road.
    const int wanted = args[4].toInt();
    testkit::waitUntil([&] { return storage::countHeaders().value >= wanted; }, 180000);
    w.findChild<QAction *>(QStringLiteral("action_4"))->trigger();
    // The other station's calibration, loaded: its station in the header line.
    auto *query = qobject_cast<Form6 *>(w.pages()->currentWidget());
    const auto headers = storage::listHeaders();
    const auto stations = storage::stationsOfCalibrations();
    if (query && headers && stations) {
        for (int row = 0; row < headers.value.size(); ++row) {
            if (stations.value.value(headers.value[row].dtbegin) == storage::stationName())
                continue;
            QMetaObject::invokeMethod(query, "on_tbnum_cellClicked", Q_ARG(int, row),
                                      Q_ARG(int, 1));
            testkit::waitUntil([&] { return query->loadedCalibration() != nullptr; }, 10000);
            break;
        }
    }
    testkit::waitUntil([] { return false; }, 1500);
    w.grab().save(args[5]);
    std::printf("longest stall of the window: %lld ms; while the server was away: %lld ms\n",
                stalls.longest(), stalls.longestFlagged());
    std::printf("calibrations on the server: %d\n", storage::countHeaders().value);
    std::fflush(stdout); // a script waits for this line to look at the display
    // Left on the display a little longer, for a look at both windows.
    testkit::waitUntil([] { return false; }, 6000);
    testkit::setExtraPorts({});
    return 0;
}
