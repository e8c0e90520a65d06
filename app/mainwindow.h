#pragma once

#include "base/clock.h"
#include "storage/statements.h"

#include <QMainWindow>

namespace Ui {
class MainWindow;
}
class QStackedWidget;

// The frame of the program: toolbar, page stack and the database connection.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // An empty path means ORVDB.db3 beside the program. `readOnly`: the
    // database is opened for viewing and exports only (its folder may not be
    // written), and the window says so.
    explicit MainWindow(const QString &databasePath = QString(), bool readOnly = false,
                        QWidget *parent = nullptr);
    ~MainWindow() override;

    QStackedWidget *pages() const;
    class StartPanel *startPanel() const { return m_start; }
    // The status bar's text: the selected collector and equipment.
    QString selectionText() const;
    // Closes as the close button does, without asking (a logout, a shutdown,
    // Ctrl-C): runs stop, waiting samples are stored, exchanges end. A second
    // call quits at once.
    void quitWithoutQuestion();
    // Samples stored after the last processed calibration (the program was
    // cut off during a run) are offered back: continue the run, process it
    // as it is, ask again next time, or set them aside. Called once the
    // window is up.
    void offerUnprocessedRun();

    // Who is at the window. With sign-in required (the laboratory's choice)
    // the window is covered until an operator signs in, and again after the
    // idle time or 切换用户; pages under it go on.
    bool isLocked() const;
    QString operatorName() const { return m_operator.name; }
    void lock(const QString &why);
    // The clock the idle time is measured with (tests advance their own).
    void setClock(base::Clock *clock);

signals:
    void closed(); // the window accepted its close: the program ends

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void on_action_triggered();
    void on_action_2_triggered();
    void on_action_3_triggered();
    void on_action_4_triggered();
    void on_action_5_triggered();
    void on_action_6_triggered();
    void on_action_7_triggered();

private:
    void addPage(QWidget *page);
    void showPage(QWidget *page);
    bool currentPageBusy();
    QList<QWidget *> busyPages() const;
    void refreshSelection();
    // Samples the run pages could not store yet, after one more try.
    int unstoredSamples() const;
    QString unstoredReason() const;

    Ui::MainWindow *ui;
    bool m_quitConfirmed = false; // the operator said yes; closing waits for exchanges
    bool m_closeWhenIdle = false;
    class StartPanel *m_start = nullptr;
    class QLabel *m_selection = nullptr;
    QList<QWidget *> m_history; // open pages, the one shown last at the end
    bool m_switching = false;
    void startAccess(bool offerRun);
    void signedIn(const storage::OperatorAccount &account);
    class SignInPanel *m_signIn = nullptr;
    class QLabel *m_operatorLabel = nullptr;
    storage::OperatorAccount m_operator;
    base::Clock *m_clock = nullptr;
    base::Timer *m_idleTimer = nullptr;
    qint64 m_lastInput = 0;
    int m_idleMinutes = 15;
    bool m_offerRun = false;
};
