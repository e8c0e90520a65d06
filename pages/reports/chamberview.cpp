#include "pages/reports/chamberview.h"

#include "office/chamberdrawing.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>
#include <algorithm>
#include <numeric>

namespace {

constexpr double kDot = 9;       // radius
constexpr double kLegendW = 110; // the legend's strip on the right

QColor colorOf(const results::Rgb &c)
{
    return QColor(c.r, c.g, c.b);
}

} // namespace

ChamberView::ChamberView(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(420, 320);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
}

void ChamberView::setPicture(const results::ChamberLayout &layout,
                             const results::ChamberPicture &picture, const QString &unit)
{
    m_layout = layout;
    m_picture = picture;
    m_unit = unit;
    update();
}

QRectF ChamberView::boxArea() const
{
    return QRectF(20, 20, width() - kLegendW - 40, height() - 40);
}

QPointF ChamberView::project(double x, double y, double z) const
{
    return results::ChamberProjection(m_layout, boxArea().adjusted(30, 20, -30, -20))(x, y, z);
}

QPointF ChamberView::dotCentre(int index) const
{
    const storage::Location &l = m_picture.dots.value(index).at;
    return project(l.x, l.y, l.z);
}

int ChamberView::dotAt(const QPointF &at) const
{
    for (int i = 0; i < m_picture.dots.size(); ++i)
        if (QLineF(at, dotCentre(i)).length() <= kDot + 2)
            return i;
    return -1;
}

void ChamberView::mousePressEvent(QMouseEvent *event)
{
    const int i = dotAt(event->pos());
    if (i >= 0)
        emit channelClicked(m_picture.dots[i].channel);
}

void ChamberView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (m_layout.isEmpty()) {
        p.drawText(rect(), Qt::AlignCenter,
                   QStringLiteral("这次校准没有记录布点（在“试验设备”页面选择布点，在通道页面给每个通道选位置）"));
        return;
    }
    const results::ChamberProjection at(m_layout, boxArea().adjusted(30, 20, -30, -20));
    office::drawWorkingSpace(p, at, m_layout, QPen(QColor(150, 150, 150), 1),
                             QPen(QColor(190, 190, 190), 1));
    // Locations without a channel, faint.
    p.setPen(QPen(QColor(190, 190, 190), 1));
    for (const storage::Location &l : m_layout.locations)
        p.drawEllipse(project(l.x, l.y, l.z), 3, 3);
    // The dots, far ones first.
    QVector<int> order(m_picture.dots.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        return dotCentre(a).y() < dotCentre(b).y();
    });
    QFont small = font();
    small.setPointSizeF(font().pointSizeF() * 0.85);
    p.setFont(small);
    for (int i : order) {
        const results::ChamberDot &d = m_picture.dots[i];
        const QPointF c = dotCentre(i);
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(colorOf(d.color));
        p.drawEllipse(c, kDot, kDot);
        if (d.centre) {
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(Qt::black, 2));
            p.drawEllipse(c, kDot + 5, kDot + 5);
        }
        QString label = d.location;
        if (std::isfinite(d.deviation))
            label += QStringLiteral(" %1%2")
                         .arg(d.deviation >= 0 ? QStringLiteral("+") : QString())
                         .arg(d.deviation, 0, 'f', 2);
        if (d.hottest)
            label += QStringLiteral(" ▲最高");
        if (d.coldest)
            label += QStringLiteral(" ▼最低");
        p.setPen(d.hottest ? QColor(180, 0, 0) : d.coldest ? QColor(0, 0, 180) : Qt::black);
        p.drawText(c + QPointF(kDot + 6, 4), label);
    }
    // The legend: one scale, +scale red at the top, −scale blue below.
    const QRectF bar(width() - kLegendW + 10, 40, 18, height() - 80);
    QLinearGradient g(bar.topLeft(), bar.bottomLeft());
    g.setColorAt(0, colorOf(results::divergingColor(1, 1)));
    g.setColorAt(0.5, Qt::white);
    g.setColorAt(1, colorOf(results::divergingColor(-1, 1)));
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(g);
    p.drawRect(bar);
    p.setFont(font());
    const double s = m_picture.scale;
    const QString top = QStringLiteral("+%1").arg(s, 0, 'f', 2), bottom =
                                                                  QStringLiteral("−%1").arg(s, 0, 'f', 2);
    p.drawText(QPointF(bar.right() + 4, bar.top() + 8), top);
    p.drawText(QPointF(bar.right() + 4, bar.center().y() + 4), QStringLiteral("0"));
    p.drawText(QPointF(bar.right() + 4, bar.bottom()), bottom);
    p.drawText(QPointF(bar.left(), bar.top() - 14), QStringLiteral("偏差(%1)").arg(m_unit));
}

ChamberWindow::ChamberWindow(const QString &title, bool points, QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setWindowTitle(title);
    auto *layout = new QVBoxLayout(this);
    auto *row = new QHBoxLayout;
    if (points) {
        m_point = new QComboBox(this);
        row->addWidget(new QLabel(QStringLiteral("校准点"), this));
        row->addWidget(m_point);
        connect(m_point, qOverload<int>(&QComboBox::currentIndexChanged), this,
                &ChamberWindow::choiceChanged);
    }
    m_kind = new QComboBox(this);
    m_kind->addItems({QStringLiteral("温度"), QStringLiteral("湿度")});
    connect(m_kind, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &ChamberWindow::choiceChanged);
    row->addWidget(m_kind);
    row->addStretch();
    layout->addLayout(row);
    m_view = new ChamberView(this);
    layout->addWidget(m_view, 1);
    resize(760, 520);
}

void ChamberWindow::setPoints(int count)
{
    if (!m_point)
        return;
    const QSignalBlocker block(m_point);
    m_point->clear();
    for (int p = 1; p <= count; ++p)
        m_point->addItem(QStringLiteral("检点%1").arg(p));
}

int ChamberWindow::point() const
{
    return m_point ? m_point->currentIndex() + 1 : 0;
}

bool ChamberWindow::humidity() const
{
    return m_kind->currentIndex() == 1;
}

results::Kind ChamberWindow::kind() const
{
    return humidity() ? results::Kind::Humidity : results::Kind::Temperature;
}

void ChamberWindow::setLayout(const results::ChamberLayout &layout,
                              const QMap<QString, QString> &locationsA,
                              const QMap<QString, QString> &locationsB)
{
    m_layout = layout;
    m_locationsA = locationsA;
    m_locationsB = locationsB;
}

void ChamberWindow::showPicture(const results::ChamberPicture &picture)
{
    m_view->setPicture(m_layout, picture, humidity() ? QStringLiteral("%RH") : QStringLiteral("℃"));
}

