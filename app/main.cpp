#include "app/welcome.h"
#include "pages/prompts.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("orven"));
    QCoreApplication::setApplicationName(QStringLiteral("orven"));
    // Standard buttons and dialogs in Chinese, like the rest of the program.
    prompts::loadQtTranslations();
    welcome splash;
    splash.show();
    return app.exec();
}
