#include "link/port.h"

#include "link/trace.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QPointer>
#include <QSerialPort>
#include <QSerialPortInfo>

namespace rtu {

QStringList availablePortNames(bool fresh)
{
    static QMutex lock;
    static QStringList system;
    static QElapsedTimer age;
    QStringList names;
    {
        const QMutexLocker held(&lock);
        constexpr qint64 kKeptMs = 3000;
        if (fresh || !age.isValid() || age.elapsed() > kKeptMs) {
            system.clear();
            const auto ports = QSerialPortInfo::availablePorts();
            for (const QSerialPortInfo &info : ports)
                system << info.portName();
            age.start();
        }
        names = system;
    }
    const QString extra = qEnvironmentVariable("ORVEN_EXTRA_PORTS");
    for (const QString &path : extra.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (!names.contains(path))
            names << path;
    return names;
}

SerialPort::SerialPort(QObject *parent) : Port(parent) {}

SerialPort::~SerialPort()
{
    close();
}

PortFactory SerialPort::factory()
{
    return [] { return std::make_unique<SerialPort>(); };
}

bool SerialPort::open(const QString &portName, QString *error)
{
    close();
    m_name = portName;
    if (portName.trimmed().isEmpty()) {
        if (error)
            *error = QStringLiteral("没有选择串口，请点 ↺ 刷新后选择采集器所接的串口");
        return false;
    }
    auto *port = new QSerialPort;
    port->setPortName(portName);
    port->setBaudRate(QSerialPort::Baud9600, QSerialPort::AllDirections);
    port->setDataBits(QSerialPort::Data8);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    port->setParity(QSerialPort::NoParity);
    if (!port->open(QIODevice::ReadWrite)) {
        if (error) {
            // The reason in the operator's words, with what to do next.
            switch (port->error()) {
            case QSerialPort::DeviceNotFoundError:
                *error = QStringLiteral("串口 %1 不存在，请点 ↺ 刷新，或检查连接线").arg(portName);
                break;
            case QSerialPort::PermissionError:
                *error =
                    QStringLiteral("没有权限打开串口 %1：它正被其他程序使用，或当前用户不在 "
                                   "dialout 组（sudo usermod -aG dialout 用户名，然后重新登录）")
                        .arg(portName);
                break;
            default:
                *error = QStringLiteral("串口 %1 打不开：%2").arg(portName, port->errorString());
                break;
            }
        }
        delete port;
        return false;
    }
    m_port = port;
    connect(port, &QSerialPort::readyRead, this, &SerialPort::onReadyRead);
    connect(port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError e) { onError(static_cast<int>(e)); });
    return true;
}

bool SerialPort::isOpen() const
{
    return m_port && m_port->isOpen();
}

void SerialPort::write(const QByteArray &bytes)
{
    if (isOpen())
        m_port->write(bytes);
}

void SerialPort::close()
{
    QSerialPort *port = m_port;
    if (!port)
        return;
    m_port = nullptr;
    disconnect(port, nullptr, this, nullptr);
    if (port->isOpen()) {
        port->clear(QSerialPort::AllDirections);
        port->close();
    }
    // Inside one of the port's own signals the object must outlive the emit.
    if (m_signalDepth > 0)
        port->deleteLater();
    else
        delete port;
}

void SerialPort::drain()
{
    if (!m_port)
        return;
    m_port->waitForReadyRead(0);
    if (m_port && m_port->bytesAvailable() > 0)
        onReadyRead();
}

void SerialPort::onReadyRead()
{
    if (!m_port)
        return;
    // The listener may close this port, or delete it, on what it hears.
    const QPointer<SerialPort> alive(this);
    ++m_signalDepth;
    emit received(m_port->readAll());
    if (alive)
        --m_signalDepth;
}

// The port's fault in the operator's words, with the system's own text when
// it has one (after a pulled cable the system often has none: "Unknown error").
static QString faultText(QSerialPort::SerialPortError error, const QString &system)
{
    QString what;
    switch (error) {
    case QSerialPort::ResourceError:
        what = QStringLiteral("串口已断开或不可用（连接线被拔出、USB 转换器掉线或设备断电）");
        break;
    case QSerialPort::ReadError:
        what = QStringLiteral(
            "读取串口数据出错，串口可能已断开（连接线被拔出、USB 转换器掉线或设备断电）");
        break;
    case QSerialPort::WriteError:
        what = QStringLiteral("向串口写入数据出错");
        break;
    case QSerialPort::PermissionError:
        what = QStringLiteral("没有权限使用串口");
        break;
    case QSerialPort::DeviceNotFoundError:
        what = QStringLiteral("串口设备不存在");
        break;
    case QSerialPort::OpenError:
        what = QStringLiteral("串口已被打开");
        break;
    default:
        what = QStringLiteral("串口错误（代码 %1）").arg(int(error));
        break;
    }
    const QString s = system.trimmed();
    const bool unknown =
        s.isEmpty() || s == QLatin1String("Unknown error") || s == QStringLiteral("未知错误");
    return unknown ? what : what + QStringLiteral("：") + s;
}

void SerialPort::onError(int error)
{
    switch (static_cast<QSerialPort::SerialPortError>(error)) {
    case QSerialPort::NoError:
    case QSerialPort::NotOpenError:              // close() and clear() on a closed port
    case QSerialPort::UnsupportedOperationError: // DTR/RTS on a pseudo-terminal
    case QSerialPort::TimeoutError:
        return;
    default:
        break;
    }
    if (!m_port)
        return;
    const QString reason =
        faultText(static_cast<QSerialPort::SerialPortError>(error), m_port->errorString());
    qCDebug(lcTrace).noquote() << "line error on" << m_name << ":" << reason;
    const QPointer<SerialPort> alive(this);
    ++m_signalDepth;
    close();
    emit failed(reason);
    if (alive)
        --m_signalDepth;
}

} // namespace rtu
