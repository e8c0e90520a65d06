#include "link/exchange.h"

#include "link/frames.h"
#include "link/trace.h"

#include <QPointer>

namespace rtu {

Exchange::Exchange(std::unique_ptr<Port> port, base::Clock *clock, QObject *parent)
    : QObject(parent), m_port(std::move(port)),
      m_clock(clock ? clock : base::SystemClock::instance()),
      m_timeout(m_clock->makeTimer(this)), m_stale(m_clock->makeTimer(this))
{
    qRegisterMetaType<rtu::Reply>();
    m_timeout->setSingleShot(true);
    m_stale->setSingleShot(true);
    connect(m_timeout, &base::Timer::timeout, this, &Exchange::onTimeout);
    connect(m_stale, &base::Timer::timeout, this, &Exchange::onStale);
    if (m_port) {
        m_port->setParent(nullptr);
        connect(m_port.get(), &Port::received, this, &Exchange::onReceived);
        connect(m_port.get(), &Port::failed, this, [this](const QString &reason) {
            m_timeout->stop();
            m_stale->stop();
            m_waiting = false;
            emit lineFailed(reason);
        });
    }
}

Exchange::~Exchange()
{
    if (m_port)
        m_port->disconnect(this);
    close();
}

bool Exchange::open(const QString &name, QString *error)
{
    m_assembler.clear();
    return m_port && m_port->open(name, error);
}

void Exchange::close()
{
    cancel();
    m_assembler.clear();
    if (m_port)
        m_port->close();
}

void Exchange::request(const QByteArray &frame, int timeoutMs, int values)
{
    const Expect expect = Expect::of(frame, values);
    m_assembler.expect(expect);
    m_reading = expect.reading;
    m_waiting = true;
    m_refusals = 0;
    m_lastRefusal = Fault::None;
    m_timeout->stop();
    if (timeoutMs > 0)
        m_timeout->start(timeoutMs);
    if (m_port)
        m_port->write(frame); // a port may answer before this returns
}

void Exchange::cancel()
{
    m_waiting = false;
    m_timeout->stop();
}

void Exchange::onReceived(const QByteArray &bytes)
{
    // A listener may delete this exchange when it hears its reply.
    const QPointer<Exchange> alive(this);
    m_assembler.append(bytes);
    const QList<ReplyFrame> frames = m_assembler.take();
    for (const ReplyFrame &f : frames) {
        handle(f);
        if (!alive)
            return;
    }
    if (m_assembler.hasPartial()) {
        qCDebug(lcTrace).noquote() << "sone:" + hexText(bytes);
        // Counted from the partial's first byte: bytes that keep arriving do
        // not keep a fragment alive.
        if (!frames.isEmpty() || !m_stale->isActive())
            m_stale->start(m_staleMs);
    } else {
        m_stale->stop();
    }
}

void Exchange::onStale()
{
    if (!m_assembler.hasPartial())
        return;
    ReplyFrame dropped = m_assembler.dropPartial();
    if (!m_waiting && dropped.kind == ReplyFrame::Rejected)
        dropped.kind = ReplyFrame::Stray; // a fragment no request waits for is noise
    handle(dropped);
}

void Exchange::onTimeout()
{
    if (!m_waiting)
        return;
    // What arrived by the deadline counts, even if the event loop has not
    // delivered it yet.
    const QPointer<Exchange> alive(this);
    if (m_port)
        m_port->drain();
    if (!alive || !m_waiting)
        return;
    if (m_assembler.hasPartial()) {
        const ReplyFrame dropped = m_assembler.dropPartial();
        if (dropped.kind == ReplyFrame::Echo) {
            handle(dropped); // the answer to a write
            if (!alive)
                return;
        } else {
            ++m_refusals;
            m_lastRefusal = dropped.fault;
        }
        if (!m_waiting)
            return;
    }
    Reply r;
    r.kind = Reply::TimedOut;
    r.refusals = m_refusals;
    r.fault = m_lastRefusal;
    finish(r);
}

void Exchange::handle(const ReplyFrame &frame)
{
    Reply r;
    r.bytes = frame.bytes;
    r.at = m_clock->now();
    switch (frame.kind) {
    case ReplyFrame::Stray:
        qCDebug(lcTrace).noquote() << "stray:" + hexText(frame.bytes);
        emit noise(frame.bytes);
        return;
    case ReplyFrame::Rejected:
        qCDebug(lcTrace).noquote() << "rejected:" + hexText(frame.bytes) << int(frame.fault);
        r.kind = Reply::Refused;
        r.fault = frame.fault;
        ++m_refusals;
        m_lastRefusal = frame.fault;
        emit refused(r);
        return;
    case ReplyFrame::Exception:
        r.kind = Reply::Exception;
        r.exceptionCode = frame.code;
        r.fault = Fault::Exception;
        break;
    case ReplyFrame::Echo:
        if (m_reading) {
            // A write's echo on a line that waits for readings: not the answer.
            qCDebug(lcTrace).noquote() << "echo:" + hexText(frame.bytes);
            emit noise(frame.bytes);
            return;
        }
        r.kind = Reply::Answered;
        break;
    case ReplyFrame::Reading:
        r.kind = Reply::Answered;
        break;
    }
    if (!m_waiting) {
        // A late frame no request waits for any more.
        qCDebug(lcTrace).noquote() << "late:" + hexText(frame.bytes);
        emit noise(frame.bytes);
        return;
    }
    finish(r);
}

void Exchange::finish(Reply reply)
{
    m_waiting = false;
    m_timeout->stop();
    if (reply.at == 0)
        reply.at = m_clock->now();
    emit replied(reply);
}

} // namespace rtu
