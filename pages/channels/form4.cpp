#include "pages/channels/form4.h"

#include "link/commands.h"
#include "pages/pagekit.h"
#include "ui_form4.h"

Form4::Form4(QWidget *parent) : QWidget(parent), ui(new Ui::Form4)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    for (QLineEdit *e :
         {ui->lineEdit, ui->lineEdit_2, ui->lineEdit_3, ui->lineEdit_4, ui->lineEdit_5,
          ui->lineEdit_6, ui->lineEdit_7, ui->lineEdit_8, ui->lineEdit_9})
        e->setValidator(pagekit::numberValidator(e));
    // Initial state: as for "铂电阻" with its first sensor type.
    ui->comboBox_4->setEnabled(false);
    ui->lineEdit_4->setEnabled(false);
    on_comboBox_3_currentTextChanged(ui->comboBox_3->currentText());
}

Form4::~Form4()
{
    delete ui;
}

void Form4::on_comboBox_2_currentTextChanged(const QString &arg1)
{
    ui->comboBox->clear();
    ui->comboBox_3->clear();
    ui->comboBox_4->clear();
    ui->lineEdit_3->clear();
    ui->lineEdit_4->clear();

    QWidget *wiring = ui->comboBox, *sensor = ui->comboBox_3, *comp = ui->comboBox_4,
            *cold = ui->lineEdit_4;
    const QList<QWidget *> coefficients{ui->lineEdit_3, ui->lineEdit_5, ui->lineEdit_6,
                                        ui->lineEdit_7, ui->lineEdit_8, ui->lineEdit_9};
    auto set = [](const QList<QWidget *> &widgets, bool on) {
        for (QWidget *w : widgets)
            w->setEnabled(on);
    };
    const QStringList wirings{QStringLiteral("四线制"), QStringLiteral("二线制"),
                              QStringLiteral("三线制")};
    auto resetMB = [this] {
        ui->lineEdit->setText(QStringLiteral("1"));
        ui->lineEdit_2->setText(QStringLiteral("0"));
    };
    ui->lineEdit->setEnabled(true);
    ui->lineEdit_2->setEnabled(true);

    if (arg1 == QStringLiteral("铂电阻") || arg1 == QStringLiteral("M701-RTD")) {
        set({wiring, sensor}, true);
        set(coefficients, true);
        set({comp, cold}, false);
        ui->comboBox->addItems(wirings);
        if (arg1 == QStringLiteral("铂电阻"))
            ui->comboBox_3->addItems(rtu::m702RtdTypes() << QStringLiteral("ITS90"));
        else
            ui->comboBox_3->addItems({QStringLiteral("RTD"), QStringLiteral("ITS90")});
    } else if (arg1 == QStringLiteral("热电偶")) {
        set({sensor, comp}, true);
        set({wiring}, false);
        set(coefficients, false);
        ui->comboBox_3->addItems(rtu::m702TcTypes());
        resetMB();
        ui->comboBox_4->addItems({QStringLiteral("内部补偿"), QStringLiteral("固定补偿")});
    } else if (arg1 == QStringLiteral("M701-TC")) {
        set({sensor}, true);
        set({wiring, comp, cold}, false);
        set(coefficients, false);
        ui->comboBox_3->addItems(rtu::m701TcTypes());
        resetMB();
    } else { // 直流电压-T, 直流电压-H
        set({wiring, sensor, comp, cold}, false);
        set(coefficients, false);
        resetMB();
    }
}

void Form4::on_comboBox_3_currentTextChanged(const QString &arg1)
{
    const bool its90 = arg1 == QStringLiteral("ITS90");
    for (QLineEdit *e : {ui->lineEdit_3, ui->lineEdit_5, ui->lineEdit_6, ui->lineEdit_7,
                         ui->lineEdit_8, ui->lineEdit_9})
        e->setEnabled(its90);
    ui->lineEdit_3->setText(its90 ? QStringLiteral("100") : QString());
}

void Form4::on_comboBox_4_currentTextChanged(const QString &arg1)
{
    if (arg1 == QStringLiteral("内部补偿")) {
        ui->lineEdit_4->clear();
        ui->lineEdit_4->setEnabled(false);
    } else {
        ui->lineEdit_4->setEnabled(true);
    }
}

void Form4::on_pushButton_2_clicked()
{
    QString probe = ui->comboBox_2->currentText();
    probe.remove(QStringLiteral("M701-"));
    emit sendData(probe, ui->comboBox_3->currentText(), ui->comboBox->currentText(),
                  ui->lineEdit->text(), ui->lineEdit_2->text(), ui->lineEdit_3->text(),
                  ui->comboBox_4->currentText(), ui->lineEdit_4->text(), ui->lineEdit_5->text(),
                  ui->lineEdit_6->text(), ui->lineEdit_7->text(), ui->lineEdit_8->text(),
                  ui->lineEdit_9->text());
    close();
}

void Form4::on_pushButton_clicked()
{
    close();
}
