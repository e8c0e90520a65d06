#include "base/task.h"

namespace base {

Task::Task(Work work, QObject *parent) : QObject(parent), m_work(std::move(work)) {}

Task::~Task()
{
    cancel();
    if (m_thread) {
        m_thread->wait();
        m_thread.reset();
    }
}

void Task::start()
{
    if (m_thread)
        return;
    m_thread.reset(QThread::create([this] {
        Progress p;
        p.cancel = &m_cancel;
        p.stage = [this](const QString &s) { emit stage(s); };
        p.count = [this](qint64 done, qint64 total) { emit counted(done, total); };
        const Status st = m_work(p);
        const bool cancelled = m_cancel.load();
        emit finished(st.ok || cancelled, cancelled ? QString() : st.error, cancelled);
    }));
    m_thread->start();
}

} // namespace base
