#include "pages/reports/sampletablemodel.h"

SampleTableModel::SampleTableModel(QObject *parent) : QAbstractTableModel(parent) {}

// A corrupt sample count must not make a table of billions of empty rows.
static constexpr int kMaxRows = 50'000'000;

void SampleTableModel::reset(const storage::RunHeader &header, const results::ChannelLayout &layout)
{
    beginResetModel();
    m_header = header;
    m_headers = results::sampleHeaders(layout);
    m_samples.clear();
    m_samples.squeeze();
    m_limit = qBound(0, header.samplenum.trimmed().toInt(), kMaxRows);
    m_rows = 0;
    m_tem = storage::splitList(header.temset);
    m_hum = storage::splitList(header.humset);
    endResetModel();
}

void SampleTableModel::clear()
{
    beginResetModel();
    m_header = storage::RunHeader();
    m_headers.clear();
    m_samples.clear();
    m_samples.squeeze();
    m_limit = 0;
    m_rows = 0;
    endResetModel();
}

void SampleTableModel::append(const QVector<results::StoredSample> &batch)
{
    if (batch.isEmpty())
        return;
    m_samples += batch;
    const int rows = qMin(m_samples.size(), m_limit);
    if (rows > m_rows) {
        beginInsertRows(QModelIndex(), m_rows, rows - 1);
        m_rows = rows;
        endInsertRows();
    }
}

void SampleTableModel::finish()
{
    if (m_limit > m_rows) {
        beginInsertRows(QModelIndex(), m_rows, m_limit - 1);
        m_rows = m_limit;
        endInsertRows();
    }
}

QString SampleTableModel::cellText(int row, int column) const
{
    if (row < 0 || row >= m_rows || row >= m_samples.size() || column < 0 ||
        column >= m_headers.size())
        return QString();
    const results::StoredSample &s = m_samples[row];
    switch (column) {
    case 0:
        return QString::number(row + 1);
    case 1:
        return results::timeCell(s.coltime);
    case 2: {
        const int k = results::pointNumberOf(s.jdnum);
        if (k < 1 || k > m_tem.size() || k > m_hum.size())
            return QString();
        return m_tem[k - 1] + QStringLiteral("℃  ") + m_hum[k - 1] + QStringLiteral("%RH");
    }
    default:
        return QString::fromUtf8(results::listEntry(s.coldata, column - 3));
    }
}

int SampleTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int SampleTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_headers.size();
}

QVariant SampleTableModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid())
        return QVariant();
    return cellText(index.row(), index.column());
}

QVariant SampleTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Horizontal)
        return m_headers.value(section);
    return section + 1;
}
