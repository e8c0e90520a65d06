#pragma once

// Converting documents with LibreOffice in headless mode: a .docx to PDF, an
// .xls to .xlsx and back. Every conversion has its own temporary directory
// and its own LibreOffice profile (shared profiles fail silently when two
// conversions run at once), a time limit, and leaves nothing behind.

#include <QObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <atomic>
#include <memory>

class QTimer;

namespace office {

// The LibreOffice program: $ORVEN_SOFFICE, else soffice or libreoffice on
// PATH; empty when there is none.
QString findSoffice();
// What the operator reads when LibreOffice is missing.
QString sofficeMissingText(bool offerDocx);

// Removes the private folders exports leave in the temporary folder when
// they are killed ("orven-convert-*", "orven-report-*", "orven-export-*",
// "orven-xlsx-*") that were last changed more than `olderThanSeconds` ago:
// a running export of another process is never younger than that. Returns
// how many were removed.
int removeStaleTempFolders(qint64 olderThanSeconds = 24 * 3600);

class Conversion : public QObject
{
    Q_OBJECT

public:
    // `filter` as soffice --convert-to takes it: "pdf", "xlsx", "xls".
    Conversion(const QString &input, const QString &filter, int timeoutMs = 180000,
               QObject *parent = nullptr);
    ~Conversion() override; // kills a conversion still running

    void start(); // finished() follows, from the event loop
    void cancel();
    // Runs to the end on the calling thread (command-line tools, workers);
    // `cancel` is looked at every 200 ms.
    bool run(QString *error, const std::atomic<bool> *cancel = nullptr);

    // The converted file, inside this conversion's temporary directory.
    QString output() const { return m_output; }
    QString error() const { return m_error; }

signals:
    void finished(bool ok, const QString &error);

private:
    bool prepare();
    void onFinished(int code, QProcess::ExitStatus status);
    void onTimeout();
    void killGroup();
    void done(bool ok, const QString &error);

    QString m_input, m_filter, m_output, m_error;
    int m_timeoutMs;
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess *m_process = nullptr;
    QTimer *m_timer = nullptr;
    bool m_finished = false;
};

} // namespace office
