#pragma once

// The live panel's settings: the stability window and limits, and after how
// many silent ticks a collector raises the alarm. Kept per user.

#include "acquisition/runmonitor.h"

#include <QDialog>

class QDoubleSpinBox;
class QSpinBox;

class StabilityDialog : public QDialog
{
    Q_OBJECT

public:
    explicit StabilityDialog(acquisition::RunMonitor *monitor, QWidget *parent = nullptr);

private:
    void apply();

    acquisition::RunMonitor *m_monitor;
    QDoubleSpinBox *m_window, *m_limitT, *m_limitH;
    QSpinBox *m_samples, *m_misses;
};
