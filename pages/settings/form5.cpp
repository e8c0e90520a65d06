#include "pages/settings/form5.h"

#include "pages/pagekit.h"
#include "storage/statements.h"
#include "ui_form5.h"

Form5::Form5(QWidget *parent) : QWidget(parent), ui(new Ui::Form5)
{
    ui->setupUi(this);
    pagekit::makeFrameless(this);

    const storage::Result<storage::Row> company = storage::readCompany();
    if (!company) {
        pagekit::reportFailure(this, QStringLiteral("读取检定单位信息失败"), company.error);
        return;
    }
    const QList<QLineEdit *> edits = fields();
    for (int i = 0; i < edits.size(); ++i)
        edits[i]->setText(company.value.value(i));
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
    storage::Row row;
    for (QLineEdit *edit : fields())
        row << edit->text();
    pagekit::reportOutcome(this, storage::saveCompany(row), QStringLiteral("保存失败"),
                           QStringLiteral("保存成功！"));
}

void Form5::on_pushButton_2_clicked()
{
    close();
}

void Form5::on_pushButton_3_clicked()
{
    close();
}
