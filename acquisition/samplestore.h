#pragma once

// Storing a run's samples: each as one `data` row with its values written
// with three decimals. A sample the database refuses (its lock held
// elsewhere, a full disk) waits, in order, and is tried again before every
// new one and whenever asked; none is stored twice or out of order.

#include "acquisition/runtypes.h"
#include "base/result.h"
#include "storage/records.h"

#include <QList>
#include <functional>

namespace acquisition {

// The `data` row of a sample.
storage::Sample sampleRow(const RunSample &sample, const QString &equipment,
                          const QString &channelNames);

class SampleStore
{
public:
    using Writer = std::function<base::Status(const storage::Sample &)>;
    explicit SampleStore(Writer writer = Writer());

    // What every row of the run carries.
    void setContext(const QString &equipment, const QString &channelNames);
    // `index` into the run's samples waits to be stored; tries at once.
    void add(QVector<RunSample> &samples, int index);
    // Tries the waiting samples oldest first. True when any was stored.
    bool retry(QVector<RunSample> &samples);
    void clear();

    int waiting() const { return m_pending.size(); }
    // The index of the oldest sample waiting; -1 when none waits.
    int oldestWaiting() const { return m_pending.isEmpty() ? -1 : m_pending.first(); }
    QString lastError() const { return m_error; }

private:
    Writer m_writer;
    QString m_equipment, m_names;
    QList<int> m_pending; // oldest first
    QString m_error;
};

} // namespace acquisition
