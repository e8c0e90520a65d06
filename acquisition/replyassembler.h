#pragma once

// Cuts a collector's byte stream into frames. A frame is taken when its
// length (from its function and byte count) and its CRC say it is whole;
// bytes after it stay for the next frame. The slave address and function are
// checked against the request; exception replies (function | 0x80) are
// recognised with their code; the sampling-speed write echoes are taken out.

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
        Stray,     // bytes before anything that could start a reply (line noise)
    };
    Kind kind = Rejected;
    QByteArray bytes;
    int code = 0;
    QString reason;
};

class ReplyAssembler
{
public:
    explicit ReplyAssembler(quint8 address = 0x01, quint8 function = 0x03)
        : m_address(address), m_function(function)
    {
    }
    void append(const QByteArray &bytes) { m_buffer.append(bytes); }
    // Every frame that is whole now, in order; a partial frame stays.
    QList<Frame> take();
    bool hasPartial() const { return !m_buffer.isEmpty(); }
    // The partial frame as a rejected frame (it never completed), and empty.
    Frame dropPartial();
    void clear() { m_buffer.clear(); }

private:
    quint8 m_address, m_function;
    QByteArray m_buffer;
};

// True when the last two bytes are the CRC of the others, in either byte
// order (the collector families order it differently).
bool crcMatches(const QByteArray &frame);

} // namespace acquisition
