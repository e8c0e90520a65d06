#pragma once

#include <QWidget>
#include <memory>

class MainWindow;
class QTimer;

// Splash form shown for three seconds before the main window.
class welcome : public QWidget
{
    Q_OBJECT

public:
    // `databasePath`: the database the main window opens (empty: the default).
    explicit welcome(const QString &databasePath = QString(), QWidget *parent = nullptr);
    ~welcome() override;

    MainWindow *mainWindow() const { return m_main.get(); }

public slots:
    void init();

private:
    QTimer *m_timer;
    QString m_database;
    std::unique_ptr<MainWindow> m_main;
};
