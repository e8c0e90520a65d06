#include "acquisition/replyassembler.h"

#include "link/frames.h"

namespace acquisition {

bool crcMatches(const QByteArray &frame)
{
    if (frame.size() < 4)
        return false;
    const quint16 crc = rtu::modbusCrc16(frame.left(frame.size() - 2));
    const quint8 a = quint8(frame[frame.size() - 2]);
    const quint8 b = quint8(frame[frame.size() - 1]);
    const quint8 low = crc & 0xff, high = crc >> 8;
    return (a == low && b == high) || (a == high && b == low);
}

static Frame make(Frame::Kind kind, const QByteArray &bytes, const QString &reason = QString())
{
    Frame f;
    f.kind = kind;
    f.bytes = bytes;
    f.reason = reason;
    return f;
}

QList<Frame> ReplyAssembler::take()
{
    QList<Frame> out;
    while (!m_buffer.isEmpty()) {
        if (quint8(m_buffer[0]) != m_address) {
            // Stray bytes: drop up to the next byte that could start a reply.
            int next = m_buffer.indexOf(char(m_address), 1);
            if (next < 0)
                next = m_buffer.size();
            out << make(Frame::Stray, m_buffer.left(next), QStringLiteral("多余字节"));
            m_buffer.remove(0, next);
            continue;
        }
        if (m_buffer.size() < 2)
            break;
        const quint8 function = quint8(m_buffer[1]);
        int length = 0;
        if (function == 0x06) {
            length = 8;
        } else if (function & 0x80) {
            length = 5;
        } else if (function == m_function) {
            if (m_buffer.size() < 3)
                break;
            // A 64-channel reading carries 256 bytes, which its count shows as 0.
            const int count = quint8(m_buffer[2]);
            length = 5 + (count == 0 ? 256 : count);
        } else {
            out << make(
                Frame::Rejected, m_buffer,
                QStringLiteral("应答功能码错误（%1）").arg(function, 2, 16, QLatin1Char('0')));
            m_buffer.clear();
            break;
        }
        if (m_buffer.size() < length)
            break;
        const QByteArray frame = m_buffer.left(length);
        m_buffer.remove(0, length);
        if (!crcMatches(frame)) {
            out << make(Frame::Rejected, frame, QStringLiteral("应答校验错误"));
            continue;
        }
        if (function == 0x06) {
            out << make(Frame::Echo, frame);
        } else if (function & 0x80) {
            Frame f = make(Frame::Exception, frame,
                           QStringLiteral("异常应答，异常码 %1")
                               .arg(quint8(frame[2]), 2, 16, QLatin1Char('0')));
            f.code = quint8(frame[2]);
            out << f;
        } else {
            out << make(Frame::Reading, frame);
        }
    }
    return out;
}

Frame ReplyAssembler::dropPartial()
{
    Frame f = make(Frame::Rejected, m_buffer, QStringLiteral("应答不完整"));
    m_buffer.clear();
    return f;
}

} // namespace acquisition
