#include "pages/settings/about.h"

#include "resources/resources.h"
#include "ui_about.h"

about::about(QWidget *parent) : QWidget(parent), ui(new Ui::about)
{
    initOrvenImages();
    ui->setupUi(this);
    setFixedSize(336, 462);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
}

about::~about()
{
    delete ui;
}
