#pragma once

#include <QElapsedTimer>
#include <QStringList>
#include <QWidget>

namespace Ui {
class shoudata;
}
namespace rtu {
class SerialLine;
}
class QTimer;

// The calibration run page: polls one or two collectors at a fixed interval
// while the equipment holds a calibration point, shows every sample in the
// live table, stores it, and closes a calibration with its header.
class shoudata : public QWidget
{
    Q_OBJECT

public:
    explicit shoudata(QWidget *parent = nullptr);
    ~shoudata() override;

    bool isRunning() const { return m_running; }
    // Rows in the live table that no header covers yet.
    bool hasUnprocessedRows() const;
    // Stops a running acquisition without moving to the next point.
    void stopRun();

    struct CollectorStats
    {
        int answered = 0; // ticks with an accepted reading
        int missed = 0;   // ticks without one
        int rejected = 0; // replies refused (CRC, length, missing values)
    };
    CollectorStats stats(int collector) const { return collector == 1 ? m_stats1 : m_stats2; }
    int unstoredSamples() const { return m_unstored; }
    QStringList channelList() const { return m_channelList; }
    // Time from the completing bytes of the last sample to its row being stored.
    qint64 lastSampleLatencyNs() const { return m_lastLatencyNs; }

signals:
    void sampleAdded();

private slots:
    void on_pushButton_clicked();   // start
    void on_pushButton_2_clicked(); // stop
    void on_pushButton_4_clicked(); // processing
    void on_pushButton_5_clicked(); // close (hide)
    void on_pushButton_6_clicked();
    void on_pushButton_7_clicked();
    void on_comboBox_5_currentIndexChanged(int index);
    void on_checkBox_2_stateChanged(int arg1);
    void on_comboBox_6_currentIndexChanged(int index);
    void on_lineEdit_textChanged(const QString &arg1);

    void sendTc();
    void sendTc2();
    void sendmes();
    void sendmes2();
    void recvMsg1();
    void recvMsg2();

private:
    bool m702() const;
    void loadSetPoints();
    void loadCollectors(QStringList *serials, QStringList *ports);
    void selectPortFor(const QString &serial, class QComboBox *ports);
    void readLayout();
    void rebuildLiveTable();
    bool openLine(int collector, QString *error);
    bool speedEcho(rtu::SerialLine *line);
    void closeLines();
    void setRunControls(bool running);
    void beginTick();
    void sendSecond();
    void onReply(int collector);
    void dispatch();
    void addSample(const QStringList &values, qint64 startNs);
    void updateStatus();
    void lineFailed(int collector, const QString &reason);

    Ui::shoudata *ui;

    // Collectors and ports of the page.
    rtu::SerialLine *port1 = nullptr;
    rtu::SerialLine *port2 = nullptr;
    QTimer *pollTimer = nullptr;
    QTimer *m_secondSend = nullptr; // sends to collector two 500 ms after collector one
    QStringList collectorSerials, collectorPorts;

    // Selection read when the page was built.
    QString equipmentName;
    int pointCount = 0;

    // Layout read at every start at the first point.
    QString headType;
    QStringList m_channelsA, m_channelsB, m_channelList;
    QList<int> countsA{0, 0, 0}, countsB{0, 0, 0};
    QString humFlagsA, humFlagsB;

    // The run: its mode is fixed at start.
    bool m_running = false;
    bool m_starting = false;
    bool m_two = false;
    bool m_tableTwo = false; // the live table holds both collectors' channels
    bool m_m702 = true;
    QString m_reply1, m_reply2; // accepted readings of the current tick
    bool m_waiting1 = false, m_waiting2 = false;
    QElapsedTimer m_replyClock;
    qint64 m_replyStartNs = 0;
    CollectorStats m_stats1, m_stats2;
    int m_unstored = 0;
    QString m_lastStoreError, m_lineError;
    qint64 m_lastLatencyNs = 0;

    // What the header of this calibration records, captured at its start.
    struct RunHeader
    {
        QString equipment, collector, roadA, roadB, typesA, typesB;
    } m_header;
    bool m_processed = true; // every row is covered by a header
};
