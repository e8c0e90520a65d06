#pragma once

// The live table of the run page: the session's samples as rows, without a
// table item per cell.

#include <QAbstractTableModel>

namespace acquisition {
class RunSession;
}

class LiveTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit LiveTableModel(acquisition::RunSession *session, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    void onReset();
    void onAdded();

    acquisition::RunSession *m_session;
    int m_rows = 0;
    QStringList m_headers;
};
