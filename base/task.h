#pragma once

// One long piece of work (loading a calibration, writing a document) on a
// worker thread. It reports back to the task's thread: progress texts and
// counts while it goes, then finished(). cancel() asks the work to stop at
// its next look at the flag; the destructor cancels and waits.

#include "base/result.h"

#include <QObject>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

namespace base {

// What the work sees of its task: the cancel flag and how to report.
struct Progress
{
    const std::atomic<bool> *cancel = nullptr;
    std::function<void(const QString &stage)> stage;
    std::function<void(qint64 done, qint64 total)> count;
    bool cancelled() const { return cancel && cancel->load(std::memory_order_relaxed); }
};

class Task : public QObject
{
    Q_OBJECT

public:
    using Work = std::function<Status(const Progress &progress)>;
    explicit Task(Work work, QObject *parent = nullptr);
    ~Task() override;

    void start();
    void cancel() { m_cancel.store(true); }
    bool isRunning() const { return m_thread && m_thread->isRunning(); }
    const std::atomic<bool> *cancelFlag() const { return &m_cancel; }

signals:
    void stage(const QString &text);
    void counted(qint64 done, qint64 total);
    void finished(bool ok, const QString &error, bool cancelled);

private:
    Work m_work;
    std::atomic<bool> m_cancel{false};
    std::unique_ptr<QThread> m_thread;
};

} // namespace base
