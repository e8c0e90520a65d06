#pragma once

#include "storage/statements.h"

#include <QWidget>
#include <memory>

namespace Ui {
class Form1;
}
namespace rtu {
class Exchange;
struct Reply;
}
class BusyGuard;
class QLineEdit;

// The register of data collectors, the port scan that reads a collector's
// serial number, and the choice of the collector later runs use.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

private slots:
    void on_pushButton_clicked();   // scan
    void on_pushButton_2_clicked(); // refresh ports
    void on_pushButton_3_clicked(); // save
    void on_pushButton_4_clicked(); // modify
    void on_pushButton_8_clicked(); // delete
    void on_pushButton_5_clicked(); // clear all
    void on_pushButton_6_clicked(); // select
    void on_pushButton_7_clicked(); // close
    void on_twshow_cellClicked(int row, int column);

private:
    storage::Collector fieldsRecord() const;
    storage::CollectorExtra fieldsExtra() const;
    QList<QLineEdit *> measurementFields() const; // lineEdit_4 .. lineEdit_12
    void loadList();
    // The scan: the port is given a moment, then asked for the serial number.
    void sendIdentify();
    void onScanReply(const rtu::Reply &reply);
    void finishScan(const QString &message); // empty: cancelled, nothing to say

    Ui::Form1 *ui;
    std::unique_ptr<rtu::Exchange> m_scan; // exists only during a scan
    std::unique_ptr<BusyGuard> m_guard;
    QString m_scanPort;
};
