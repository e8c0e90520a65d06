#include "office/templates.h"
#include "base/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "storage/database.h"

namespace office {

QString expectedTemplatePath(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

QString installedDataFolder()
{
    const QString env = qEnvironmentVariable("ORVEN_DATA_DIR");
    if (!env.isEmpty())
        return env;
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/orven"));
}

static QStringList searchFolders()
{
    QStringList dirs;
    // $ORVEN_TEMPLATES first: tests and developers point it at the templates
    // the build made.
    const QString env = qEnvironmentVariable("ORVEN_TEMPLATES");
    if (!env.isEmpty())
        dirs << env;
    const QString program = QCoreApplication::applicationDirPath();
    dirs << program << base::userDataFolder() << installedDataFolder();
    return dirs;
}

QString findTemplate(const QString &name)
{
    for (const QString &dir : searchFolders()) {
        const QString path = dir + QLatin1Char('/') + name;
        if (QFileInfo(path).isFile())
            return path;
    }
    return QString();
}

QString editableTemplate(const QString &name, QString *error)
{
    const QString found = findTemplate(name);
    if (found.isEmpty())
        return QString();
    const QString folder = QFileInfo(found).absolutePath();
    if (QFileInfo(folder) != QFileInfo(installedDataFolder()))
        return found;
    // An installed template is read-only: the user edits a copy of it.
    const QString copy = base::userDataFolder() + QLatin1Char('/') + name;
    if (!QFile::copy(found, copy)) {
        if (error)
            *error = QStringLiteral("不能把模板复制到 %1").arg(copy);
        return QString();
    }
    QFile(copy).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                               QFile::ReadOther);
    return copy;
}

} // namespace office
