#pragma once

// One busy rule for every page: a page holds a BusyGuard for the whole of any
// exchange with a collector (scan, download, start, stop). The guard
// disables the controls that could start another exchange or change the
// record being written, and marks the page busy; the main window asks
// before closing over a busy page and builds no new page over it.

#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QWidget>

class BusyGuard
{
public:
    BusyGuard(QWidget *page, const QList<QWidget *> &controls);
    ~BusyGuard();
    BusyGuard(const BusyGuard &) = delete;
    BusyGuard &operator=(const BusyGuard &) = delete;

private:
    QPointer<QWidget> m_page;
    QList<QPair<QPointer<QWidget>, bool>> m_controls; // control, enabled before
};

namespace busy {

bool isBusy(const QWidget *page);
// Asks the exchange going on in `page` to end as soon as it can; the page
// checks cancelRequested() after each wait.
void requestCancel(QWidget *page);
bool cancelRequested(const QWidget *page);

// Emits released() whenever a page stops being busy.
class Notifier : public QObject
{
    Q_OBJECT

public:
    static Notifier *instance();

signals:
    void released();
};

} // namespace busy
