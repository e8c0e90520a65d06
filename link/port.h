#pragma once

// A collector's line: bytes out, bytes in, and the one error that ends it.
// SerialPort is the real serial port (9600 8N1); tests give the exchange a
// port of their own.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QSerialPort;

namespace rtu {

// Ports the system lists, in its order, then those named in ORVEN_EXTRA_PORTS
// (paths separated by ':'), which is how simulated collectors on
// pseudo-terminals appear. The system's list is kept for a few seconds
// (asking reads a thousand files of /sys): pages opened together share one
// look; `fresh` looks again (the operator's ↺).
QStringList availablePortNames(bool fresh = false);

class Port : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    // On failure `error` holds the reason in the operator's words and nothing
    // stays open.
    virtual bool open(const QString &name, QString *error) = 0;
    // Safe on a closed port and from inside the port's own signals.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual void write(const QByteArray &bytes) = 0;
    // Takes in what has arrived now, without waiting for the event loop.
    virtual void drain() {}
    QString name() const { return m_name; }

signals:
    void received(const QByteArray &bytes);
    void failed(const QString &reason); // the port had an error and was closed

protected:
    QString m_name;
};

using PortFactory = std::function<std::unique_ptr<Port>()>;

class SerialPort : public Port
{
    Q_OBJECT

public:
    explicit SerialPort(QObject *parent = nullptr);
    ~SerialPort() override;
    bool open(const QString &name, QString *error) override;
    void close() override;
    bool isOpen() const override;
    void write(const QByteArray &bytes) override;
    void drain() override;

    static PortFactory factory();

private:
    void onReadyRead();
    void onError(int error);

    QSerialPort *m_port = nullptr;
    int m_signalDepth = 0;
};

} // namespace rtu
