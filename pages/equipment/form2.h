#pragma once

#include "storage/statements.h"

#include <QVector>
#include <QWidget>

namespace Ui {
class Form2;
}
class QLineEdit;

// The register of equipment under calibration with its calibration points,
// the ambient conditions, and the choice of the equipment later runs use.
class Form2 : public QWidget
{
    Q_OBJECT

public:
    explicit Form2(QWidget *parent = nullptr);
    ~Form2() override;

private slots:
    void on_pushButton_clicked();   // save
    void on_pushButton_locations_clicked();
    void on_pushButton_2_clicked(); // modify
    void on_pushButton_7_clicked(); // delete
    void on_pushButton_3_clicked(); // clear all
    void on_pushButton_4_clicked(); // select
    void on_pushButton_6_clicked(); // close
    void on_twdetail_cellClicked(int row, int column);
    void on_lineEdit_14_textChanged(const QString &arg1);
    void on_comboBox_2_currentTextChanged(const QString &arg1);

public:
    // "名称 x y z; …" as the own-locations field takes it.
    // "名称 x y z; …" in metres from the working space's front left bottom
    // corner when its width, depth and height are all given (`space`),
    // otherwise as fractions 0–1 of them; kept as fractions.
    static base::Result<QList<storage::Location>> parseLocations(const QString &text,
                                                                 const QVector<double> &space = {});
    static QString locationsText(const QList<storage::Location> &locations,
                                 const QVector<double> &space = {});

private:
    storage::Equipment fieldsRecord() const;
    storage::EquipmentExtra fieldsExtra() const;
    void showExtra(const storage::EquipmentExtra &extra);
    void showVolume();
    QList<storage::Location> m_ownLocations;
    bool countIsStorable();
    void refreshList();
    void layoutGrid(int points);
    QString gridText(int row, int column) const;
    void setGridText(int row, int column, const QString &text);

    Ui::Form2 *ui;
};
