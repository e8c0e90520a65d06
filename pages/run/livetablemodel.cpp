#include "pages/run/livetablemodel.h"

#include "acquisition/runsession.h"
#include "link/frames.h"

LiveTableModel::LiveTableModel(acquisition::RunSession *session, QObject *parent)
    : QAbstractTableModel(parent), m_session(session)
{
    connect(session, &acquisition::RunSession::tableReset, this, &LiveTableModel::onReset);
    connect(session, &acquisition::RunSession::sampleAdded, this, &LiveTableModel::onAdded);
}

void LiveTableModel::onReset()
{
    beginResetModel();
    // "时间", "检定点", then "101(℃)" or, with two collectors, "1-101(℃)".
    m_headers = QStringList{QStringLiteral("时间"), QStringLiteral("检定点")};
    const QStringList names = m_session->channelNames();
    const QVector<bool> humidity = m_session->humidityChannels();
    for (int i = 0; i < names.size(); ++i)
        m_headers << names[i] + (humidity.value(i) ? QStringLiteral("(%RH)") : QStringLiteral("(℃)"));
    m_rows = m_session->samples().size();
    endResetModel();
}

void LiveTableModel::onAdded()
{
    const int rows = m_session->samples().size();
    if (rows <= m_rows)
        return;
    beginInsertRows(QModelIndex(), m_rows, rows - 1);
    m_rows = rows;
    endInsertRows();
}

int LiveTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int LiveTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_headers.size();
}

QVariant LiveTableModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_rows)
        return QVariant();
    const acquisition::RunSample &s = m_session->samples().at(index.row());
    switch (index.column()) {
    case 0:
        return s.timeText();
    case 1:
        return acquisition::pointLabel(s.point);
    default: {
        const int j = index.column() - 2;
        return j < s.values.size() ? rtu::formatValue(s.values[j]) : QString();
    }
    }
}

QVariant LiveTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Horizontal)
        return m_headers.value(section);
    return section + 1;
}
