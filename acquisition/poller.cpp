#include "acquisition/poller.h"

#include "link/frames.h"
#include "link/trace.h"

namespace acquisition {

static constexpr int kEchoWaitMs = 200;
static constexpr int kStopWaitMs = 200;
static constexpr int kSecondSendMs = 500;

Poller::Poller(base::Clock *clock, rtu::PortFactory ports, QObject *parent)
    : QObject(parent), m_clock(clock ? clock : base::SystemClock::instance()),
      m_ports(ports ? std::move(ports) : rtu::SerialPort::factory()),
      m_poll(m_clock->makeTimer(this)), m_second(m_clock->makeTimer(this)),
      m_closing(m_clock->makeTimer(this))
{
    qRegisterMetaType<acquisition::StartFailure>();
    connect(m_poll, &base::Timer::timeout, this, &Poller::tick);
    m_second->setSingleShot(true);
    connect(m_second, &base::Timer::timeout, this, [this] { send(1); });
    m_closing->setSingleShot(true);
    connect(m_closing, &base::Timer::timeout, this, [this] {
        if (m_phase != Phase::Stopping)
            return;
        closeLines();
        m_phase = Phase::Idle;
        emit stopped();
    });
    m_sinceStart.start();
}

Poller::~Poller()
{
    closeLines();
}

qint64 Poller::nextTick() const
{
    if (m_phase != Phase::Running || !m_poll->isActive())
        return 0;
    return m_clock->now() + m_poll->remaining();
}

bool Poller::open(int index, const QString &port)
{
    Collector &c = m_c[index];
    delete c.exchange;
    c.exchange = new rtu::Exchange(m_ports(), m_clock, this);
    QString error;
    if (!c.exchange->open(port, &error)) {
        qCDebug(lcTrace).noquote() << "run: cannot open" << port << error;
        delete c.exchange;
        c.exchange = nullptr;
        fail(StartFailure{StartFailure::CannotOpen, index + 1, port, error, 0});
        return false;
    }
    connect(c.exchange, &rtu::Exchange::replied, this,
            [this, index](const rtu::Reply &r) { onReplied(index, r); });
    connect(c.exchange, &rtu::Exchange::refused, this,
            [this, index](const rtu::Reply &r) { onRefused(index, r); });
    connect(c.exchange, &rtu::Exchange::lineFailed, this, [this, index](const QString &reason) {
        if (m_c[index].exchange)
            m_c[index].exchange->deleteLater();
        m_c[index].exchange = nullptr;
        emit lineFailed(index + 1, reason);
        emit countersChanged();
    });
    return true;
}

void Poller::closeLines()
{
    m_poll->stop();
    m_second->stop();
    for (Collector &c : m_c) {
        if (c.exchange) {
            c.exchange->disconnect(this);
            c.exchange->close();
            c.exchange->deleteLater();
            c.exchange = nullptr;
        }
        c.waiting = c.heard = c.have = false;
    }
}

void Poller::fail(StartFailure failure)
{
    closeLines();
    m_phase = Phase::Idle;
    emit startFailed(failure);
}

void Poller::start(const StartRequest &request, const RunLayout &layout)
{
    if (m_phase != Phase::Idle)
        return;
    m_request = request;
    m_layout = layout;
    m_two = request.two;
    m_phase = Phase::Starting;
    qCDebug(lcTrace) << "start";
    if (!open(0, request.port1))
        return;
    if (m_layout.m702()) {
        checkEcho(0);
        return;
    }
    if (m_two && !open(1, request.port2))
        return;
    beginRunning();
}

// The sampling-speed write must come back as its echo before the run starts.
void Poller::checkEcho(int index)
{
    rtu::Exchange *x = m_c[index].exchange;
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(x, &rtu::Exchange::replied, this, [this, index, connection](
                                                                const rtu::Reply &r) {
        disconnect(*connection);
        if (m_phase != Phase::Starting)
            return;
        const QString port = index == 0 ? m_request.port1 : m_request.port2;
        if (r.kind != rtu::Reply::Answered || r.bytes.size() != rtu::reply::echo) {
            const bool nothing = r.kind == rtu::Reply::TimedOut && r.refusals == 0;
            StartFailure f{nothing ? StartFailure::NoEcho : StartFailure::BadEcho, index + 1, port,
                           QString(), kEchoWaitMs};
            f.detail = QString::number(r.bytes.size());
            fail(f);
            return;
        }
        qCDebug(lcTrace) << "sudu ok";
        if (index == 0 && m_two) {
            if (open(1, m_request.port2))
                checkEcho(1);
            return;
        }
        beginRunning();
    });
    x->request(rtu::frame::speedM702(), kEchoWaitMs);
}

void Poller::beginRunning()
{
    for (Collector &c : m_c) {
        c.counters = CollectorCounters();
        c.waiting = c.heard = c.have = false;
        if (c.exchange)
            c.exchange->cancel();
    }
    m_phase = Phase::Running;
    m_poll->start(qMax(1, m_request.intervalSeconds) * 1000);
    qCDebug(lcTrace) << (m_two ? "kaishi2...." : "kaishi1....");
    emit countersChanged();
    emit started();
}

void Poller::stop()
{
    if (m_phase != Phase::Running)
        return;
    m_poll->stop();
    m_second->stop();
    // The tick still waiting for its reply counts as missed.
    for (int i = 0; i < (m_two ? 2 : 1); ++i) {
        Collector &c = m_c[i];
        if (c.waiting && !c.heard) {
            ++c.counters.missed;
            ++c.counters.consecutiveMissed;
        }
        c.waiting = false;
        if (c.exchange)
            c.exchange->cancel();
    }
    m_phase = Phase::Stopping; // replies from now on are ignored
    emit countersChanged();
    m_closing->start(kStopWaitMs);
}

void Poller::abort()
{
    if (m_phase == Phase::Idle)
        return;
    if (m_phase == Phase::Running)
        for (int i = 0; i < (m_two ? 2 : 1); ++i)
            if (m_c[i].waiting && !m_c[i].heard)
                ++m_c[i].counters.missed;
    m_closing->stop();
    closeLines();
    m_phase = Phase::Idle;
    emit countersChanged();
    emit stopped();
}

void Poller::tick()
{
    if (m_phase != Phase::Running)
        return;
    for (int i = 0; i < (m_two ? 2 : 1); ++i) {
        Collector &c = m_c[i];
        if (c.waiting && !c.heard) {
            ++c.counters.missed;
            ++c.counters.consecutiveMissed;
        }
        c.waiting = true;
        c.heard = false;
        c.have = false;
    }
    send(0);
    if (m_two)
        m_second->start(kSecondSendMs);
    emit countersChanged();
}

void Poller::send(int index)
{
    if (m_phase != Phase::Running || !m_c[index].exchange)
        return;
    const QByteArray frame = m_layout.m702() ? rtu::frame::measureM702() : rtu::frame::readM701();
    // No time limit: the next tick's request replaces this one, and a late
    // reply still answers.
    m_c[index].exchange->request(frame, 0, m_layout.valuesOf(index + 1));
    qCDebug(lcTrace).noquote() << "send:" + rtu::hexText(frame);
}

void Poller::onReplied(int index, const rtu::Reply &reply)
{
    if (m_phase != Phase::Running)
        return;
    Collector &c = m_c[index];
    if (reply.kind == rtu::Reply::Exception) {
        refuse(index, Refusal::Exception, reply.exceptionCode);
        return;
    }
    if (reply.kind != rtu::Reply::Answered)
        return;
    qCDebug(lcTrace).noquote() << (index == 0 ? "qs1:" : "qs2:") << rtu::hexText(reply.bytes);
    c.counters.consecutiveMissed = 0;
    c.counters.lastGood = m_clock->now();
    if (!c.waiting)
        return; // a second reading for the same tick
    c.waiting = false;
    QVector<float> values;
    if (!m_layout.decode(index + 1, m_two, reply.bytes, &values)) {
        refuse(index, Refusal::WrongCount);
        return;
    }
    c.values = values;
    c.have = true;
    c.completedNs = m_sinceStart.nsecsElapsed();
    dispatch();
}

void Poller::onRefused(int index, const rtu::Reply &reply)
{
    if (m_phase != Phase::Running)
        return;
    switch (reply.fault) {
    case rtu::Fault::Crc:
        refuse(index, Refusal::Crc);
        break;
    case rtu::Fault::Function:
        refuse(index, Refusal::Function);
        break;
    default:
        // A fragment after the tick's reading is noise, not a refused reply.
        if (m_c[index].waiting)
            refuse(index, Refusal::Incomplete);
        break;
    }
}

void Poller::refuse(int index, Refusal refusal, int exception)
{
    CollectorCounters &n = m_c[index].counters;
    ++n.rejected;
    n.consecutiveMissed = 0;
    n.lastRefusal = refusal;
    if (exception >= 0)
        n.lastException = exception;
    // The tick had an answer, a bad one: it is not missed as well. A good
    // reading may still follow for the same tick.
    m_c[index].heard = true;
    emit countersChanged();
}

void Poller::dispatch()
{
    const int n = m_two ? 2 : 1;
    for (int i = 0; i < n; ++i)
        if (!m_c[i].have)
            return;
    QVector<float> values = m_c[0].values;
    if (m_two)
        values += m_c[1].values;
    qint64 completed = m_c[0].completedNs;
    for (int i = 0; i < n; ++i) {
        m_c[i].have = false;
        completed = qMax(completed, m_c[i].completedNs);
    }
    // No reading is ever stored as 0 for want of data.
    if (values.size() != m_layout.channels(m_two).size()) {
        refuse(m_c[0].values.size() != m_layout.channelsA.size() || !m_two ? 0 : 1,
               Refusal::WrongCount);
        return;
    }
    for (int i = 0; i < n; ++i)
        ++m_c[i].counters.answered;
    emit countersChanged();
    emit reading(values, m_clock->now());
    m_latencyNs = m_sinceStart.nsecsElapsed() - completed;
}

} // namespace acquisition
