#include "link/replyassembler.h"

#include "link/commands.h"
#include "link/frames.h"

#include <QVector>
#include <algorithm>

#include <QtGlobal>

namespace rtu {

static bool crcAt(const QByteArray &buffer, int at, int length)
{
    return length >= 4 && at + length <= buffer.size() &&
           crcMatches(QByteArray::fromRawData(buffer.constData() + at, length));
}

// What the bytes from `at` on are: a whole frame, the start of one, a frame
// whose CRC fails, or nothing that could start a reply of ours.
ReplyAssembler::Probe ReplyAssembler::probe(int at) const
{
    Probe p;
    const int avail = m_buffer.size() - at;
    if (avail <= 0) {
        p.look = Look::Partial;
        return p;
    }
    if (quint8(m_buffer[at]) != m_expect.address)
        return p;
    if (avail < 2) {
        p.look = Look::Partial;
        return p;
    }
    const quint8 function = quint8(m_buffer[at + 1]);
    auto whole = [&p](ReplyFrame::Kind kind, int length) {
        p.look = Look::Whole;
        p.kind = kind;
        p.length = length;
        return p;
    };
    auto sized = [&](ReplyFrame::Kind kind, int length) {
        p.length = length;
        if (avail < length)
            p.look = Look::Partial;
        else if (crcAt(m_buffer, at, length))
            return whole(kind, length);
        else
            p.look = Look::BadCrc;
        return p;
    };
    if (function & 0x80)
        return sized(ReplyFrame::Exception, 5);
    if (!m_expect.reading)
        return probeWrite(at, avail);
    const bool echo = function == 0x06;
    if (!isReadingFunction(function))
        return echo ? sized(ReplyFrame::Echo, 8) : p;
    if (avail < 3) {
        p.look = Look::Partial;
        return p;
    }
    // A 64-channel reading carries 256 bytes, which its count shows as 0;
    // a collector with no channel enabled answers with no value at all.
    const int count = quint8(m_buffer[at + 2]);
    if (count == 0 && m_expect.values != 64 && avail >= 5 && crcAt(m_buffer, at, 5))
        return whole(ReplyFrame::Reading, 5);
    const int length = 5 + (count == 0 ? 256 : count);
    if (avail >= length && crcAt(m_buffer, at, length))
        return whole(ReplyFrame::Reading, length);
    if (echo && avail >= 8 && crcAt(m_buffer, at, 8)) {
        // A whole echo that could also be the start of a reading: wait only
        // when the count is the one a reading of this run carries.
        const bool expected = m_expect.values < 0 || ((m_expect.values * 4) & 0xff) == count;
        if (avail < length && expected) {
            p.look = Look::Partial;
            p.length = length;
            return p;
        }
        return whole(ReplyFrame::Echo, 8);
    }
    p.length = length;
    p.look = avail < length ? Look::Partial : Look::BadCrc;
    return p;
}

// The reply to a write: a frame of the length the request's reply has; when
// no length is given, the first whole one of the usual lengths.
ReplyAssembler::Probe ReplyAssembler::probeWrite(int at, int avail) const
{
    Probe p;
    const quint8 function = quint8(m_buffer[at + 1]);
    if (function != m_expect.function)
        return p;
    QVector<int> lengths;
    if (m_expect.length > 0) {
        lengths << m_expect.length;
    } else {
        if (avail < 3) {
            p.look = Look::Partial;
            return p;
        }
        lengths << 5 + quint8(m_buffer[at + 2]) << 8;
        if (m_expect.requestLength > 0)
            lengths << m_expect.requestLength;
        std::sort(lengths.begin(), lengths.end());
    }
    bool pending = false;
    for (int length : lengths) {
        if (avail < length) {
            pending = true;
            continue;
        }
        if (crcAt(m_buffer, at, length)) {
            p.look = Look::Whole;
            p.kind = ReplyFrame::Echo;
            p.length = length;
            return p;
        }
    }
    p.length = lengths.last();
    p.look = pending ? Look::Partial : Look::BadCrc;
    return p;
}

bool ReplyAssembler::couldStart(int at) const
{
    if (at >= m_buffer.size() || quint8(m_buffer[at]) != m_expect.address)
        return false;
    if (at + 1 >= m_buffer.size())
        return true;
    const quint8 f = quint8(m_buffer[at + 1]);
    return (f & 0x80) || f == 0x06 || f == m_expect.function || isReadingFunction(f);
}

int ReplyAssembler::nextWhole(int from) const
{
    for (int k = from; k < m_buffer.size(); ++k)
        if (quint8(m_buffer[k]) == m_expect.address && probe(k).look == Look::Whole)
            return k;
    return -1;
}

int ReplyAssembler::nextStart(int from) const
{
    for (int k = from; k < m_buffer.size(); ++k)
        if (couldStart(k))
            return k;
    return m_buffer.size();
}

ReplyFrame ReplyAssembler::cut(ReplyFrame::Kind kind, int length, Fault fault)
{
    ReplyFrame f;
    f.kind = kind;
    f.bytes = m_buffer.left(length);
    f.fault = fault;
    m_buffer.remove(0, length);
    return f;
}

QList<ReplyFrame> ReplyAssembler::take()
{
    QList<ReplyFrame> out;
    while (!m_buffer.isEmpty()) {
        const Probe p = probe(0);
        if (p.look == Look::Whole) {
            ReplyFrame f = cut(p.kind, p.length);
            if (f.kind == ReplyFrame::Exception) {
                f.code = quint8(f.bytes[2]);
                f.fault = Fault::Exception;
            }
            out << f;
            continue;
        }
        const int whole = nextWhole(1);
        switch (p.look) {
        case Look::Partial:
            if (whole < 0)
                return out; // wait for more bytes
            out << cut(ReplyFrame::Stray, whole, Fault::Incomplete);
            break;
        case Look::BadCrc:
            // Only up to the next byte that could start a reply: the bytes
            // counted as this frame may hold the start of the real one.
            out << cut(ReplyFrame::Rejected, qMin(p.length, nextStart(1)), Fault::Crc);
            break;
        case Look::NotAFrame:
        case Look::Whole: {
            const int end = nextStart(1);
            if (quint8(m_buffer[0]) != m_expect.address)
                out << cut(ReplyFrame::Stray, end);
            else
                out << cut(ReplyFrame::Rejected, end, Fault::Function);
            break;
        }
        }
    }
    return out;
}

Expect Expect::of(const QByteArray &request, int values)
{
    Expect e;
    if (request.size() < 4)
        return e;
    e.address = quint8(request[0]);
    e.function = quint8(request[1]);
    const quint16 address = quint16((quint8(request[2]) << 8) | quint8(request[3]));
    // The M702 answers its measure request (a write of 0x101A) with readings.
    e.reading = e.function == 0x03 || (e.function == 0x06 && address == 0x101A);
    e.values = values;
    if (!e.reading) {
        e.length = writeReplyLength(request);
        e.requestLength = request.size();
    }
    return e;
}

ReplyFrame ReplyAssembler::dropPartial()
{
    if (m_buffer.size() >= 8 && quint8(m_buffer[0]) == m_expect.address && quint8(m_buffer[1]) == m_expect.function &&
        crcAt(m_buffer, 0, 8)) {
        ReplyFrame echo = cut(ReplyFrame::Echo, 8);
        m_buffer.clear();
        return echo;
    }
    return cut(ReplyFrame::Rejected, m_buffer.size(), Fault::Incomplete);
}

} // namespace rtu
