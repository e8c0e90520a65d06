#pragma once

#include <QWidget>

namespace Ui {
class Form5;
}
class QLineEdit;

// The organisation's own details, printed on certificates.
class Form5 : public QWidget
{
    Q_OBJECT

public:
    explicit Form5(QWidget *parent = nullptr);
    ~Form5() override;

private slots:
    void on_pushButton_clicked();
    void on_pushButton_2_clicked();
    void on_pushButton_3_clicked();

private:
    QList<QLineEdit *> fields() const;

    Ui::Form5 *ui;
};
