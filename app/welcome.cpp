#include "app/welcome.h"

#include "app/mainwindow.h"
#include "resources/resources.h"

#include <QPalette>
#include <QPixmap>
#include <QTimer>

welcome::welcome(const QString &databasePath, bool readOnly, int delayMs, QWidget *parent)
    : QWidget(parent), m_timer(new QTimer(this)), m_database(databasePath), m_readOnly(readOnly)
{
    initOrvenImages();
    setObjectName(QStringLiteral("welcome"));
    setWindowTitle(QStringLiteral("Form"));
    resize(590, 352);
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                   Qt::X11BypassWindowManagerHint);
    QPalette pal = palette();
    pal.setBrush(QPalette::All, QPalette::Window, QBrush(QPixmap(QStringLiteral(":/qidong.png"))));
    setPalette(pal);
    setAutoFillBackground(true);

    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &welcome::init);
    m_timer->start(delayMs);
}

welcome::~welcome() = default;

void welcome::init()
{
    if (m_main)
        return;
    m_main = std::make_unique<MainWindow>(m_database, m_readOnly);
    // Show the main window before closing the splash so the program does not
    // see its last window closing.
    m_main->show();
    close();
    emit mainWindowShown(m_main.get());
}
