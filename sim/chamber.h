#pragma once

// A simulated chamber that follows a calibration run: it reads the
// workstation's database (read-only; a file, or the laboratory's server as
// the station named by $ORVEN_STATION or the host name) for the selected equipment's set
// points and the point being run, and its air settles towards that point's
// set values. The collector simulator's channels read this air plus their
// own offset and noise.

#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>

struct sqlite3;

namespace sim {

class Chamber
{
public:
    explicit Chamber(const QString &databasePath, double settleSeconds = 0.5);
    ~Chamber();
    Chamber(const Chamber &) = delete;
    Chamber &operator=(const Chamber &) = delete;

    // A run starts (the sampling-speed write, or a new connection): the
    // point it starts at is the one the run page says it started, else the
    // one after the last point of the run in progress, or the first.
    void runStarted(qint64 nowMs);
    // The air now; false while the database holds no selected equipment
    // with set points.
    bool air(qint64 nowMs, double *temperature, double *humidity);
    int point() const { return m_point; }
    // The channels the workstation's channel tables give to humidity
    // transmitters ("直流电压-H"); empty when it has none or cannot be read.
    QSet<int> humidityChannels() const { return m_humidity; }

private:
    struct Run
    {
        int points = 0;
        double setT[10] = {}, setH[10] = {};
        QString lastPoint, lastTime, lastEnd;
        QString started; // the point the run page started last ("检点2")
    };
    // What the database says now; on a server from the reader thread's
    // latest look, waiting up to `waitMs` for a new one.
    bool read(Run *run, int waitMs = 0);
    bool readNow(Run *run, QSet<int> *humidity);
    QStringList readRow();
    QStringList readColumn(const QString &sql);
    bool open();
    void readerLoop();

    // On a server: the database is read on a thread of its own, so a
    // server that holds still never holds up the collector's answers.
    struct Reader;
    std::unique_ptr<Reader> m_reader;

    QString m_path;
    QString m_connection; // on a server
    sqlite3 *m_db = nullptr;
    double m_tau;
    int m_point = 0;     // 1-based; 0: not known yet
    QString m_startTime; // when the current run started, "yyyy-MM-dd HH:mm:ss"
    qint64 m_lastMs = -1;
    double m_t = 25.0, m_h = 60.0;
    QSet<int> m_humidity;
};

} // namespace sim
