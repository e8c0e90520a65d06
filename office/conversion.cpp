#include "office/conversion.h"

#include "office/conversionfonts.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace office {

QString findSoffice()
{
    const QString env = qEnvironmentVariable("ORVEN_SOFFICE");
    if (!env.isEmpty())
        return QFileInfo(env).isExecutable() ? env : QString();
    for (const char *name : {"soffice", "libreoffice"}) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty())
            return path;
    }
    return QString();
}

QString sofficeMissingText(bool offerDocx)
{
    QString text =
        QStringLiteral("没有找到 LibreOffice（soffice），不能生成该格式。\n"
                       "请安装 LibreOffice（Debian：apt install libreoffice-writer-nogui "
                       "libreoffice-calc-nogui）");
    if (offerDocx)
        text += QStringLiteral("，或者导出为 Word 文件（.docx）");
    return text + QStringLiteral("。");
}

int removeStaleTempFolders(qint64 olderThanSeconds)
{
    const QDir tmp(QDir::tempPath());
    const QDateTime limit = QDateTime::currentDateTime().addSecs(-olderThanSeconds);
    int removed = 0;
    const QFileInfoList folders = tmp.entryInfoList(
        {QStringLiteral("orven-convert-*"), QStringLiteral("orven-report-*"),
         QStringLiteral("orven-export-*"), QStringLiteral("orven-xlsx-*")},
        QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo &f : folders) {
        // Only our own: the owner of a folder of another user's export
        // removes it.
        if (f.isSymLink() || f.ownerId() != ::getuid() || f.lastModified() > limit)
            continue;
        if (QDir(f.absoluteFilePath()).removeRecursively())
            ++removed;
    }
    return removed;
}

Conversion::Conversion(const QString &input, const QString &filter, int timeoutMs, QObject *parent)
    : QObject(parent), m_input(input), m_filter(filter), m_timeoutMs(timeoutMs)
{
}

Conversion::~Conversion()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        killGroup();
        m_process->waitForFinished(3000);
    }
}

bool Conversion::prepare()
{
    const QString soffice = findSoffice();
    if (soffice.isEmpty()) {
        m_error = sofficeMissingText(false);
        return false;
    }
    m_dir =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/orven-convert-XXXXXX"));
    if (!m_dir->isValid()) {
        m_error = QStringLiteral("不能建立临时目录：%1").arg(m_dir->errorString());
        return false;
    }
    QDir(m_dir->path()).mkpath(QStringLiteral("out"));
    m_output = m_dir->path() + QStringLiteral("/out/") + QFileInfo(m_input).completeBaseName() +
               QLatin1Char('.') + m_filter.section(QLatin1Char(':'), 0, 0);
    const QStringList args{
        QStringLiteral("-env:UserInstallation=") +
            QUrl::fromLocalFile(m_dir->path() + QStringLiteral("/profile")).toString(),
        QStringLiteral("--headless"),
        QStringLiteral("--norestore"),
        QStringLiteral("--nolockcheck"),
        QStringLiteral("--convert-to"),
        m_filter,
        QStringLiteral("--outdir"),
        m_dir->path() + QStringLiteral("/out"),
        m_input};
    m_process = new QProcess(this);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    // The Word fonts the documents name, drawn with the Chinese faces.
    if (const QString fonts = conversionFontConfig(); !fonts.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FONTCONFIG_FILE"), fonts);
        m_process->setProcessEnvironment(env);
    }
    // In a session of its own, so that a time limit or a cancel can end
    // LibreOffice together with the processes it starts.
    const QString setsid = QStandardPaths::findExecutable(QStringLiteral("setsid"));
    if (!setsid.isEmpty()) {
        m_process->setProgram(setsid);
        m_process->setArguments(QStringList{soffice} + args);
    } else {
        m_process->setProgram(soffice);
        m_process->setArguments(args);
    }
    connect(m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &Conversion::onFinished);
    return true;
}

void Conversion::start()
{
    if (!prepare()) {
        QTimer::singleShot(0, this, [this] { done(false, m_error); });
        return;
    }
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &Conversion::onTimeout);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            done(false, QStringLiteral("不能启动 LibreOffice：%1").arg(m_process->errorString()));
    });
    m_process->start();
    m_timer->start(m_timeoutMs);
}

bool Conversion::run(QString *error, const std::atomic<bool> *cancelled)
{
    if (!prepare()) {
        if (error)
            *error = m_error;
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    m_process->start();
    if (!m_process->waitForStarted(30000)) {
        m_error = QStringLiteral("不能启动 LibreOffice：%1").arg(m_process->errorString());
    } else {
        while (!m_finished && !m_process->waitForFinished(200)) {
            if (m_process->state() == QProcess::NotRunning)
                break;
            if (cancelled && cancelled->load()) {
                cancel();
                break;
            }
            if (clock.elapsed() >= m_timeoutMs) {
                onTimeout();
                break;
            }
        }
    }
    if (error)
        *error = m_error;
    return m_finished && m_error.isEmpty();
}

void Conversion::killGroup()
{
    const qint64 pid = m_process ? m_process->processId() : 0;
    if (pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
    if (m_process)
        m_process->kill();
}

void Conversion::cancel()
{
    if (m_finished)
        return;
    if (m_process && m_process->state() != QProcess::NotRunning) {
        disconnect(m_process, nullptr, this, nullptr);
        killGroup();
        m_process->waitForFinished(3000);
    }
    done(false, QStringLiteral("已取消"));
}

void Conversion::onTimeout()
{
    if (m_finished)
        return;
    disconnect(m_process, nullptr, this, nullptr);
    killGroup();
    m_process->waitForFinished(3000);
    done(false,
         QStringLiteral("LibreOffice 转换超过 %1 秒没有完成，已终止。").arg(m_timeoutMs / 1000.0));
}

void Conversion::onFinished(int code, QProcess::ExitStatus status)
{
    if (m_finished)
        return;
    const QString log = QString::fromLocal8Bit(m_process->readAll()).trimmed();
    const QFileInfo out(m_output);
    if (status == QProcess::NormalExit && code == 0 && out.exists() && out.size() > 0) {
        done(true, QString());
        return;
    }
    QString why = QStringLiteral("LibreOffice 转换失败（退出码 %1）").arg(code);
    if (!log.isEmpty())
        why += QStringLiteral("：") + log.right(400);
    done(false, why);
}

void Conversion::done(bool ok, const QString &error)
{
    if (m_finished)
        return;
    m_finished = true;
    m_error = error;
    if (m_timer)
        m_timer->stop();
    emit finished(ok, error);
}

} // namespace office
