#include "sim/collectorsim.h"

#include "link/frames.h"
#include "sim/chamber.h"

#include <QDateTime>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

quint16 be16(const QByteArray &f, int at)
{
    return static_cast<quint16>((static_cast<quint8>(f[at]) << 8) | static_cast<quint8>(f[at + 1]));
}

void put16(QByteArray &b, quint16 v)
{
    b.append(static_cast<char>(v >> 8));
    b.append(static_cast<char>(v & 0xFF));
}

void putFloat(QByteArray &b, float v)
{
    quint32 bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 4; ++i) // least significant byte first
        b.append(static_cast<char>((bits >> (8 * i)) & 0xFF));
}

float getFloat(const QByteArray &f, int at)
{
    quint32 bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= static_cast<quint32>(static_cast<quint8>(f[at + i])) << (8 * i);
    float v = 0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

bool crcOk(const QByteArray &frame)
{
    return rtu::crcMatches(frame);
}

// Length of the request frame at the start of `in`, 0 when not yet known.
int requestLength(const QByteArray &in)
{
    if (in.size() < 2)
        return 0;
    const quint8 function = static_cast<quint8>(in[1]);
    if (function == 0x03 || function == 0x06)
        return 8;
    if (function == 0x10)
        return in.size() < 7 ? 0 : 9 + static_cast<quint8>(in[6]);
    return -1; // unknown function: resynchronise
}

} // namespace

CollectorSim::CollectorSim(const Options &options, QObject *parent)
    : QObject(parent), m_opt(options), m_rng(options.seed)
{
    m_idle = new QTimer(this);
    m_idle->setSingleShot(true);
    connect(m_idle, &QTimer::timeout, this, [this] { m_in.clear(); });
    m_pace = new QTimer(this);
    m_pace->setInterval(4);
    m_pace->setTimerType(Qt::PreciseTimer);
    connect(m_pace, &QTimer::timeout, this, &CollectorSim::pump);
    std::uniform_real_distribution<double> offset(-1.0, 1.0);
    for (int ch = 101; ch <= 164; ++ch)
        m_offsets[ch] = m_opt.spread * offset(m_rng);
    if (!m_opt.chamberDatabase.isEmpty())
        m_chamber = std::make_unique<Chamber>(m_opt.chamberDatabase);
    m_startMs = now();
}

qint64 CollectorSim::now() const
{
    return m_opt.clock ? m_opt.clock->now() : QDateTime::currentMSecsSinceEpoch();
}

void CollectorSim::runStarted()
{
    if (m_chamber)
        m_chamber->runStarted(now());
}

CollectorSim::~CollectorSim()
{
    closeLine();
    if (!m_linkPath.isEmpty())
        QFile::remove(m_linkPath);
}

bool CollectorSim::start(QString *error, const QString &linkPath)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        closeLine();
        return false;
    };
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return fail(QStringLiteral("posix_openpt"));
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        return fail(QStringLiteral("grantpt/unlockpt"));
    const char *name = ptsname(m_master);
    if (!name)
        return fail(QStringLiteral("ptsname"));
    m_slavePath = QString::fromLocal8Bit(name);
    // Holding the slave open keeps the master readable while no client is
    // connected; raw mode so nothing is echoed or translated.
    m_slave = ::open(name, O_RDWR | O_NOCTTY);
    if (m_slave < 0)
        return fail(QStringLiteral("open slave"));
    termios tio{};
    tcgetattr(m_slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_slave, TCSANOW, &tio);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);

    if (!linkPath.isEmpty()) {
        QFile::remove(linkPath);
        if (::symlink(name, QFile::encodeName(linkPath).constData()) != 0)
            return fail(QStringLiteral("symlink ") + linkPath);
        m_linkPath = linkPath;
    }
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CollectorSim::onReadable);
    return true;
}

void CollectorSim::closeLine()
{
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    m_pace->stop();
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = m_slave = -1;
}

void CollectorSim::setSetPoint(double temperature, double humidity)
{
    m_opt.temperature = temperature;
    m_opt.humidity = humidity;
}

void CollectorSim::setEnabledChannels(const QList<int> &channels)
{
    m_mask = 0;
    for (int ch : channels)
        if (ch >= 101 && ch <= 164)
            m_mask |= quint64(1) << (ch - 101);
}

QList<int> CollectorSim::enabledChannels() const
{
    QList<int> channels;
    for (int i = 0; i < 64; ++i)
        if (m_mask & (quint64(1) << i))
            channels << 101 + i;
    return channels;
}

QPair<float, float> CollectorSim::correction(int channel) const
{
    return m_mxb.value(channel, qMakePair(1.0f, 0.0f));
}

void CollectorSim::followChamber()
{
    double t = 0, h = 0;
    if (m_chamber && m_chamber->air(now(), &t, &h)) {
        m_opt.temperature = t;
        m_opt.humidity = h;
    }
}

float CollectorSim::reading(int channel)
{
    const double minutes = (now() - m_startMs) / 60000.0;
    const double noise =
        m_opt.noise > 0 ? std::uniform_real_distribution<double>(-m_opt.noise, m_opt.noise)(m_rng)
                        : 0.0;
    // Humidity only on a DC-voltage channel (type 000F) that is a humidity
    // transmitter: the workstation's channel table says which when the
    // simulator follows it, else --humidity-channels. A channel written as
    // a thermometer reads temperature whatever the options say.
    const QString type = m_types.value(channel);
    const bool transmitter = type.isEmpty() || type == QLatin1String("000F");
    const QSet<int> humidity =
        m_chamber && !m_chamber->humidityChannels().isEmpty() ? m_chamber->humidityChannels()
                                                              : m_opt.humidityChannels;
    const bool humid = m_opt.family == rtu::Family::M702 && transmitter &&
                       humidity.contains(channel);
    const double base = humid ? m_opt.humidity : m_opt.temperature + m_opt.driftPerMinute * minutes;
    const double raw = base + m_offsets.value(channel) + noise;
    const QPair<float, float> mb = correction(channel);
    return static_cast<float>(mb.first * raw + mb.second);
}

void CollectorSim::onReadable()
{
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            if (m_clientGone) {
                m_clientGone = false;
                runStarted(); // a workstation opened the line
            }
            m_in.append(buf, static_cast<int>(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        // EIO: no client has the line open at the moment.
        m_clientGone = true;
        break;
    }
    parse();
    if (!m_in.isEmpty())
        m_idle->start(200); // a frame left incomplete this long is dropped
}

void CollectorSim::parse()
{
    for (;;) {
        const int length = requestLength(m_in);
        if (length < 0) {
            m_in.remove(0, 1);
            continue;
        }
        if (length == 0 || m_in.size() < length)
            return;
        const QByteArray frame = m_in.left(length);
        m_in.remove(0, length);
        if (!crcOk(frame)) {
            m_in.clear(); // a garbled frame: wait for the line to go quiet
            return;
        }
        const QString hex = QString::fromLatin1(frame.toHex()).toUpper();
        m_frames << hex;
        emit frameReceived(hex);
        m_request = frame;
        handle(frame);
    }
}

QByteArray CollectorSim::reply(const QByteArray &body) const
{
    QByteArray out = body;
    // Faults: another slave's address, a function nobody asked for.
    if (m_opt.replyAddress != 0 && !out.isEmpty())
        out[0] = char(m_opt.replyAddress);
    if (m_opt.replyFunction != 0 && out.size() > 1)
        out[1] = char(m_opt.replyFunction);
    return rtu::withCrc(out, rtu::crcOrderOf(m_opt.family));
}

void CollectorSim::handle(const QByteArray &frame)
{
    const quint8 function = static_cast<quint8>(frame[1]);
    const quint16 address = be16(frame, 2);
    const bool m702 = m_opt.family == rtu::Family::M702;
    QByteArray body;
    body.append('\x01');

    if (m_opt.exceptionReplies) {
        body.append(static_cast<char>(function | 0x80));
        body.append('\x02');
        send(reply(body));
        return;
    }

    if (function == 0x03 && address == 0x1000 && be16(frame, 4) == 5) {
        body.append('\x03');
        body.append('\x0A');
        body.append(m_opt.serial.leftJustified(10, QLatin1Char(' '), true).toLatin1());
        send(reply(body));
        return;
    }
    if (function == 0x03 && address == 0x0100 && !m702) {
        followChamber();
        body.append('\x03');
        body.append('\x40');
        for (int ch = 101; ch <= 116; ++ch)
            putFloat(body, reading(ch));
        send(reply(body));
        return;
    }
    if (function == 0x06) {
        const quint16 value = be16(frame, 4);
        if (m702 && address == 0x101A) {
            // Measurement request: one float per enabled channel, ascending.
            followChamber();
            const QList<int> channels = enabledChannels();
            body.append(static_cast<char>(m_opt.readingFunction));
            body.append(static_cast<char>((channels.size() * 4) & 0xFF));
            for (int ch : channels)
                putFloat(body, reading(ch));
            send(reply(body));
            return;
        }
        if (m702 && address >= 0x1020 && address <= 0x105F) {
            m_types[address - 4027] =
                QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
            body.append('\x06');
            body.append('\x02');
            put16(body, value);
            send(reply(body));
            return;
        }
        if (m702 && address == 0x000E) {
            m_speed = value;
            runStarted(); // a run starts with the sampling-speed write
        }
        else if (!m702 && (address == 0x000D || address == 0x000C))
            m_m701Setting = QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
        send(m_opt.replyAddress || m_opt.replyFunction ? reply(frame.left(6)) : frame); // the echo
        return;
    }
    if (function == 0x10) {
        const quint16 count = be16(frame, 4);
        const QByteArray data = frame.mid(7, static_cast<quint8>(frame[6]));
        if (m702 && address == 0x1017 && count == 4) {
            m_mask = 0;
            for (char c : data)
                m_mask = (m_mask << 8) | static_cast<quint8>(c);
            body.append('\x10');
            body.append('\x08');
            body.append(data);
            send(reply(body));
            return;
        }
        if (m702 && address == 0x01F0 && count == 2) {
            m_hasColdJunction = true;
            m_coldJunction = getFloat(data, 0);
            send(m_opt.writeReplies == Options::WriteReplies::Echo ? frame
                                                                    : reply(frame.left(6)));
            return;
        }
        if (address >= 0x0010 && address % 2 == 0 && (count == 4 || count == 12)) {
            const int channel = (address + 186) / 2;
            if (count == 4) {
                m_mxb[channel] = qMakePair(getFloat(data, 0), getFloat(data, 4));
            } else {
                QList<float> coefficients;
                for (int i = 0; i < 6; ++i)
                    coefficients << getFloat(data, 4 * i);
                m_its90[channel] = coefficients;
            }
            if (m_opt.writeReplies == Options::WriteReplies::Echo) {
                send(frame);
                return;
            }
            // Address, register count and the data written, after a byte count.
            body.append('\x10');
            body.append(static_cast<char>(4 + data.size()));
            body.append(frame.mid(2, 4));
            body.append(data);
            send(reply(body));
            return;
        }
    }
    body.append(static_cast<char>(function | 0x80));
    body.append('\x02'); // illegal data address
    send(reply(body));
}

void CollectorSim::send(QByteArray bytes)
{
    if (m_silent)
        return;
    if (m_opt.silentAfter >= 0 && m_replies >= m_opt.silentAfter)
        return;
    ++m_replies;
    if (m_opt.alterReply)
        bytes = m_opt.alterReply(m_request, bytes);
    if (m_opt.corruptEvery > 0 && m_replies % m_opt.corruptEvery == 0 && bytes.size() > 4)
        bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x5A);

    bytes += m_opt.trailing;
    QList<QByteArray> chunks;
    const int pieces = qMax(1, qMin(m_opt.chunks, bytes.size()));
    const int size = (bytes.size() + pieces - 1) / pieces;
    for (int at = 0; at < bytes.size(); at += size)
        chunks << bytes.mid(at, size);
    if (m_opt.delayMs > 0)
        later(m_opt.delayMs, [this, chunks] { writeChunks(chunks, 0); });
    else
        writeChunks(chunks, 0);
}

void CollectorSim::writeChunks(const QList<QByteArray> &chunks, int index)
{
    if (index >= chunks.size() || (m_master < 0 && !m_sink))
        return;
    if (m_sink) {
        m_sink(chunks[index]);
    } else if (m_opt.baud > 0) {
        m_out.append(chunks[index]);
        if (!m_pace->isActive())
            m_pace->start();
    } else {
        const QByteArray &c = chunks[index];
        if (::write(m_master, c.constData(), static_cast<size_t>(c.size())) < 0)
            return;
    }
    if (index + 1 < chunks.size())
        later(m_opt.chunkGapMs, [this, chunks, index] { writeChunks(chunks, index + 1); });
}

void CollectorSim::later(int ms, std::function<void()> what)
{
    if (!m_opt.clock) {
        QTimer::singleShot(ms, this, std::move(what));
        return;
    }
    base::Timer *t = m_opt.clock->makeTimer(this);
    t->setSingleShot(true);
    connect(t, &base::Timer::timeout, this, [t, what] {
        t->deleteLater();
        what();
    });
    t->start(ms);
}

void CollectorSim::attach(std::function<void(const QByteArray &)> sink)
{
    m_sink = std::move(sink);
    if (m_sink)
        runStarted(); // a workstation opened the line
}

void CollectorSim::receive(const QByteArray &bytes)
{
    if (m_silent && m_opt.silentDropsRequests)
        return;
    m_in.append(bytes);
    parse();
}

void CollectorSim::pump()
{
    if (m_master < 0 || m_out.isEmpty()) {
        m_pace->stop();
        m_paceCredit = 0;
        return;
    }
    // Ten bits per byte on the line (start, eight data, stop).
    m_paceCredit += m_opt.baud / 10.0 * m_pace->interval() / 1000.0;
    const int n = qMin(static_cast<int>(m_paceCredit), m_out.size());
    if (n <= 0)
        return;
    m_paceCredit -= n;
    if (::write(m_master, m_out.constData(), static_cast<size_t>(n)) > 0)
        m_out.remove(0, n);
}

} // namespace sim
