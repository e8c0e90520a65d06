#pragma once

// Loads a calibration's samples and computes its results on a worker thread
// of its own connection. Batches of samples, progress and the results come
// back to the object's thread as signals, so the window keeps repainting and
// a run keeps polling while a large calibration loads.

#include "results/calibration.h"

#include <QObject>
#include <QThread>
#include <atomic>
#include <memory>

namespace results {

class LoadJob : public QObject
{
    Q_OBJECT

public:
    LoadJob(const QString &databasePath, const storage::RunHeader &header,
            QObject *parent = nullptr);
    ~LoadJob() override; // cancels and waits for the worker

    void start();
    void cancel();
    bool isRunning() const;
    // Everything loaded, valid after finished() with ok.
    const Calibration &calibration() const { return m_calibration; }

signals:
    void batchLoaded(const QVector<results::StoredSample> &batch);
    void progress(qint64 done, qint64 total);
    void resultsReady(const QVector<results::PointResult> &results);
    void finished(bool ok, const QString &error, bool cancelled);

private:
    QString m_path;
    Calibration m_calibration;
    std::atomic<bool> m_cancel{false};
    std::unique_ptr<QThread> m_thread;
};

} // namespace results

Q_DECLARE_METATYPE(QVector<results::StoredSample>)
Q_DECLARE_METATYPE(QVector<results::PointResult>)
