#include "acquisition/samplestore.h"

#include "link/frames.h"
#include "storage/statements.h"

namespace acquisition {

storage::Sample sampleRow(const RunSample &sample, const QString &equipment,
                          const QString &channelNames)
{
    QString values;
    values.reserve(sample.values.size() * 8);
    for (float v : sample.values)
        values += rtu::formatValue(v) + QLatin1Char(';');
    return storage::Sample{equipment, pointLabel(sample.point), sample.timeText(), channelNames,
                           values};
}

SampleStore::SampleStore(Writer writer)
    : m_writer(writer ? std::move(writer) : Writer(&storage::insertSample))
{
}

void SampleStore::setContext(const QString &equipment, const QString &channelNames)
{
    m_equipment = equipment;
    m_names = channelNames;
}

void SampleStore::add(QVector<RunSample> &samples, int index)
{
    m_pending.append(index);
    retry(samples);
}

bool SampleStore::retry(QVector<RunSample> &samples)
{
    const int before = m_pending.size();
    while (!m_pending.isEmpty()) {
        RunSample &s = samples[m_pending.first()];
        const base::Status st = m_writer(sampleRow(s, m_equipment, m_names));
        if (!st) {
            m_error = st.error; // it and every later one wait
            break;
        }
        s.stored = true;
        m_pending.removeFirst();
    }
    if (m_pending.isEmpty())
        m_error.clear();
    return m_pending.size() != before;
}

void SampleStore::clear()
{
    m_pending.clear();
    m_error.clear();
}

} // namespace acquisition
