#include "app/instance.h"
#include "app/welcome.h"
#include "pages/prompts.h"
#include "storage/database.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The same names in orven-report: both find the same data folder.
    QCoreApplication::setOrganizationName(QStringLiteral("orven"));
    QCoreApplication::setApplicationName(QStringLiteral("orven-m70x"));
    QGuiApplication::setDesktopFileName(QStringLiteral("orven-m70x"));
    // Standard buttons and dialogs in Chinese, like the rest of the program.
    prompts::loadQtTranslations();

    const storage::DatabaseLocation database = storage::databaseLocation();
    QString why;
    const std::unique_ptr<QLockFile> lock = app::lockDatabase(database.path, &why);
    if (!lock) {
        prompts::about(nullptr, QStringLiteral("提示"), why);
        return 1;
    }
    welcome splash(database.path);
    splash.show();
    return app.exec();
}
