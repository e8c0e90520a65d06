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
