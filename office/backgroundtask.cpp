#include "office/backgroundtask.h"

namespace office {

BackgroundTask::BackgroundTask(Work work, QObject *parent)
    : QObject(parent), m_work(std::move(work))
{
}

BackgroundTask::~BackgroundTask()
{
    cancel();
    if (m_thread)
        m_thread->wait();
}

void BackgroundTask::start()
{
    if (m_thread)
        return;
    m_thread.reset(QThread::create([this] {
        Progress progress;
        progress.cancel = &m_cancel;
        progress.stage = [this](const QString &text) { emit stage(text); };
        const storage::Status st = m_work(progress);
        const bool cancelled = m_cancel.load();
        emit finished(st.ok, st.error, cancelled);
    }));
    m_thread->start();
}

} // namespace office
