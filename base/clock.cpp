#include "base/clock.h"

#include <QTimer>
#include <limits>

namespace base {

namespace {

class SystemTimer : public Timer
{
public:
    explicit SystemTimer(QObject *parent) : Timer(parent), m_timer(new QTimer(this))
    {
        m_timer->setTimerType(Qt::PreciseTimer);
        connect(m_timer, &QTimer::timeout, this, [this] { emit timeout(); });
    }
    void start(int ms) override
    {
        m_timer->setSingleShot(m_single);
        m_timer->start(ms);
    }
    void stop() override { m_timer->stop(); }
    bool isActive() const override { return m_timer->isActive(); }
    qint64 remaining() const override { return m_timer->remainingTime(); }

private:
    QTimer *m_timer;
};

} // namespace

qint64 SystemClock::now() const
{
    return QDateTime::currentMSecsSinceEpoch();
}

Timer *SystemClock::makeTimer(QObject *parent)
{
    return new SystemTimer(parent);
}

SystemClock *SystemClock::instance()
{
    static SystemClock clock;
    return &clock;
}

class ManualTimer : public Timer
{
public:
    ManualTimer(ManualClock *clock, QObject *parent) : Timer(parent), m_clock(clock)
    {
        m_clock->m_timers << this;
    }
    ~ManualTimer() override
    {
        if (m_clock)
            m_clock->m_timers.removeAll(this);
    }
    void start(int ms) override
    {
        m_interval = qMax(0, ms);
        m_due = m_clock->m_now + m_interval;
        m_active = true;
    }
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }
    qint64 remaining() const override
    {
        return m_active ? qMax<qint64>(0, m_due - m_clock->m_now) : -1;
    }

    ManualClock *m_clock;
    qint64 m_due = 0;
    int m_interval = 0;
    bool m_active = false;
};

ManualClock::ManualClock(qint64 start) : m_now(start) {}

ManualClock::~ManualClock()
{
    for (ManualTimer *t : std::as_const(m_timers))
        t->m_clock = nullptr;
}

Timer *ManualClock::makeTimer(QObject *parent)
{
    return new ManualTimer(this, parent);
}

void ManualClock::advance(qint64 ms, const std::function<void()> &between)
{
    const qint64 end = m_now + qMax<qint64>(0, ms);
    for (;;) {
        ManualTimer *next = nullptr;
        for (ManualTimer *t : std::as_const(m_timers))
            if (t->m_active && t->m_due <= end && (!next || t->m_due < next->m_due))
                next = t;
        if (!next)
            break;
        m_now = qMax(m_now, next->m_due);
        if (next->isSingleShot())
            next->m_active = false;
        else
            next->m_due += qMax(1, next->m_interval);
        emit next->timeout();
        if (between)
            between();
    }
    m_now = end;
}

} // namespace base
