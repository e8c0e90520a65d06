#include "app/instance.h"

#include <QDir>
#include <QFileInfo>

namespace app {

std::unique_ptr<QLockFile> lockDatabase(const QString &databasePath, QString *why)
{
    QDir().mkpath(QFileInfo(databasePath).absolutePath());
    auto lock = std::make_unique<QLockFile>(databasePath + QStringLiteral(".lock"));
    // A running owner is asked about by its process id; a dead one is stale
    // at once, however recent its lock.
    lock->setStaleLockTime(0);
    if (lock->tryLock(200))
        return lock;
    if (why) {
        qint64 pid = 0;
        QString host, program;
        lock->getLockInfo(&pid, &host, &program);
        if (lock->error() == QLockFile::LockFailedError)
            *why = QStringLiteral("ORVEN-M70X 已经在运行（进程 %1），它正在使用数据库：\n%2\n"
                                  "请切换到已经打开的窗口。")
                       .arg(pid)
                       .arg(QDir::toNativeSeparators(databasePath));
        else
            *why = QStringLiteral("不能在 %1 旁建立锁文件，程序不能确定是否已有一个在运行。")
                       .arg(QDir::toNativeSeparators(databasePath));
    }
    return nullptr;
}

} // namespace app
