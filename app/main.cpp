#include "app/workstation.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    return app::runWorkstation(application);
}
