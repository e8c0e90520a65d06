#pragma once

// The sample table of the query page: one set of stored texts per sample,
// split into cells only when a cell is painted. Rows arrive in batches while
// a calibration loads.

#include "results/calibration.h"

#include <QAbstractTableModel>

class SampleTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit SampleTableModel(QObject *parent = nullptr);

    // Columns and headers of a calibration; no rows yet.
    void reset(const storage::RunHeader &header, const results::ChannelLayout &layout);
    // Empty: no columns, no rows.
    void clear();
    void append(const QVector<results::StoredSample> &batch);
    // The table has as many rows as the header's sample count; samples
    // beyond it are not shown, rows without a sample stay empty.
    void finish();

    int loadedSamples() const { return m_samples.size(); }
    int shownRows() const { return m_rows; }
    const QVector<results::StoredSample> &samples() const { return m_samples; }
    const storage::RunHeader &header() const { return m_header; }
    QString cellText(int row, int column) const;
    QStringList headerTexts() const { return m_headers; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    storage::RunHeader m_header;
    QStringList m_headers;
    QVector<results::StoredSample> m_samples;
    int m_limit = 0; // the header's sample count
    int m_rows = 0;
    results::SampleTableText m_text{storage::RunHeader()};
};
