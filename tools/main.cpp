#include "tools/report.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The workstation's names: the same user data folder and database.
    QCoreApplication::setOrganizationName(QStringLiteral("orven"));
    QCoreApplication::setApplicationName(QStringLiteral("orven-m70x"));
    QTextStream out(stdout);
    QTextStream err(stderr);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    out.setCodec("UTF-8");
    err.setCodec("UTF-8");
#endif
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    return report::run(args, out, err);
}
