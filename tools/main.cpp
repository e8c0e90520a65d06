#include "office/conversion.h"
#include "tools/report.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <memory>
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
    // Documents are drawn (their PDF, the certificate's layout): that needs
    // fonts, not a screen. Every other command stays a plain console program.
    bool document = false;
    for (int i = 1; i < argc; ++i)
        document = document || qstrcmp(argv[i], "certificate") == 0 ||
                   qstrcmp(argv[i], "record") == 0;
    std::unique_ptr<QCoreApplication> app;
    if (document) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
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
