#pragma once

// Loads a calibration's samples and computes its results on a worker task
// with a connection of its own. Batches of samples, progress and the results
// come back to the object's thread as signals, so the window keeps
// repainting and a run keeps polling while a large calibration loads.

#include "base/task.h"
#include "results/calibration.h"

#include <QObject>
#include <mutex>

namespace results {

class LoadJob : public QObject
{
    Q_OBJECT

public:
    LoadJob(const QString &databasePath, const storage::RunHeader &header,
            QObject *parent = nullptr);

    ~LoadJob() override;

    void start() { m_task->start(); }
    // Stops the load; a read that waits on a server that does not answer is
    // cut off, so cancelling never waits on the network.
    void cancel();
    bool isRunning() const { return m_task->isRunning(); }
    // Everything loaded, valid after finished() with ok.
    const Calibration &calibration() const { return m_calibration; }

signals:
    void batchLoaded(const QVector<results::StoredSample> &batch);
    void progress(qint64 done, qint64 total);
    void resultsReady(const QVector<results::PointResult> &results);
    void finished(bool ok, const QString &error, bool cancelled);

private:
    base::Status work(const base::Progress &progress);

    QString m_path;
    Calibration m_calibration;
    std::mutex m_socketMutex;
    int m_socket = -1; // the worker's server session while it reads
    base::Task *m_task; // a child: deleted, cancelled and waited for first
};

} // namespace results

Q_DECLARE_METATYPE(QVector<results::StoredSample>)
Q_DECLARE_METATYPE(QVector<results::PointResult>)
