#include "results/loadjob.h"

#include "storage/samplereader.h"

#include <QElapsedTimer>

namespace results {

LoadJob::LoadJob(const QString &databasePath, const storage::RunHeader &header, QObject *parent)
    : QObject(parent), m_path(databasePath),
      m_task(new base::Task([this](const base::Progress &p) { return work(p); }, this))
{
    qRegisterMetaType<QVector<results::StoredSample>>();
    qRegisterMetaType<QVector<results::PointResult>>();
    m_calibration.header = header;
    m_calibration.layout = ChannelLayout::fromHeader(header);
    connect(m_task, &base::Task::finished, this, &LoadJob::finished);
}

LoadJob::~LoadJob()
{
    cancel(); // the task, a child, then waits for the worker
}

void LoadJob::cancel()
{
    m_task->cancel();
    std::lock_guard<std::mutex> lock(m_socketMutex);
    storage::SampleReader::interrupt(m_socket);
}

// On the worker thread: signals emitted here are queued to the receivers,
// and the task's destructor waits for this function.
base::Status LoadJob::work(const base::Progress &progress)
{
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    LoadControl control;
    control.cancel = progress.cancel;
    control.batch = [this](const QVector<StoredSample> &batch) { emit batchLoaded(batch); };
    control.progress = [this, &sinceProgress](qint64 done, qint64 total) {
        if (done == 0 || done == total || sinceProgress.elapsed() >= 50) {
            sinceProgress.restart();
            emit this->progress(done, total);
        }
    };
    storage::SampleReader reader;
    if (const base::Status st = reader.open(m_path); !st)
        return st;
    {
        std::lock_guard<std::mutex> lock(m_socketMutex);
        m_socket = reader.serverSocket();
    }
    const LoadOutcome o = loadSamples(reader, m_calibration, control);
    {
        // Before the reader closes it: nobody cuts a socket that is no longer ours.
        std::lock_guard<std::mutex> lock(m_socketMutex);
        m_socket = -1;
    }
    // Given up: a read cut off on the way is no failure.
    if (progress.cancelled())
        return {};
    if (!o.status || o.cancelled)
        return o.status;
    const QVector<PointResult> r = computeResults(m_calibration, progress.cancel);
    if (!progress.cancelled())
        emit resultsReady(r);
    return {};
}

} // namespace results
