#include "app/welcome.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    welcome splash;
    splash.show();
    return app.exec();
}
