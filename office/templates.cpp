#include "office/templates.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace office {

QString expectedTemplatePath(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

QString findTemplate(const QString &name)
{
    // $ORVEN_TEMPLATES (a folder) first: tests and developers point it at
    // the templates the build made.
    const QString dir = qEnvironmentVariable("ORVEN_TEMPLATES");
    if (!dir.isEmpty() && QFileInfo(dir + QLatin1Char('/') + name).isFile())
        return dir + QLatin1Char('/') + name;
    const QString path = expectedTemplatePath(name);
    return QFileInfo(path).isFile() ? path : QString();
}

} // namespace office
