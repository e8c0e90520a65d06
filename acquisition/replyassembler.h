#pragma once

// Cuts a collector's byte stream into frames. A frame is taken when its
// length (from its function and byte count) and its CRC say it is whole;
// bytes after it stay for the next frame. The slave address and function are
// checked against the request; exception replies (function | 0x80) are
// recognised with their code; echoes of single-register writes are told
// apart from readings.
//
// A reading is "slave, function, byte count B, B bytes, CRC" with function
// 03 or the request's own function (a collector may answer the M702 measure
// request, function 06, either way). A function-06 frame may also be the
// 8-byte echo of a single-register write: when both fit, the reading is
// preferred when its CRC holds, the echo otherwise; the expected number of
// values decides whether to wait for a longer reading.
//
// Line noise never swallows a reply: before waiting for more bytes the
// assembler looks for a whole valid frame at any later offset, and the bytes
// before such a frame are given up alone.

#include <QByteArray>
#include <QList>
#include <QString>

namespace acquisition {

struct Frame
{
    enum Kind {
        Reading,   // a read reply with a good CRC
        Echo,      // an echo of a single-register write
        Exception, // an exception reply; `code` holds its exception code
        Rejected,  // a reply that is not good; `reason` says why
        Stray,     // bytes that are no reply at all (line noise, a fragment)
    };
    Kind kind = Rejected;
    QByteArray bytes;
    int code = 0;
    QString reason;
};

class ReplyAssembler
{
public:
    // `function`: the request's function code; `values`: the number of
    // 4-byte values a reading is expected to carry (-1: not known).
    explicit ReplyAssembler(quint8 address = 0x01, quint8 function = 0x03, int values = -1)
        : m_address(address), m_function(function), m_values(values)
    {
    }
    void append(const QByteArray &bytes) { m_buffer.append(bytes); }
    // Every frame that is whole now, in order; a partial frame stays.
    QList<Frame> take();
    bool hasPartial() const { return !m_buffer.isEmpty(); }
    // Gives up what is left (a reply that never completed): an echo when it
    // starts with a whole echo, otherwise a rejected frame; then empty.
    Frame dropPartial();
    void clear() { m_buffer.clear(); }

private:
    enum class Look { Whole, Partial, BadCrc, NotAFrame };
    struct Probe
    {
        Look look = Look::NotAFrame;
        Frame::Kind kind = Frame::Rejected;
        int length = 0;
    };
    Probe probe(int at) const;
    bool isReadingFunction(quint8 function) const
    {
        return function == 0x03 || function == m_function;
    }
    bool couldStart(int at) const;
    int nextWhole(int from) const;
    int nextStart(int from) const;
    Frame cut(Frame::Kind kind, int length, const QString &reason = QString());

    quint8 m_address, m_function;
    int m_values;
    QByteArray m_buffer;
};

// True when the last two bytes are the CRC of the others, in either byte
// order (the collector families order it differently).
bool crcMatches(const QByteArray &frame);

} // namespace acquisition
