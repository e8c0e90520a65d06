#pragma once

// The run's exchanges with its collectors: opening the lines, the sampling
// speed echo at the start, one request per collector at every tick (the
// second collector 500 ms after the first), the counters of each, and the
// values of a tick once every collector of the run has answered it. Time
// comes from a clock, the lines from a port factory, so tests drive both.

#include "acquisition/runlayout.h"
#include "acquisition/runtypes.h"
#include "base/clock.h"
#include "link/exchange.h"

#include <QElapsedTimer>
#include <QObject>
#include <memory>

namespace acquisition {

// Why a start failed.
struct StartFailure
{
    enum Kind {
        CannotOpen, // the port did not open; `detail` says why
        NoEcho,     // an M702 did not echo the sampling-speed write in time
        BadEcho,    // it answered with something else
    } kind = CannotOpen;
    int collector = 1;
    QString port;
    QString detail;
    int echoWaitMs = 0;
};

class Poller : public QObject
{
    Q_OBJECT

public:
    Poller(base::Clock *clock, rtu::PortFactory ports, QObject *parent = nullptr);
    ~Poller() override;

    // Opens the lines and, for an M702, checks the speed echo of each:
    // started() or startFailed() follows. Counters start from zero.
    void start(const StartRequest &request, const RunLayout &layout);
    // The ticks stop at once; late replies are ignored; the lines close
    // 200 ms later, then stopped().
    void stop();
    // Closes everything now (the program ends).
    void abort();

    bool isActive() const { return m_phase != Phase::Idle; }
    bool two() const { return m_two; }
    const CollectorCounters &counters(int collector) const { return m_c[collector - 1].counters; }
    // When the next request goes out; 0 when none is due.
    qint64 nextTick() const;
    qint64 lastLatencyNs() const { return m_latencyNs; }

signals:
    void started();
    void startFailed(const acquisition::StartFailure &failure);
    void stopped();
    // Every collector of the tick answered: the values in the run's channel
    // order, and when the tick completed.
    void reading(const QVector<float> &values, qint64 at);
    void countersChanged();
    void lineFailed(int collector, const QString &reason);

private:
    enum class Phase { Idle, Starting, Running, Stopping };
    struct Collector
    {
        rtu::Exchange *exchange = nullptr;
        CollectorCounters counters;
        bool waiting = false; // no reading yet for the current tick
        bool heard = false;   // a reply (even a refused one) came for this tick
        bool have = false;
        QVector<float> values;
        qint64 completedNs = 0;
    };

    bool open(int index, const QString &port);
    void closeLines();
    void fail(StartFailure failure);
    void checkEcho(int index);
    void beginRunning();
    void tick();
    void send(int index);
    void onReplied(int index, const rtu::Reply &reply);
    void onRefused(int index, const rtu::Reply &reply);
    void refuse(int index, Refusal refusal, int exception = -1);
    void dispatch();

    base::Clock *m_clock;
    rtu::PortFactory m_ports;
    Phase m_phase = Phase::Idle;
    StartRequest m_request;
    RunLayout m_layout;
    bool m_two = false;
    Collector m_c[2];
    base::Timer *m_poll;
    base::Timer *m_second;
    base::Timer *m_closing;
    QElapsedTimer m_sinceStart;
    qint64 m_latencyNs = 0;
};

} // namespace acquisition

Q_DECLARE_METATYPE(acquisition::StartFailure)
