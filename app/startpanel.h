#pragma once

// What the empty main window shows: the six steps of a calibration, each
// marked done when its data exists, each a button to its page.

#include <QWidget>
#include <vector>

class QLabel;
class QPushButton;

class StartPanel : public QWidget
{
    Q_OBJECT

public:
    explicit StartPanel(QWidget *parent = nullptr);
    // Reads the database again and marks the steps.
    void refresh();
    // For tests: whether step `index` (0..5) is marked done.
    bool stepDone(int index) const;

signals:
    // The toolbar action that opens step `index`'s page, by object name.
    void openPage(const QString &action);

private:
    struct Step
    {
        QLabel *mark;
        QLabel *detail;
        QPushButton *button;
        bool done = false;
    };
    std::vector<Step> m_steps;
};
