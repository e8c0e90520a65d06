#pragma once

#include "results/chamber.h"

#include <QPointF>
#include <QWidget>

// The working space drawn as an isometric box with its three planes, each
// located channel a dot colored by its mean deviation from the set value
// (one diverging scale, its legend beside), the hottest and coldest
// marked, the centre ringed. A click on a dot names its channel.
class ChamberView : public QWidget
{
    Q_OBJECT

public:
    explicit ChamberView(QWidget *parent = nullptr);

    void setPicture(const results::ChamberLayout &layout, const results::ChamberPicture &picture,
                    const QString &unit);
    const results::ChamberPicture &picture() const { return m_picture; }
    // Where dot `index` is drawn, in the widget's coordinates.
    QPointF dotCentre(int index) const;
    // The dot under `at`; -1 for none.
    int dotAt(const QPointF &at) const;
    QSize sizeHint() const override { return QSize(640, 460); }

signals:
    void channelClicked(const QString &channel);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    // The drawing area (the legend takes the right).
    QRectF boxArea() const;
    QPointF project(double x, double y, double z) const;

    results::ChamberLayout m_layout;
    results::ChamberPicture m_picture;
    QString m_unit;
};

class QComboBox;

// The picture in a window of its own, with the kind (and, for a processed
// calibration, the point) chosen above it, and what it is drawn against:
// the layout and each collector's channel locations.
class ChamberWindow : public QWidget
{
    Q_OBJECT

public:
    // `points`: a choice of point is offered (setPoints fills it).
    ChamberWindow(const QString &title, bool points, QWidget *parent = nullptr);

    ChamberView *view() const { return m_view; }
    void setPoints(int count);
    int point() const; // 1-based; 0 without a choice of point
    bool humidity() const;
    results::Kind kind() const;

    void setLayout(const results::ChamberLayout &layout, const QMap<QString, QString> &locationsA,
                   const QMap<QString, QString> &locationsB);
    const results::ChamberLayout &chamberLayout() const { return m_layout; }
    const QMap<QString, QString> &locationsA() const { return m_locationsA; }
    const QMap<QString, QString> &locationsB() const { return m_locationsB; }
    // Draws `picture` against the layout, in the kind's unit.
    void showPicture(const results::ChamberPicture &picture);

signals:
    void choiceChanged();

private:
    ChamberView *m_view;
    QComboBox *m_point = nullptr, *m_kind;
    results::ChamberLayout m_layout;
    QMap<QString, QString> m_locationsA, m_locationsB;
};

