#pragma once

#include "pages/reports/chamberview.h"

#include "acquisition/runmonitor.h"
#include "acquisition/runsession.h"

#include <QPointer>
#include <QWidget>
#include <memory>

namespace Ui {
class shoudata;
}
class BusyGuard;
class CurveWindow;
class LiveTableModel;
class QComboBox;
class QTimer;

// The calibration run page: the view of a RunSession. The operator's
// actions go to the session; the live table, the status line and the
// header come from the session's data.
class shoudata : public QWidget
{
    Q_OBJECT

public:
    // `parts`: what the run works on (tests give a clock and ports of their own).
    explicit shoudata(QWidget *parent = nullptr,
                      const acquisition::SessionParts &parts = acquisition::SessionParts());
    ~shoudata() override;

    acquisition::RunSession *session() const { return m_session; }
    acquisition::RunMonitor *monitor() const { return m_monitor; }
    CurveWindow *curveWindow() const;
    ChamberView *chamberView() const { return m_chamber ? m_chamber->view() : nullptr; }
    // Starting, running or stopping.
    bool isRunning() const { return m_session->isActive(); }
    // Rows in the live table that no header covers yet.
    bool hasUnprocessedRows() const { return m_session->hasUnprocessedSamples(); }
    // Ends a run at once, without moving to the next point (quitting).
    void stopRun();
    // Takes back a run that ended without processing (see RunSession::restore)
    // and selects the point after its last one. False with the reason.
    bool restoreRun(const QList<storage::Sample> &samples, QString *why);
    // "数据处理", as the button does it.
    void processRun() { on_pushButton_4_clicked(); }

    struct CollectorStats
    {
        int answered = 0; // ticks with an accepted reading
        int missed = 0;   // ticks without one
        int rejected = 0; // replies refused (CRC, length, exception, values)
    };
    CollectorStats stats(int collector) const;
    int unstoredSamples() const { return m_session->unstoredCount(); }
    qint64 lastSampleLatencyNs() const { return m_session->lastSampleLatencyNs(); }

signals:
    void sampleAdded();

private slots:
    void on_pushButton_chamber_clicked();
    void on_pushButton_clicked();   // start
    void on_pushButton_2_clicked(); // stop
    void on_pushButton_4_clicked();
    void on_pushButton_discard_clicked(); // processing
    void on_pushButton_settleNow_clicked();
    void on_pushButton_5_clicked(); // close (hide)
    void on_pushButton_6_clicked();
    void on_pushButton_7_clicked();
    void on_comboBox_5_currentIndexChanged(int index);
    void on_checkBox_2_stateChanged(int arg1);
    void on_comboBox_6_currentIndexChanged(int index);
    void on_lineEdit_textChanged(const QString &arg1);
    void on_pushButton_curves_clicked();
    void on_pushButton_settings_clicked();

private:
    void showSetPoints();
    void selectPortFor(const QString &serial, QComboBox *ports);
    void setRunControls(bool running);
    QList<QWidget *> exchangeControls() const;
    void onStarted();
    void onStartFailed(const acquisition::StartFailure &failure);
    void onStopped();
    void onTableReset();
    void onSampleAdded();
    void updateStatus();
    void updatePanel();
    // Asks before starting with a collector whose certificate has expired.
    bool certificatesAccepted();

    Ui::shoudata *ui;
    acquisition::RunSession *m_session;
    LiveTableModel *m_model;
    acquisition::RunMonitor *m_monitor;
    QPointer<CurveWindow> m_curves;
    // The chamber with the point's running means.
    QPointer<ChamberWindow> m_chamber;
    void refreshChamber();
    // A channel picked on the chamber: its column in the table, its curve.
    void selectChannel(const QString &channel);
    base::Timer *m_countdown;
    std::unique_ptr<BusyGuard> m_busy; // during a start or a stop
    bool m_advanceOnStop = false;
    bool m_allDone = false; // the stop after the last point went back to the first
};
