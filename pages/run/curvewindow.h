#pragma once

// The curve window: every channel of the run over time, temperature and
// humidity each in a pane of its own with its own axis, the set values as
// reference lines, the last 10 minutes / hour / whole run, a read-out of the
// reading under the mouse and a channel highlighted by a click. Drawn from
// the monitor's readings decimated to min/max per pixel column, repainted at
// most 25 times a second.

#include <QWidget>

namespace acquisition {
class RunMonitor;
}
class QComboBox;
class QLabel;
class QListWidget;
class QTimer;

class CurvePlot : public QWidget
{
    Q_OBJECT

public:
    enum class Span { TenMinutes, OneHour, WholeRun };
    explicit CurvePlot(const acquisition::RunMonitor *monitor, QWidget *parent = nullptr);

    void setSpan(Span span);
    Span span() const { return m_span; }
    void setHighlighted(int channel); // -1: none
    int highlighted() const { return m_highlight; }
    // The colour of a channel's curve.
    static QColor colour(int channel);
    // The time range drawn now, milliseconds since the epoch.
    QPair<qint64, qint64> timeRange() const;

signals:
    void hovered(const QString &text);
    void channelClicked(int channel);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    struct Pane
    {
        bool humidity = false;
        QRectF rect; // the plot area
        double y0 = 0, y1 = 1;
    };
    QVector<Pane> panes() const;
    void layoutPane(Pane &pane, qint64 t0, qint64 t1) const;
    // With the data's range `lo`..`hi` already known.
    void layoutPane(Pane &pane, qint64 t0, qint64 t1, double lo, double hi) const;
    int nearestChannel(const Pane &pane, qint64 t, double y, int *sample) const;
    // The channel nearest to a point of the pane.
    int channelAt(Pane &pane, QPair<qint64, qint64> range, const QPoint &at, int *sample) const;

    const acquisition::RunMonitor *m_monitor;
    Span m_span = Span::WholeRun;
    int m_highlight = -1;
};

class CurveWindow : public QWidget
{
    Q_OBJECT

public:
    explicit CurveWindow(const acquisition::RunMonitor *monitor, QWidget *parent = nullptr);
    CurvePlot *plot() const { return m_plot; }
    int seriesCount() const;
    // Brings out one channel's curve (its legend row selected); -1: none.
    void highlightChannel(int channel);
    // Places the window beside `page`'s top-level window, on its screen or
    // the next one.
    void placeBeside(QWidget *page);

private:
    void onData();
    void refreshLegend();

    const acquisition::RunMonitor *m_monitor;
    CurvePlot *m_plot;
    QComboBox *m_span;
    QLabel *m_readout;
    QListWidget *m_legend;
    QTimer *m_repaint;
};
