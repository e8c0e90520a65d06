#pragma once

// A simulated M702, M701-TC or M701-RTD collector on a Linux pseudo-terminal.
// It answers the commands of the collectors' command table, keeps what is
// written (mask, types, corrections, coefficients, cold junction) and its
// readings follow it. Usable in-process (tests) and from orven-sim.

#include "base/clock.h"
#include "link/commands.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <functional>
#include <memory>
#include <random>

class QSocketNotifier;
class QTimer;

namespace sim {

class Chamber;

struct Options
{
    rtu::Family family = rtu::Family::M702;
    QString serial = QStringLiteral("ORV7020001"); // ten characters
    quint32 seed = 1;
    double temperature = 25.0; // chamber set point, degC
    double humidity = 60.0;    // chamber set point, %RH
    double noise = 0.02;       // amplitude of the reading noise
    double spread = 0.3;       // amplitude of the per-channel offsets
    double driftPerMinute = 0.01;
    QSet<int> humidityChannels; // channels that read the humidity
    // Function code of the M702's reading (its answer to the function-06
    // measure request): 0x03 or 0x06; collectors differ.
    quint8 readingFunction = 0x03;
    // How a register-block write (function 0x10) whose reply the command
    // table gives only by its length is answered: a byte count before the
    // address, count and data written, or the request echoed whole. The
    // mask write's reply has its layout given and keeps it either way.
    enum class WriteReplies { Counted, Echo };
    WriteReplies writeReplies = WriteReplies::Counted;
    // A chamber that follows the run in this workstation database (read
    // only): the channels read its air instead of the fixed set point.
    QString chamberDatabase;

    // Fault options
    int chunks = 1;                // split every reply into this many pieces
    int chunkGapMs = 30;           // gap between pieces
    int delayMs = 0;               // delay before a reply starts
    int corruptEvery = 0;          // corrupt one byte of every K-th reply (0: never)
    int silentAfter = -1;          // stop answering after this many replies (-1: never)
    bool exceptionReplies = false; // answer every request with an exception reply
    QByteArray trailing;           // stray bytes sent after every reply
    int baud = 0;                  // pace reply bytes at this line speed (0: all at once)
    bool silentDropsRequests = false;
    quint8 replyAddress = 0;  // answer as this slave (0: as asked)
    quint8 replyFunction = 0; // answer with this function code (0: as asked)
    // Changes the reply to one request before it is sent (tests: a reply of
    // the wrong length or with a bad CRC for one channel).
    std::function<QByteArray(const QByteArray &request, const QByteArray &reply)> alterReply;

    // Time for the readings' drift and the reply delays (null: the system's).
    base::Clock *clock = nullptr;
};

class CollectorSim : public QObject
{
    Q_OBJECT

public:
    explicit CollectorSim(const Options &options = Options(), QObject *parent = nullptr);
    ~CollectorSim() override;

    // Opens the pseudo-terminal; `linkPath`, when given, becomes a symlink to it.
    bool start(QString *error = nullptr, const QString &linkPath = QString());
    // Without a pseudo-terminal: requests come by receive(), replies go to
    // `sink` (sim::DirectPort uses this).
    void attach(std::function<void(const QByteArray &)> sink);
    void receive(const QByteArray &bytes);
    QString portPath() const { return m_slavePath; }

    Options &options() { return m_opt; }
    void setSilent(bool silent) { m_silent = silent; }
    void setSetPoint(double temperature, double humidity);
    // State a collector keeps from an earlier configuration.
    void setEnabledChannels(const QList<int> &channels);
    void setCorrection(int channel, float m, float b) { m_mxb[channel] = qMakePair(m, b); }
    // Closes the line as if the cable were pulled.
    void closeLine();

    // Every request frame received, upper-case hex, in order.
    QStringList receivedFrames() const { return m_frames; }
    void clearReceivedFrames() { m_frames.clear(); }
    int repliesSent() const { return m_replies; }

    // What the collector holds.
    quint64 channelMask() const { return m_mask; }
    QList<int> enabledChannels() const;
    QString channelType(int channel) const { return m_types.value(channel); }
    QPair<float, float> correction(int channel) const;
    QList<float> its90(int channel) const { return m_its90.value(channel); }
    bool hasColdJunction() const { return m_hasColdJunction; }
    float coldJunction() const { return m_coldJunction; }
    QString m701Setting() const { return m_m701Setting; } // last 0x000D/0x000C value
    int speed() const { return m_speed; }

    // The reading of one channel now (before transmission).
    float reading(int channel);

signals:
    void frameReceived(const QString &hex);

private:
    void onReadable();
    void parse();
    void handle(const QByteArray &frame);
    QByteArray reply(const QByteArray &body) const; // appends the family's CRC
    void send(QByteArray bytes);
    void writeChunks(const QList<QByteArray> &chunks, int index);
    void pump();
    void runStarted();
    void followChamber();
    void later(int ms, std::function<void()> what);
    qint64 now() const;

    Options m_opt;
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_linkPath;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_idle = nullptr;
    QTimer *m_pace = nullptr;
    QByteArray m_in;
    QByteArray m_request; // the frame being answered
    QByteArray m_out; // paced output not yet written
    double m_paceCredit = 0;
    QStringList m_frames;
    int m_replies = 0;
    bool m_silent = false;
    qint64 m_startMs = 0;
    std::mt19937 m_rng;
    QMap<int, double> m_offsets;
    std::unique_ptr<Chamber> m_chamber;
    bool m_clientGone = true; // the next bytes come over a new connection
    std::function<void(const QByteArray &)> m_sink;

    quint64 m_mask = 0;
    QMap<int, QString> m_types;
    QMap<int, QPair<float, float>> m_mxb;
    QMap<int, QList<float>> m_its90;
    bool m_hasColdJunction = false;
    float m_coldJunction = 0;
    QString m_m701Setting;
    int m_speed = 0;
};

} // namespace sim
