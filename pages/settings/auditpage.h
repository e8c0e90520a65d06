#pragma once

// 审计记录: the trail with filters (operator, object, time), whether its
// chain is whole, and the rows shown exported as a workbook.

#include "storage/statements.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QTableWidget;

class AuditPage : public QWidget
{
    Q_OBJECT

public:
    explicit AuditPage(QWidget *parent = nullptr);

    void refresh();

private:
    void exportRows();

    QLineEdit *m_operator = nullptr, *m_object = nullptr, *m_from = nullptr, *m_to = nullptr;
    QLabel *m_check = nullptr;
    QTableWidget *m_table = nullptr;
    QList<storage::AuditRow> m_rows;
    QString m_checkText;
};
