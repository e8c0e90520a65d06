#include "office/chamberdrawing.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>

namespace office {

void drawWorkingSpace(QPainter &p, const results::ChamberProjection &at,
                      const results::ChamberLayout &layout, const QPen &edges, QPen planes)
{
    p.setPen(edges);
    for (int from = 0; from < 8; ++from)
        for (int bit : {1, 2, 4})
            if (!(from & bit)) {
                const int to = from | bit;
                p.drawLine(at(from & 1, (from >> 1) & 1, (from >> 2) & 1),
                           at(to & 1, (to >> 1) & 1, (to >> 2) & 1));
            }
    QList<double> heights;
    for (const storage::Location &l : layout.locations)
        if (!heights.contains(l.z))
            heights << l.z;
    planes.setStyle(Qt::DashLine);
    p.setPen(planes);
    p.setBrush(Qt::NoBrush);
    for (double z : heights) {
        QPolygonF plane;
        plane << at(0, 0, z) << at(1, 0, z) << at(1, 1, z) << at(0, 1, z);
        p.drawPolygon(plane);
    }
}

QByteArray layoutDrawingPng(const results::ChamberLayout &layout, const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        const double unit = size.width() / 100.0; // everything in proportion
        const results::ChamberProjection at(
            layout, QRectF(QPointF(8 * unit, 6 * unit),
                           QSizeF(size.width() - 16 * unit, size.height() - 12 * unit)));
        drawWorkingSpace(p, at, layout, QPen(Qt::black, 0.25 * unit),
                         QPen(QColor(120, 120, 120), 0.2 * unit));
        QFont font(QStringLiteral("Noto Sans CJK SC"));
        font.setPixelSize(int(3.2 * unit));
        p.setFont(font);
        for (const storage::Location &l : layout.locations) {
            const QPointF c = at(l.x, l.y, l.z);
            p.setPen(QPen(Qt::black, 0.25 * unit));
            p.setBrush(Qt::black);
            p.drawEllipse(c, 1.1 * unit, 1.1 * unit);
            if (l.name == layout.centre) {
                p.setBrush(Qt::NoBrush);
                p.drawEllipse(c, 2.2 * unit, 2.2 * unit);
            }
            p.drawText(c + QPointF(2.6 * unit, 1.2 * unit), l.name);
        }
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

} // namespace office
