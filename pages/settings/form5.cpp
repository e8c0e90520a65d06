#include "pages/settings/form5.h"
#include "pages/settings/operatorsbox.h"

#include "pages/pagekit.h"
#include "storage/statements.h"
#include "ui_form5.h"

Form5::Form5(QWidget *parent) : QWidget(parent), ui(new Ui::Form5)
{
    ui->setupUi(this);
    pagekit::makeFrameless(this);
    // Below the laboratory's record: its operators and sign-in.
    auto *operators = new OperatorsBox(this);
    operators->setGeometry(216, 520, 720, 150);

    const base::Result<storage::Company> company = storage::readCompany();
    if (!company) {
        pagekit::reportFailure(this, QStringLiteral("读取检定单位信息失败"), company.error);
        return;
    }
    const storage::Company &c = company.value;
    const QStringList values{c.unitname, c.tel,     c.fax,   c.address,
                             c.yzbm,     c.website, c.place, c.booknum};
    const QList<QLineEdit *> edits = fields();
    for (int i = 0; i < edits.size(); ++i)
        edits[i]->setText(values.value(i));
    const base::Result<QString> pattern = storage::certificatePattern();
    ui->lineEdit_pattern->setText(pattern ? pattern.value : QStringLiteral("yyyy-nnnn"));
}

Form5::~Form5()
{
    delete ui;
}

QList<QLineEdit *> Form5::fields() const
{
    return {ui->lineEdit,   ui->lineEdit_2, ui->lineEdit_3, ui->lineEdit_4,
            ui->lineEdit_5, ui->lineEdit_6, ui->lineEdit_7, ui->lineEdit_8};
}

void Form5::on_pushButton_clicked()
{
    storage::Company c;
    c.unitname = ui->lineEdit->text();
    c.tel = ui->lineEdit_2->text();
    c.fax = ui->lineEdit_3->text();
    c.address = ui->lineEdit_4->text();
    c.yzbm = ui->lineEdit_5->text();
    c.website = ui->lineEdit_6->text();
    c.place = ui->lineEdit_7->text();
    c.booknum = ui->lineEdit_8->text();
    pagekit::reportOutcome(this, storage::saveCompany(c, ui->lineEdit_pattern->text().trimmed()),
                           QStringLiteral("保存失败"), QStringLiteral("保存成功！"));
}

void Form5::on_pushButton_2_clicked()
{
    close();
}

void Form5::on_pushButton_3_clicked()
{
    close();
}
