#include "results/loadjob.h"

#include "storage/samplereader.h"

#include <QElapsedTimer>
#include <QPointer>

namespace results {

LoadJob::LoadJob(const QString &databasePath, const storage::RunHeader &header, QObject *parent)
    : QObject(parent), m_path(databasePath)
{
    qRegisterMetaType<QVector<results::StoredSample>>();
    qRegisterMetaType<QVector<results::PointResult>>();
    m_calibration.header = header;
    m_calibration.layout = ChannelLayout::fromHeader(header);
}

LoadJob::~LoadJob()
{
    cancel();
    if (m_thread)
        m_thread->wait();
}

bool LoadJob::isRunning() const
{
    return m_thread && m_thread->isRunning();
}

void LoadJob::cancel()
{
    m_cancel.store(true);
}

void LoadJob::start()
{
    if (m_thread)
        return;
    m_thread.reset(QThread::create([this] {
        // Signals emitted here are queued to the receivers' thread; the
        // destructor waits for this function, so `this` outlives it.
        QElapsedTimer sinceProgress;
        sinceProgress.start();
        LoadControl control;
        control.cancel = &m_cancel;
        control.batch = [this](const QVector<StoredSample> &batch) { emit batchLoaded(batch); };
        control.progress = [this, &sinceProgress](qint64 done, qint64 total) {
            if (done == 0 || done == total || sinceProgress.elapsed() >= 50) {
                sinceProgress.restart();
                emit progress(done, total);
            }
        };
        storage::SampleReader reader;
        storage::Status st = reader.open(m_path);
        bool cancelled = false;
        if (st) {
            const LoadOutcome o = loadSamples(reader, m_calibration, control);
            st = o.status;
            cancelled = o.cancelled;
        }
        if (st && !cancelled) {
            const QVector<PointResult> r = computeResults(m_calibration, &m_cancel);
            cancelled = m_cancel.load();
            if (!cancelled)
                emit resultsReady(r);
        }
        emit finished(st.ok, st.error, cancelled);
    }));
    m_thread->start();
}

} // namespace results
