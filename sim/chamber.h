#pragma once

// A simulated chamber that follows a calibration run: it reads the
// workstation's database (read-only; a file, or the laboratory's server as
// the station named by $ORVEN_STATION or the host name) for the selected equipment's set
// points and the point being run, and its air settles towards that point's
// set values. The collector simulator's channels read this air plus their
// own offset and noise.

#include <QString>
#include <QStringList>

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
    // point it starts at is the one after the last point of the run in
    // progress, or the first.
    void runStarted(qint64 nowMs);
    // The air now; false while the database holds no selected equipment
    // with set points.
    bool air(qint64 nowMs, double *temperature, double *humidity);
    int point() const { return m_point; }

private:
    struct Run
    {
        int points = 0;
        double setT[10] = {}, setH[10] = {};
        QString lastPoint, lastTime, lastEnd;
    };
    bool read(Run *run);
    QStringList readRow();
    bool open();

    QString m_path;
    QString m_connection; // on a server
    sqlite3 *m_db = nullptr;
    double m_tau;
    int m_point = 0;     // 1-based; 0: not known yet
    QString m_startTime; // when the current run started, "yyyy-MM-dd HH:mm:ss"
    qint64 m_lastMs = -1;
    double m_t = 25.0, m_h = 60.0;
};

} // namespace sim
