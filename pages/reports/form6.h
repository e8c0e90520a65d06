#pragma once

#include <QWidget>

// Data query page: the calibration browser and its exports are not built yet;
// the page says so instead of pretending to work.
class Form6 : public QWidget
{
    Q_OBJECT

public:
    explicit Form6(QWidget *parent = nullptr);
};
