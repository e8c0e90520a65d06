#include "pages/reports/sampletablemodel.h"

SampleTableModel::SampleTableModel(QObject *parent) : QAbstractTableModel(parent) {}

void SampleTableModel::reset(const storage::RunHeader &header, const results::ChannelLayout &layout)
{
    beginResetModel();
    m_header = header;
    m_headers = results::sampleHeaders(layout);
    m_samples.clear();
    m_samples.squeeze();
    m_text = results::SampleTableText(header);
    m_limit = m_text.rows();
    m_rows = 0;
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
    m_text = results::SampleTableText(storage::RunHeader());
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
    if (row >= m_rows || column >= m_headers.size())
        return QString();
    return m_text.cell(m_samples, row, column);
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
