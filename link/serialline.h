#pragma once

// One serial line to a collector, used by every page that talks to one.
// Replies are accumulated from readyRead; nothing here blocks the GUI thread.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class QSerialPort;

namespace rtu {

// Ports the system lists, in its order, then those named in ORVEN_EXTRA_PORTS
// (paths separated by ':'), which is how simulated collectors on
// pseudo-terminals appear.
QStringList availablePortNames();

// Keeps the event loop running for `ms` milliseconds, measured on a
// monotonic clock, without spinning.
void pauseWithEvents(int ms);

class SerialLine : public QObject
{
    Q_OBJECT

public:
    explicit SerialLine(QObject *parent = nullptr);
    ~SerialLine() override;

    // 9600 8N1, no flow control. On failure `error` holds the reason and
    // nothing stays open.
    bool open(const QString &portName, QString *error = nullptr);
    bool isOpen() const;
    QString portName() const { return m_name; }

    // Empties the receive buffer, then writes the bytes the frame text denotes.
    void sendHex(const QString &frameText);

    // Takes in the bytes the port holds now, without waiting for the event
    // loop to deliver readyRead (a deadline judges what has arrived by then).
    void drain();

    // Everything received since the last send or clear.
    QByteArray rxBytes() const { return m_rx; }
    QString rxHex() const { return QString::fromLatin1(m_rx.toHex()); }
    void clearRx() { m_rx.clear(); }

    // Clears both directions, closes and releases the port. Safe to call on a
    // closed line and from inside this line's own signals.
    void close();

signals:
    void received();                        // new bytes were appended
    void lineFailed(const QString &reason); // the port had an error and was closed

private:
    void onReadyRead();
    void onError(int error);

    QSerialPort *m_port = nullptr;
    QString m_name;
    QByteArray m_rx;
    int m_signalDepth = 0;
};

} // namespace rtu
