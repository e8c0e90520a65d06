#include "acquisition/replyassembler.h"

#include "link/frames.h"

namespace acquisition {

static bool crcAt(const QByteArray &buffer, int at, int length)
{
    if (length < 4 || at + length > buffer.size())
        return false;
    const char *p = buffer.constData() + at;
    const quint16 crc = rtu::modbusCrc16(QByteArray::fromRawData(p, length - 2));
    const quint8 a = quint8(p[length - 2]);
    const quint8 b = quint8(p[length - 1]);
    const quint8 low = crc & 0xff, high = crc >> 8;
    return (a == low && b == high) || (a == high && b == low);
}

bool crcMatches(const QByteArray &frame)
{
    return crcAt(frame, 0, frame.size());
}

static QString hexByte(quint8 b)
{
    return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0'));
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
    if (quint8(m_buffer[at]) != m_address)
        return p;
    if (avail < 2) {
        p.look = Look::Partial;
        return p;
    }
    const quint8 function = quint8(m_buffer[at + 1]);
    auto whole = [&p](Frame::Kind kind, int length) {
        p.look = Look::Whole;
        p.kind = kind;
        p.length = length;
        return p;
    };
    auto sized = [&](Frame::Kind kind, int length) {
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
        return sized(Frame::Exception, 5);
    const bool echo = function == 0x06;
    if (!isReadingFunction(function))
        return echo ? sized(Frame::Echo, 8) : p;
    if (avail < 3) {
        p.look = Look::Partial;
        return p;
    }
    // A 64-channel reading carries 256 bytes, which its count shows as 0;
    // a collector with no channel enabled answers with no value at all.
    const int count = quint8(m_buffer[at + 2]);
    if (count == 0 && m_values != 64 && avail >= 5 && crcAt(m_buffer, at, 5))
        return whole(Frame::Reading, 5);
    const int length = 5 + (count == 0 ? 256 : count);
    if (avail >= length && crcAt(m_buffer, at, length))
        return whole(Frame::Reading, length);
    if (echo && avail >= 8 && crcAt(m_buffer, at, 8)) {
        // A whole echo that could also be the start of a reading: wait only
        // when the count is the one a reading of this run carries.
        const bool expected = m_values < 0 || ((m_values * 4) & 0xff) == count;
        if (avail < length && expected) {
            p.look = Look::Partial;
            p.length = length;
            return p;
        }
        return whole(Frame::Echo, 8);
    }
    p.length = length;
    p.look = avail < length ? Look::Partial : Look::BadCrc;
    return p;
}

bool ReplyAssembler::couldStart(int at) const
{
    if (at >= m_buffer.size() || quint8(m_buffer[at]) != m_address)
        return false;
    if (at + 1 >= m_buffer.size())
        return true;
    const quint8 f = quint8(m_buffer[at + 1]);
    return (f & 0x80) || f == 0x06 || isReadingFunction(f);
}

int ReplyAssembler::nextWhole(int from) const
{
    for (int k = from; k < m_buffer.size(); ++k)
        if (quint8(m_buffer[k]) == m_address && probe(k).look == Look::Whole)
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

Frame ReplyAssembler::cut(Frame::Kind kind, int length, const QString &reason)
{
    Frame f;
    f.kind = kind;
    f.bytes = m_buffer.left(length);
    f.reason = reason;
    m_buffer.remove(0, length);
    return f;
}

QList<Frame> ReplyAssembler::take()
{
    QList<Frame> out;
    while (!m_buffer.isEmpty()) {
        const Probe p = probe(0);
        if (p.look == Look::Whole) {
            Frame f = cut(p.kind, p.length);
            if (f.kind == Frame::Exception) {
                f.code = quint8(f.bytes[2]);
                f.reason = QStringLiteral("异常应答，异常码 %1").arg(hexByte(quint8(f.code)));
            }
            out << f;
            continue;
        }
        const int whole = nextWhole(1);
        switch (p.look) {
        case Look::Partial:
            if (whole < 0)
                return out; // wait for more bytes
            out << cut(Frame::Stray, whole, QStringLiteral("不完整的应答片段"));
            break;
        case Look::BadCrc:
            // Only up to the next byte that could start a reply: the bytes
            // counted as this frame may hold the start of the real one.
            out << cut(Frame::Rejected, qMin(p.length, nextStart(1)),
                       QStringLiteral("应答校验错误"));
            break;
        case Look::NotAFrame:
        case Look::Whole: {
            const int end = nextStart(1);
            if (quint8(m_buffer[0]) != m_address)
                out << cut(Frame::Stray, end, QStringLiteral("多余字节"));
            else
                out << cut(Frame::Rejected, end,
                           QStringLiteral("应答功能码错误（%1）").arg(hexByte(quint8(m_buffer[1]))));
            break;
        }
        }
    }
    return out;
}

Frame ReplyAssembler::dropPartial()
{
    if (m_buffer.size() >= 8 && quint8(m_buffer[0]) == m_address && quint8(m_buffer[1]) == 0x06 &&
        crcAt(m_buffer, 0, 8)) {
        Frame echo = cut(Frame::Echo, 8);
        m_buffer.clear();
        return echo;
    }
    Frame f = cut(Frame::Rejected, m_buffer.size(), QStringLiteral("应答不完整"));
    return f;
}

} // namespace acquisition
