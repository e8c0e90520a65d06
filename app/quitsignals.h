#pragma once

// SIGTERM, SIGINT and SIGHUP (a shutdown, Ctrl-C, a logout) as a Qt signal
// on the GUI thread, so the program ends through its close path instead of
// being cut off. The handler only writes a byte to a socket pair.

#include <QObject>

class QSocketNotifier;

namespace app {

class QuitSignals : public QObject
{
    Q_OBJECT

public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override; // restores the default handlers

signals:
    void received(int signal);

private:
    void onReadable();
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace app
