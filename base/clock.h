#pragma once

// Time as an input. Engines read the time and start their timers through a
// Clock; the program uses the system's (SystemClock), tests a ManualClock
// that they advance by hand, so a run of a thousand ticks takes
// milliseconds and every tick is exactly where it should be.

#include <QDateTime>
#include <QObject>
#include <functional>
#include <memory>

namespace base {

// A single-shot or repeating timer made by a clock.
class Timer : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    virtual void start(int ms) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    // Milliseconds until it fires; -1 when it is not active.
    virtual qint64 remaining() const = 0;
    void setSingleShot(bool single) { m_single = single; }
    bool isSingleShot() const { return m_single; }

signals:
    void timeout();

protected:
    bool m_single = false;
};

class Clock
{
public:
    virtual ~Clock() = default;
    // Milliseconds since the epoch.
    virtual qint64 now() const = 0;
    QDateTime dateTime() const { return QDateTime::fromMSecsSinceEpoch(now()); }
    // A new timer owned by `parent`.
    virtual Timer *makeTimer(QObject *parent) = 0;
};

// The system's clock and Qt's precise timers.
class SystemClock : public Clock
{
public:
    qint64 now() const override;
    Timer *makeTimer(QObject *parent) override;
    static SystemClock *instance();
};

// A clock that stands still until advanced; advancing fires the timers due
// on the way, in time order, each at its own moment.
class ManualClock : public Clock
{
public:
    explicit ManualClock(qint64 start = 1714557600000); // 2024-05-01 10:00:00 UTC
    ~ManualClock() override;
    qint64 now() const override { return m_now; }
    Timer *makeTimer(QObject *parent) override;
    // Moves the time on by `ms`, firing every timer due meanwhile. `between`,
    // when given, runs after each firing (tests let the event loop deliver
    // what the firing sent).
    void advance(qint64 ms, const std::function<void()> &between = {});

private:
    friend class ManualTimer;
    qint64 m_now;
    QList<class ManualTimer *> m_timers;
};

} // namespace base
