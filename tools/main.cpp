#include "office/conversion.h"
#include "tools/report.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_signal = 0;

extern "C" void onSignal(int signal)
{
    // Outside an export nothing needs cleaning up; a second signal does not
    // wait for the cleanup either.
    if (g_signal != 0 || !report::writingFiles().load())
        ::_exit(128 + signal);
    g_signal = signal;
    report::cancelRequested() = true;
}

} // namespace

int main(int argc, char *argv[])
{
    // Drawings (a certificate's layout) need fonts, not a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // The workstation's names: the same user data folder and database.
    QCoreApplication::setOrganizationName(QStringLiteral("orven"));
    QCoreApplication::setApplicationName(QStringLiteral("orven-m70x"));
    report::cancelRequested() = false; // made before a handler may touch them
    report::writingFiles() = false;
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        std::signal(s, onSignal);
    // What an earlier, killed run may have left.
    office::removeStaleTempFolders();
    QTextStream out(stdout);
    QTextStream err(stderr);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    out.setCodec("UTF-8");
    err.setCodec("UTF-8");
#endif
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    const int code = report::run(args, out, err);
    return g_signal != 0 ? 128 + int(g_signal) : code;
}
