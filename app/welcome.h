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
    // `databasePath`: the database the main window opens (empty: the
    // default); `readOnly`: for viewing and exports only.
    explicit welcome(const QString &databasePath = QString(), bool readOnly = false,
                     int delayMs = 3000, QWidget *parent = nullptr);
    ~welcome() override;

    MainWindow *mainWindow() const { return m_main.get(); }
    // Closes and deletes the main window and its pages (the program ends).
    void closeMainWindow() { m_main.reset(); }

signals:
    void mainWindowShown(MainWindow *window);

public slots:
    void init();

private:
    QTimer *m_timer;
    QString m_database;
    bool m_readOnly = false;
    std::unique_ptr<MainWindow> m_main;
};
