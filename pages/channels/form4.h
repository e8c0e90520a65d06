#pragma once

#include <QWidget>

namespace Ui {
class Form4;
}

// Batch setting of the configuration values of the selected channels. The
// choices are shaped so the emitted values fit the probe type.
class Form4 : public QWidget
{
    Q_OBJECT

public:
    explicit Form4(QWidget *parent = nullptr);
    ~Form4() override;

signals:
    void sendData(const QString &data1, const QString &data2, const QString &data3,
                  const QString &data4, const QString &data5, const QString &data6,
                  const QString &data7, const QString &data8, const QString &data9,
                  const QString &data10, const QString &data11, const QString &data12,
                  const QString &data13);

private slots:
    void on_comboBox_2_currentTextChanged(const QString &arg1);
    void on_comboBox_3_currentTextChanged(const QString &arg1);
    void on_comboBox_4_currentTextChanged(const QString &arg1);
    void on_pushButton_2_clicked();
    void on_pushButton_clicked();

private:
    Ui::Form4 *ui;
};
