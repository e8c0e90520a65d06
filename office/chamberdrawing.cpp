#include "office/chamberdrawing.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>

namespace office {

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
        p.setPen(QPen(Qt::black, 0.25 * unit));
        for (int from = 0; from < 8; ++from)
            for (int bit : {1, 2, 4})
                if (!(from & bit)) {
                    const int to = from | bit;
                    p.drawLine(at(from & 1, (from >> 1) & 1, (from >> 2) & 1),
                               at(to & 1, (to >> 1) & 1, (to >> 2) & 1));
                }
        QList<double> planes;
        for (const storage::Location &l : layout.locations)
            if (!planes.contains(l.z))
                planes << l.z;
        p.setPen(QPen(QColor(120, 120, 120), 0.2 * unit, Qt::DashLine));
        for (double z : planes) {
            QPolygonF plane;
            plane << at(0, 0, z) << at(1, 0, z) << at(1, 1, z) << at(0, 1, z);
            p.drawPolygon(plane);
        }
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
