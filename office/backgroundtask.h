#pragma once

// Runs one long piece of work (a document, a workbook) on a worker thread and
// reports back to the object's thread: stages as the work goes, then
// finished(). Cancel asks the work to stop at its next check.

#include "office/export.h"

#include <QObject>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

namespace office {

class BackgroundTask : public QObject
{
    Q_OBJECT

public:
    using Work = std::function<storage::Status(const Progress &progress)>;
    explicit BackgroundTask(Work work, QObject *parent = nullptr);
    ~BackgroundTask() override; // cancels and waits

    void start();
    void cancel() { m_cancel.store(true); }
    bool isRunning() const { return m_thread && m_thread->isRunning(); }

signals:
    void stage(const QString &text);
    void finished(bool ok, const QString &error, bool cancelled);

private:
    Work m_work;
    std::atomic<bool> m_cancel{false};
    std::unique_ptr<QThread> m_thread;
};

} // namespace office
