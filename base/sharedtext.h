#pragma once

// A text that several threads read and write (the reason a thread last
// failed, why a server refused us), behind a lock of its own.

#include <QMutex>
#include <QMutexLocker>
#include <QString>

namespace base {

class SharedText
{
public:
    void set(const QString &text)
    {
        QMutexLocker lock(&m_mutex);
        m_text = text;
    }
    QString get() const
    {
        QMutexLocker lock(&m_mutex);
        return m_text;
    }

private:
    mutable QMutex m_mutex;
    QString m_text;
};

} // namespace base
