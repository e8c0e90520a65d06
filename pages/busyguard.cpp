#include "pages/busyguard.h"

#include <QVariant>

static const char *const kBusy = "orvenBusy";
static const char *const kCancel = "orvenCancel";

BusyGuard::BusyGuard(QWidget *page, const QList<QWidget *> &controls) : m_page(page)
{
    for (QWidget *w : controls) {
        if (!w)
            continue;
        m_controls << qMakePair(QPointer<QWidget>(w), w->isEnabled());
        w->setEnabled(false);
    }
    if (page) {
        page->setProperty(kBusy, page->property(kBusy).toInt() + 1);
        page->setProperty(kCancel, false);
    }
}

BusyGuard::~BusyGuard()
{
    for (const auto &c : m_controls)
        if (c.first)
            c.first->setEnabled(c.second);
    if (m_page) {
        const int depth = m_page->property(kBusy).toInt() - 1;
        m_page->setProperty(kBusy, qMax(0, depth));
        if (depth <= 0) {
            m_page->setProperty(kCancel, false);
            emit busy::Notifier::instance()->released();
        }
    }
}

namespace busy {

bool isBusy(const QWidget *page)
{
    return page && page->property(kBusy).toInt() > 0;
}

void requestCancel(QWidget *page)
{
    if (page && isBusy(page))
        page->setProperty(kCancel, true);
}

bool cancelRequested(const QWidget *page)
{
    return page && page->property(kCancel).toBool();
}

Notifier *Notifier::instance()
{
    static Notifier notifier;
    return &notifier;
}

} // namespace busy
