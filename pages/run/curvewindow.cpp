#include "pages/run/curvewindow.h"

#include "acquisition/runmonitor.h"
#include "results/axis.h"

#include <QComboBox>
#include <QDateTime>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

using acquisition::CurveStore;

static constexpr int kLeft = 58, kRight = 12, kTop = 22, kBottom = 26, kGap = 50;

CurvePlot::CurvePlot(const acquisition::RunMonitor *monitor, QWidget *parent)
    : QWidget(parent), m_monitor(monitor)
{
    setMouseTracking(true);
    setMinimumSize(400, 260);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QColor CurvePlot::colour(int channel)
{
    // Hues spread by the golden angle, two brightnesses.
    const int hue = int(std::fmod(channel * 137.508, 360.0));
    return QColor::fromHsv(hue, 200, channel % 2 ? 170 : 215);
}

void CurvePlot::setSpan(Span span)
{
    m_span = span;
    update();
}

void CurvePlot::setHighlighted(int channel)
{
    m_highlight = channel;
    update();
}

QPair<qint64, qint64> CurvePlot::timeRange() const
{
    const CurveStore &c = m_monitor->curves();
    if (c.samples() == 0)
        return {0, 0};
    const qint64 last = c.time(c.samples() - 1);
    qint64 first = c.time(0);
    if (m_span == Span::TenMinutes)
        first = qMax(first, last - 10 * 60 * 1000);
    else if (m_span == Span::OneHour)
        first = qMax(first, last - 60 * 60 * 1000);
    if (last - first < 10000)
        first = last - 10000; // at least ten seconds wide
    return {first, last};
}

QVector<CurvePlot::Pane> CurvePlot::panes() const
{
    const CurveStore &c = m_monitor->curves();
    bool t = false, h = false;
    for (int i = 0; i < c.channels(); ++i)
        (c.kind(i) == results::Kind::Humidity ? h : t) = true;
    QVector<Pane> out;
    if (t)
        out << Pane{false, {}, 0, 1};
    if (h)
        out << Pane{true, {}, 0, 1};
    if (out.isEmpty())
        out << Pane{false, {}, 0, 1};
    const double height = (this->height() - kTop - kBottom - kGap * (out.size() - 1)) / out.size();
    for (int i = 0; i < out.size(); ++i)
        out[i].rect = QRectF(kLeft, kTop + i * (height + kGap), width() - kLeft - kRight, height);
    return out;
}

void CurvePlot::layoutPane(Pane &pane, qint64 t0, qint64 t1) const
{
    const CurveStore &c = m_monitor->curves();
    double lo = INFINITY, hi = -INFINITY;
    const int columns = qMax(1, int(pane.rect.width()));
    for (int ch = 0; ch < c.channels(); ++ch) {
        if ((c.kind(ch) == results::Kind::Humidity) != pane.humidity)
            continue;
        for (const CurveStore::Column &col : c.decimate(ch, t0, t1, columns))
            if (col.any()) {
                lo = std::min(lo, double(col.min));
                hi = std::max(hi, double(col.max));
            }
    }
    layoutPane(pane, t0, t1, lo, hi);
}

void CurvePlot::layoutPane(Pane &pane, qint64 t0, qint64 t1, double lo, double hi) const
{
    const CurveStore &c = m_monitor->curves();
    const int from = c.lowerBound(t0), to = c.upperBound(t1);
    // The set values of the points shown are in range too.
    for (int i = from; i < to; ++i) {
        if (i > from && c.point(i) == c.point(i - 1))
            continue;
        const double set = m_monitor->setValue(pane.humidity, c.point(i));
        if (!std::isnan(set)) {
            lo = std::min(lo, set);
            hi = std::max(hi, set);
        }
    }
    if (!std::isfinite(lo)) {
        lo = 0;
        hi = pane.humidity ? 100 : 50;
    }
    // Round bounds, the ticks on 1-2-5 steps; a curve never runs along the frame.
    const double margin = (hi - lo) * 0.02;
    const results::ValueTicks ticks = results::valueTicks(lo - margin, hi + margin);
    pane.y0 = ticks.first;
    pane.y1 = ticks.last;
}

void CurvePlot::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const CurveStore &c = m_monitor->curves();
    const QPair<qint64, qint64> range = timeRange();
    const qint64 t0 = range.first, t1 = range.second;
    QVector<Pane> list = panes();
    const QFontMetrics fm(font());
    for (Pane &pane : list) {
        // Every channel of the pane decimated once; the axis range comes from
        // the columns.
        const int columns = qMax(1, int(pane.rect.width()));
        QVector<QVector<CurveStore::Column>> decimated(c.channels());
        double lo = INFINITY, hi = -INFINITY;
        for (int ch = 0; ch < c.channels(); ++ch) {
            if ((c.kind(ch) == results::Kind::Humidity) != pane.humidity)
                continue;
            decimated[ch] = c.decimate(ch, t0, t1, columns);
            for (const CurveStore::Column &col : decimated[ch])
                if (col.any()) {
                    lo = std::min(lo, double(col.min));
                    hi = std::max(hi, double(col.max));
                }
        }
        layoutPane(pane, t0, t1, lo, hi);
        const QRectF r = pane.rect;
        auto yOf = [&](double v) {
            return r.bottom() - (v - pane.y0) / (pane.y1 - pane.y0) * r.height();
        };
        auto xOf = [&](qint64 t) {
            return r.left() + double(t - t0) / double(qMax<qint64>(1, t1 - t0)) * r.width();
        };
        // Frame, grid and axis labels, at round values and whole seconds or minutes.
        const results::ValueTicks ticks = results::valueTicks(pane.y0, pane.y1);
        qint64 timeStep = 0;
        const QVector<qint64> times =
            t1 > t0 ? results::timeTicks(t0, t1, 5, &timeStep) : QVector<qint64>();
        p.setPen(QColor(225, 225, 225));
        for (double v : ticks.values)
            p.drawLine(QPointF(r.left(), yOf(v)), QPointF(r.right(), yOf(v)));
        for (qint64 t : times)
            p.drawLine(QPointF(xOf(t), r.top()), QPointF(xOf(t), r.bottom()));
        p.setPen(Qt::black);
        p.drawRect(r);
        for (double v : ticks.values)
            p.drawText(QRectF(0, yOf(v) - 8, kLeft - 4, 16), Qt::AlignRight | Qt::AlignVCenter,
                       QString::number(v, 'f', ticks.decimals));
        p.drawText(QRectF(r.left(), r.top() - kTop + 2, r.width(), kTop - 4), Qt::AlignLeft,
                   pane.humidity ? QStringLiteral("湿度 (%RH)") : QStringLiteral("温度 (℃)"));
        const QString timeFormat =
            timeStep < 60000 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm");
        for (qint64 t : times) {
            const QString label = QDateTime::fromMSecsSinceEpoch(t).toString(timeFormat);
            const int w = fm.horizontalAdvance(label);
            p.drawText(QPointF(qBound(0.0, xOf(t) - w / 2.0, double(width() - w)),
                               r.bottom() + fm.ascent() + 4),
                       label);
        }
        if (c.samples() == 0)
            continue;
        p.save();
        p.setClipRect(r.adjusted(1, 1, -1, -1));
        // Set values: one dashed segment per point shown.
        p.setPen(QPen(QColor(90, 90, 90), 1, Qt::DashLine));
        const int from = c.lowerBound(t0), to = c.upperBound(t1);
        for (int i = from; i < to;) {
            int j = i;
            while (j + 1 < to && c.point(j + 1) == c.point(i))
                ++j;
            const double set = m_monitor->setValue(pane.humidity, c.point(i));
            if (!std::isnan(set))
                p.drawLine(QPointF(xOf(c.time(i)), yOf(set)), QPointF(xOf(c.time(j)), yOf(set)));
            i = j + 1;
        }
        // Where the point became stable.
        const qint64 stable = m_monitor->state().stableSince;
        if (stable > 0 && stable >= t0) {
            // At the right edge (stable since the newest sample) it stays in sight.
            const double x = qMin(xOf(stable), r.right() - 2);
            p.setPen(QPen(QColor(30, 140, 60), 1.5, Qt::DashLine));
            p.drawLine(QPointF(x, r.top()), QPointF(x, r.bottom()));
            const int w = fm.horizontalAdvance(QStringLiteral("稳定"));
            p.drawText(QPointF(x + 3 + w > r.right() ? x - w - 3 : x + 3, r.top() + fm.ascent() + 2),
                       QStringLiteral("稳定"));
        }
        // The curves, min and max of each pixel column. Every channel but a
        // highlighted one is a vertical span per column, joined to the
        // column before, written straight into one layer: a hundred curves
        // of a thousand columns cost no more than a blit.
        const int layerW = int(r.width()), layerH = int(r.height());
        if (layerW > 2 && layerH > 2) {
            QImage layer(layerW, layerH, QImage::Format_ARGB32_Premultiplied);
            layer.fill(Qt::transparent);
            uchar *const bits = layer.bits();
            const qsizetype stride = layer.bytesPerLine();
            const double top = r.top();
            for (int ch = 0; ch < c.channels(); ++ch) {
                if ((c.kind(ch) == results::Kind::Humidity) != pane.humidity || ch == m_highlight)
                    continue;
                const int alpha = m_highlight >= 0 ? 70 : 255;
                const QColor colour = CurvePlot::colour(ch);
                const quint32 src =
                    qPremultiply(qRgba(colour.red(), colour.green(), colour.blue(), alpha));
                const QVector<CurveStore::Column> &cols = decimated[ch];
                auto span = [&](int x, double from, double to) {
                    if (x < 1 || x > layerW - 2)
                        return;
                    const int y0 = qMax(1, int(std::lround(qMin(from, to))));
                    const int y1 = qMin(layerH - 2, int(std::lround(qMax(from, to))));
                    const quint32 keep = quint32(255 - alpha);
                    for (int y = y0; y <= y1; ++y) {
                        quint32 *px = reinterpret_cast<quint32 *>(bits + y * stride) + x;
                        if (keep == 0) {
                            *px = src;
                            continue;
                        }
                        const quint32 d = *px;
                        quint32 out = 0;
                        for (int shift = 0; shift < 32; shift += 8)
                            out |= ((((d >> shift) & 0xff) * keep / 255 + ((src >> shift) & 0xff)) &
                                    0xff)
                                   << shift;
                        *px = out;
                    }
                };
                // Columns without a reading are crossed by the straight line
                // from the last reading to the next, a span per column.
                int prevX = -1;
                double prevEnd = 0;
                const int n = qMin(layerW, int(cols.size()));
                for (int x = 0; x < n; ++x) {
                    if (!cols[x].any())
                        continue;
                    const double yMin = yOf(cols[x].min) - top, yMax = yOf(cols[x].max) - top;
                    double from = yMax, to = yMin;
                    if (prevX >= 0) {
                        const double gap = x - prevX;
                        for (int xi = prevX + 1; xi < x; ++xi)
                            span(xi, prevEnd + (yMin - prevEnd) * (xi - 1 - prevX) / gap,
                                 prevEnd + (yMin - prevEnd) * (xi - prevX) / gap);
                        const double join = prevEnd + (yMin - prevEnd) * (gap - 1) / gap;
                        from = qMin(from, qMin(join, yMin));
                        to = qMax(to, qMax(join, yMin));
                    }
                    span(x, from, to);
                    prevX = x;
                    prevEnd = cols[x].max != cols[x].min ? yMax : yMin;
                }
            }
            p.drawImage(QPointF(r.left(), top), layer);
        }
        // The highlighted channel on top, thicker.
        if (m_highlight >= 0 && m_highlight < c.channels() &&
            (c.kind(m_highlight) == results::Kind::Humidity) == pane.humidity) {
            const QVector<CurveStore::Column> &cols = decimated[m_highlight];
            QPolygonF line;
            line.reserve(columns * 2);
            for (int x = 0; x < cols.size(); ++x) {
                if (!cols[x].any())
                    continue;
                const double px = r.left() + x + 0.5;
                line << QPointF(px, yOf(cols[x].min));
                if (cols[x].max != cols[x].min)
                    line << QPointF(px, yOf(cols[x].max));
            }
            QPen pen(CurvePlot::colour(m_highlight), 2.5);
            pen.setCosmetic(true);
            p.setPen(pen);
            p.drawPolyline(line);
        }
        p.restore();
    }
}

int CurvePlot::channelAt(Pane &pane, QPair<qint64, qint64> range, const QPoint &at,
                         int *sample) const
{
    layoutPane(pane, range.first, range.second);
    const qint64 t = range.first + qint64((at.x() - pane.rect.left()) / pane.rect.width() *
                                          double(range.second - range.first));
    return nearestChannel(pane, t, at.y(), sample);
}

int CurvePlot::nearestChannel(const Pane &pane, qint64 t, double y, int *sample) const
{
    const CurveStore &c = m_monitor->curves();
    int i = c.lowerBound(t);
    if (i >= c.samples())
        i = c.samples() - 1;
    if (i > 0 && qAbs(c.time(i - 1) - t) < qAbs(c.time(i) - t))
        --i;
    *sample = i;
    int best = -1;
    double bestDistance = INFINITY;
    for (int ch = 0; ch < c.channels(); ++ch) {
        if ((c.kind(ch) == results::Kind::Humidity) != pane.humidity || i < 0)
            continue;
        const float v = c.value(ch, i);
        if (std::isnan(v))
            continue;
        const double yy =
            pane.rect.bottom() - (v - pane.y0) / (pane.y1 - pane.y0) * pane.rect.height();
        if (qAbs(yy - y) < bestDistance) {
            bestDistance = qAbs(yy - y);
            best = ch;
        }
    }
    return best;
}

void CurvePlot::mouseMoveEvent(QMouseEvent *event)
{
    const CurveStore &c = m_monitor->curves();
    const QPair<qint64, qint64> range = timeRange();
    QVector<Pane> list = panes();
    for (Pane &pane : list) {
        if (!pane.rect.contains(event->pos()) || c.samples() == 0)
            continue;
        int sample = -1;
        const int ch = channelAt(pane, range, event->pos(), &sample);
        if (ch >= 0) {
            emit hovered(
                QStringLiteral("%1  %2  %3 %4")
                    .arg(c.names().value(ch), QDateTime::fromMSecsSinceEpoch(c.time(sample))
                                                  .toString(QStringLiteral("HH:mm:ss")))
                    .arg(double(c.value(ch, sample)), 0, 'f', 3)
                    .arg(pane.humidity ? QStringLiteral("%RH") : QStringLiteral("℃")));
            return;
        }
    }
    emit hovered(QString());
}

void CurvePlot::mousePressEvent(QMouseEvent *event)
{
    const QPair<qint64, qint64> range = timeRange();
    QVector<Pane> list = panes();
    for (Pane &pane : list) {
        if (!pane.rect.contains(event->pos()))
            continue;
        int sample = -1;
        const int ch = channelAt(pane, range, event->pos(), &sample);
        setHighlighted(ch == m_highlight ? -1 : ch);
        emit channelClicked(m_highlight);
        return;
    }
}

void CurvePlot::leaveEvent(QEvent *)
{
    emit hovered(QString());
}

CurveWindow::CurveWindow(const acquisition::RunMonitor *monitor, QWidget *parent)
    : QWidget(parent, Qt::Window), m_monitor(monitor), m_plot(new CurvePlot(monitor, this)),
      m_span(new QComboBox(this)), m_readout(new QLabel(this)), m_legend(new QListWidget(this)),
      m_repaint(new QTimer(this))
{
    setObjectName(QStringLiteral("CurveWindow"));
    setWindowTitle(QStringLiteral("曲线"));
    resize(1000, 640);
    m_span->setObjectName(QStringLiteral("comboBox_span"));
    m_span->addItems({QStringLiteral("最近 10 分钟"), QStringLiteral("最近 1 小时"),
                      QStringLiteral("整个校准")});
    m_span->setCurrentIndex(2);
    m_legend->setObjectName(QStringLiteral("listWidget_legend"));
    m_legend->setMaximumWidth(130);
    m_readout->setObjectName(QStringLiteral("label_readout"));
    m_readout->setMinimumWidth(300);
    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("显示："), this));
    top->addWidget(m_span);
    top->addSpacing(20);
    top->addWidget(m_readout, 1);
    // Without a window manager (Xvfb, VNC) the window has no frame to close it by.
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("pushButton_close"));
    top->addWidget(close);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    auto *middle = new QHBoxLayout;
    middle->addWidget(m_plot, 1);
    middle->addWidget(m_legend);
    auto *all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addLayout(middle, 1);

    connect(m_span, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this](int i) { m_plot->setSpan(static_cast<CurvePlot::Span>(i)); });
    connect(m_plot, &CurvePlot::hovered, m_readout, &QLabel::setText);
    connect(m_plot, &CurvePlot::channelClicked, this, [this](int ch) {
        m_legend->setCurrentRow(ch);
        if (ch < 0)
            m_legend->clearSelection();
    });
    connect(m_legend, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        const int row = m_legend->row(item);
        m_plot->setHighlighted(row == m_plot->highlighted() ? -1 : row);
    });
    // New data repaints at most every 40 ms.
    m_repaint->setSingleShot(true);
    m_repaint->setInterval(40);
    connect(m_repaint, &QTimer::timeout, m_plot, QOverload<>::of(&QWidget::update));
    connect(monitor, &acquisition::RunMonitor::curvesChanged, this, &CurveWindow::onData);
    refreshLegend();
}

int CurveWindow::seriesCount() const
{
    return m_legend->count();
}

void CurveWindow::highlightChannel(int channel)
{
    m_plot->setHighlighted(channel);
    m_legend->setCurrentRow(channel);
    if (channel < 0)
        m_legend->clearSelection();
}

void CurveWindow::onData()
{
    if (m_legend->count() != m_monitor->curves().channels())
        refreshLegend();
    if (!m_repaint->isActive())
        m_repaint->start();
}

void CurveWindow::refreshLegend()
{
    m_legend->clear();
    const acquisition::CurveStore &c = m_monitor->curves();
    for (int ch = 0; ch < c.channels(); ++ch) {
        QPixmap swatch(14, 4);
        swatch.fill(CurvePlot::colour(ch));
        auto *item = new QListWidgetItem(QIcon(swatch), c.names().value(ch), m_legend);
        item->setToolTip(c.kind(ch) == results::Kind::Humidity ? QStringLiteral("湿度通道")
                                                               : QStringLiteral("温度通道"));
    }
    m_plot->update();
}

void CurveWindow::placeBeside(QWidget *page)
{
    QWidget *window = page ? page->window() : nullptr;
    if (!window)
        return;
    const QRect frame = window->frameGeometry();
    const QList<QScreen *> screens = QGuiApplication::screens();
    QScreen *own = window->screen();
    // Another screen if there is one (two screens are common in labs),
    // else to the right of the main window, else over its right part.
    for (QScreen *s : screens) {
        if (s != own) {
            const QRect a = s->availableGeometry();
            move(a.topLeft() + QPoint(20, 20));
            resize(qMin(width(), a.width() - 40), qMin(height(), a.height() - 40));
            return;
        }
    }
    const QRect a = own ? own->availableGeometry() : QRect(0, 0, 1920, 1080);
    if (frame.right() + width() <= a.right())
        move(frame.right() + 1, frame.top());
    else
        move(qMax(a.left(), a.right() - width()), frame.top() + 40);
}
