#pragma once

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
    // An empty path means ORVDB.db3 beside the program.
    explicit MainWindow(const QString &databasePath = QString(), QWidget *parent = nullptr);
    ~MainWindow() override;

    QStackedWidget *pages() const;
    class StartPanel *startPanel() const { return m_start; }
    // The status bar's text: the selected collector and equipment.
    QString selectionText() const;

protected:
    void closeEvent(QCloseEvent *event) override;

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
    bool currentPageBusy();
    QList<QWidget *> busyPages() const;
    void refreshSelection();

    Ui::MainWindow *ui;
    bool m_quitConfirmed = false; // the operator said yes; closing waits for exchanges
    bool m_closeWhenIdle = false;
    class StartPanel *m_start = nullptr;
    class QLabel *m_selection = nullptr;
};
