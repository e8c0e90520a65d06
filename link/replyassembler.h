#pragma once

// Cuts a collector's byte stream into frames. A frame is taken when its
// length (from its function and byte count) and its CRC say it is whole;
// bytes after it stay for the next frame. The slave address and function are
// checked against the request; exception replies (function | 0x80) are
// recognised with their code.
//
// What is expected depends on the request:
// - a reading (function 03, or the M702's measure request, function 06):
//   "slave, function, byte count B, B bytes, CRC" with function 03 or the
//   request's own. A function-06 frame may also be the 8-byte echo of a
//   single-register write: when both fit, the reading is preferred when its
//   CRC holds, the echo otherwise; the expected number of values decides
//   whether to wait for a longer reading.
// - the reply to a write (function 06 or 0x10): judged by the one length the
//   command table gives for that request (rtu::writeReplyLength), with the
//   request's slave and function and a valid CRC, whatever the bytes in
//   between: collectors answer a correction write with the request echoed
//   whole or with a byte count, both 17 bytes. A write whose reply the table
//   does not judge takes the first whole frame of the usual lengths (the
//   8-byte reply, a counted frame, the request echoed).
//
// Line noise never swallows a reply: before waiting for more bytes the
// assembler looks for a whole valid frame at any later offset, and the bytes
// before such a frame are given up alone.

#include <QByteArray>
#include <QList>
#include <QString>

namespace rtu {

// Why a frame is not a reply.
enum class Fault {
    None,
    Crc,        // its CRC does not hold
    Function,   // a function code nobody asked for
    Incomplete, // it stopped before its end
    Exception,  // the collector answered with an exception code
};

struct ReplyFrame
{
    enum Kind {
        Reading,   // a read reply with a good CRC
        Echo,      // the reply to a write (or a write's echo met while reading)
        Exception, // an exception reply; `code` holds its exception code
        Rejected,  // a reply that is not good; `reason` says why
        Stray,     // bytes that are no reply at all (line noise, a fragment)
    };
    Kind kind = Rejected;
    QByteArray bytes;
    int code = 0; // exception code
    Fault fault = Fault::None;
};

// What a request waits for.
struct Expect
{
    quint8 address = 0x01;
    quint8 function = 0x03; // the request's function code
    bool reading = true;    // a reading; false: the reply to a write
    int values = -1;        // values a reading carries, -1 when not known
    int length = 0;         // a write's reply length; 0: not given
    int requestLength = 0;  // the request's own length (an echo of it)

    // The expectation that goes with a request frame.
    static Expect of(const QByteArray &request, int values = -1);
};

class ReplyAssembler
{
public:
    explicit ReplyAssembler(const Expect &expect = Expect()) : m_expect(expect) {}
    // A new request: what comes now is judged against it; bytes that wait
    // stay (a late reply may complete them).
    void expect(const Expect &expect) { m_expect = expect; }
    void append(const QByteArray &bytes) { m_buffer.append(bytes); }
    // Every frame that is whole now, in order; a partial frame stays.
    QList<ReplyFrame> take();
    bool hasPartial() const { return !m_buffer.isEmpty(); }
    // Gives up what is left (a reply that never completed): an echo when it
    // starts with a whole echo, otherwise a rejected frame; then empty.
    ReplyFrame dropPartial();
    void clear() { m_buffer.clear(); }

private:
    enum class Look { Whole, Partial, BadCrc, NotAFrame };
    struct Probe
    {
        Look look = Look::NotAFrame;
        ReplyFrame::Kind kind = ReplyFrame::Rejected;
        int length = 0;
    };
    Probe probe(int at) const;
    Probe probeWrite(int at, int avail) const;
    bool isReadingFunction(quint8 function) const
    {
        return function == 0x03 || function == m_expect.function;
    }
    bool couldStart(int at) const;
    int nextWhole(int from) const;
    int nextStart(int from) const;
    ReplyFrame cut(ReplyFrame::Kind kind, int length, Fault fault = Fault::None);

    Expect m_expect;
    QByteArray m_buffer;
};

} // namespace rtu
