#pragma once

// One asynchronous exchange with a collector: send a request, collect the
// reply by length and CRC, check its address and function, report an
// exception code, give up after a time. Serves the port scan, the channel
// download, the sampling-speed echo and the run's polling alike; nothing
// here waits or runs a nested event loop.
//
// replied() ends every request exactly once: with the reply, with an
// exception, or when the time is up (saying whether anything refused came
// meanwhile). A refused frame (bad CRC, wrong function) is reported at once
// by refused(), and the wait goes on: the real reply may still follow. A new
// request replaces one still waiting (no replied() for the old one); bytes
// of a late reply then answer the new one.

#include "base/clock.h"
#include "link/port.h"
#include "link/replyassembler.h"

#include <QObject>
#include <memory>

namespace rtu {

struct Reply
{
    enum Kind {
        Answered,  // the reply: a reading, an echo or an acknowledgement
        Exception, // an exception reply; `exceptionCode`
        TimedOut,  // nothing whole arrived in time; `refusals` counts what was refused
        Refused,   // a frame that is not a reply to the request; `reason`
    };
    Kind kind = TimedOut;
    QByteArray bytes;
    int exceptionCode = -1;
    Fault fault = Fault::None; // Refused: why; TimedOut: the last refusal's
    int refusals = 0;
    qint64 at = 0; // the clock's time it arrived (or the time ran out)
};

class Exchange : public QObject
{
    Q_OBJECT

public:
    explicit Exchange(std::unique_ptr<Port> port, base::Clock *clock = nullptr,
                      QObject *parent = nullptr);
    ~Exchange() override;

    bool open(const QString &name, QString *error = nullptr);
    void close();
    bool isOpen() const { return m_port && m_port->isOpen(); }
    Port *port() const { return m_port.get(); }

    // Sends `frame` and waits up to `timeoutMs` for its reply (0: until the
    // next request or cancel). `values`: a reading's expected value count.
    void request(const QByteArray &frame, int timeoutMs, int values = -1);
    // Stops waiting; no replied() follows.
    void cancel();
    bool waiting() const { return m_waiting; }
    // A partial frame that stops growing is given up after this long.
    void setStaleMs(int ms) { m_staleMs = ms; }

signals:
    void replied(const rtu::Reply &reply);
    void refused(const rtu::Reply &reply);
    // Bytes that are no reply at all (line noise), or a frame no request
    // waited for; for the trace.
    void noise(const QByteArray &bytes);
    void lineFailed(const QString &reason);

private:
    void onReceived(const QByteArray &bytes);
    void onTimeout();
    void onStale();
    void handle(const ReplyFrame &frame);
    void finish(Reply reply);

    std::unique_ptr<Port> m_port;
    base::Clock *m_clock;
    base::Timer *m_timeout;
    base::Timer *m_stale;
    ReplyAssembler m_assembler;
    bool m_waiting = false;
    int m_refusals = 0;
    Fault m_lastRefusal = Fault::None;
    bool m_reading = false; // the request waits for a reading, not an echo
    int m_staleMs = 1500;
};

} // namespace rtu

Q_DECLARE_METATYPE(rtu::Reply)
