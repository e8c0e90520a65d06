#include "app/workstation.h"
#include "base/paths.h"

#include "app/instance.h"
#include "app/mainwindow.h"
#include "app/quitsignals.h"
#include "app/welcome.h"
#include "office/conversion.h"
#include "pages/prompts.h"
#include "storage/database.h"
#include "storage/server.h"

#include <QApplication>
#include <QFileInfo>

namespace app {

int runWorkstation(QApplication &application, const StartHooks &hooks)
{
    // The same names in orven-report: both find the same data folder.
    QCoreApplication::setOrganizationName(QStringLiteral("orven"));
    QCoreApplication::setApplicationName(QStringLiteral("orven-m70x"));
    QGuiApplication::setDesktopFileName(QStringLiteral("orven-m70x"));
    // Standard buttons and dialogs in Chinese, like the rest of the program.
    prompts::loadQtTranslations();
    // Folders of exports a killed program left behind.
    office::removeStaleTempFolders();

    const storage::DatabaseLocation database = storage::databaseLocation();
    QString why;
    // A server is locked per station once connected (the main window).
    const bool server = storage::isServerUrl(database.path);
    std::unique_ptr<QLockFile> lock = server ? nullptr : lockDatabase(database.path, &why);
    bool readOnly = false;
    if (!lock && !server) {
        // A folder nobody may write in: nobody else can write the database
        // either, so it is opened for viewing and exports only.
        const QString folder = QFileInfo(database.path).absolutePath();
        if (!QFileInfo::exists(database.path) || base::folderIsWritable(folder)) {
            prompts::about(nullptr, QStringLiteral("提示"), why);
            return 1;
        }
        readOnly = true;
    }
    QuitSignals quitSignals;
    welcome splash(database.path, readOnly, hooks.splashMs);
    QObject::connect(&quitSignals, &QuitSignals::received, &application, [&](int) {
        if (MainWindow *w = splash.mainWindow())
            w->quitWithoutQuestion();
        else
            QCoreApplication::quit();
    });
    QObject::connect(&splash, &welcome::mainWindowShown, &application, [&](MainWindow *w) {
        // The main window ends the program, whatever other window is open.
        QObject::connect(w, &MainWindow::closed, &application, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        if (hooks.mainWindowShown)
            hooks.mainWindowShown(w);
    });
    splash.show();
    const int code = application.exec();
    // Pages first: a run's lines close and its waiting samples get a last try.
    splash.closeMainWindow();
    storage::closeDatabase();
    lock.reset();
    return code;
}

} // namespace app
