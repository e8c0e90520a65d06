#include "pages/equipment/form2.h"

#include "pages/equipment/setpoints.h"
#include "pages/pagekit.h"
#include "pages/prompts.h"
#include "results/chamber.h"
#include "ui_form2.h"

#include <QHeaderView>
#include <QIntValidator>
#include <cmath>

static const char *const kMonthFormat = "yyyy-MM";
static const QDate kNoDate(1900, 1, 1); // the year of manufacture was not entered

Form2::Form2(QWidget *parent) : QWidget(parent), ui(new Ui::Form2)
{
    ui->setupUi(this);
    pagekit::makeFrameless(this);
    ui->twShow->verticalHeader()->hide();
    for (QLineEdit *e :
         {ui->lineEdit_7, ui->lineEdit_8, ui->lineEdit_10, ui->lineEdit_11, ui->lineEdit_12,
          ui->lineEdit_13, ui->lineEdit_14, ui->lineEdit_4, ui->lineEdit_15,
          ui->lineEdit_settingT, ui->lineEdit_settingH})
        e->setValidator(pagekit::numberValidator(e));
    ui->lineEdit_interval->setValidator(new QIntValidator(1, 120, ui->lineEdit_interval));
    for (QLineEdit *e : {ui->lineEdit_width, ui->lineEdit_depth, ui->lineEdit_height}) {
        e->setValidator(pagekit::numberValidator(e));
        connect(e, &QLineEdit::textChanged, this, [this] { showVolume(); });
    }
    connect(ui->comboBox_layout, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this] { showVolume(); });
    showVolume();
    // Plain characters only in the instrument number and model.
    ui->lineEdit_5->setAttribute(Qt::WA_InputMethodEnabled, false);
    ui->lineEdit_6->setAttribute(Qt::WA_InputMethodEnabled, false);
    ui->lineEdit_15->setText(QStringLiteral("25"));
    ui->lineEdit_4->setText(QStringLiteral("60"));
    ui->dateEdit->setDisplayFormat(QLatin1String(kMonthFormat));
    // Nobody entered a year of manufacture yet: the field shows a hint and
    // the record keeps it empty (a certificate prints "—", never a made-up
    // date). The earliest date stands for "not entered".
    ui->dateEdit->setMinimumDate(kNoDate);
    ui->dateEdit->setSpecialValueText(QStringLiteral("未填写"));
    ui->dateEdit->setDate(kNoDate);
    refreshList();
}

Form2::~Form2()
{
    delete ui;
}

QString Form2::gridText(int row, int column) const
{
    return pagekit::itemText(ui->twShow, row, column);
}

void Form2::setGridText(int row, int column, const QString &text)
{
    ui->twShow->setItem(row, column, new QTableWidgetItem(text));
}

namespace {
const QStringList kLayouts{QString(), QStringLiteral("9"), QStringLiteral("15"),
                           QStringLiteral("own")};
}

storage::EquipmentExtra Form2::fieldsExtra() const
{
    storage::EquipmentExtra e;
    e.settingT = ui->lineEdit_settingT->text().trimmed();
    e.settingH = ui->lineEdit_settingH->text().trimmed();
    e.intervalMonths = ui->lineEdit_interval->text().trimmed();
    e.width = ui->lineEdit_width->text().trimmed();
    e.depth = ui->lineEdit_depth->text().trimmed();
    e.height = ui->lineEdit_height->text().trimmed();
    e.layout = kLayouts.value(ui->comboBox_layout->currentIndex());
    e.own = m_ownLocations;
    return e;
}

void Form2::showExtra(const storage::EquipmentExtra &e)
{
    ui->lineEdit_settingT->setText(e.settingT);
    ui->lineEdit_settingH->setText(e.settingH);
    ui->lineEdit_interval->setText(e.intervalMonths);
    ui->lineEdit_width->setText(e.width);
    ui->lineEdit_depth->setText(e.depth);
    ui->lineEdit_height->setText(e.height);
    m_ownLocations = e.own;
    ui->comboBox_layout->setCurrentIndex(qMax(0, kLayouts.indexOf(e.layout)));
    showVolume();
}

// The volume, and the method's layout it asks for.
void Form2::showVolume()
{
    const double v = results::workingVolume(fieldsExtra());
    ui->label_volume->setText(
        std::isfinite(v) ? QStringLiteral("容积 %1 m³（规范 %2 点）")
                               .arg(QString::number(v, 'f', 2), results::methodLayoutFor(v))
                         : QStringLiteral("容积 —"));
    ui->pushButton_locations->setEnabled(ui->comboBox_layout->currentIndex() == 3);
}

// The operator's own locations as text, one "名称 x y z" each; "O" is the
// centre. In metres once the working space is known.
void Form2::on_pushButton_locations_clicked()
{
    const QVector<double> space = results::workingSpace(fieldsExtra());
    QStringList values{locationsText(m_ownLocations, space)};
    const QString how =
        space.isEmpty()
            ? QStringLiteral("每个位置：名称 x y z（未填工作室尺寸：宽、深、高方向 0～1 的相对位置），")
            : QStringLiteral("每个位置：名称 x y z（米，自工作室左前下角起，沿宽、深、高方向），");
    if (!prompts::fields(this, QStringLiteral("自定位置"),
                         how + QStringLiteral("以“;”分隔；名称为 O 的是中心位置"),
                         {QStringLiteral("位置")}, &values))
        return;
    const base::Result<QList<storage::Location>> parsed = parseLocations(values.value(0), space);
    if (!parsed) {
        prompts::about(this, QStringLiteral("失败"), parsed.error);
        return;
    }
    m_ownLocations = parsed.value;
}

base::Result<QList<storage::Location>> Form2::parseLocations(const QString &text,
                                                             const QVector<double> &space)
{
    const bool metres = space.size() == 3;
    QList<storage::Location> out;
    QStringList names;
    for (const QString &item : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList f = item.simplified().split(QLatin1Char(' '));
        if (f.size() != 4)
            return base::failure(QStringLiteral("“%1”须为：名称 x y z").arg(item.trimmed()));
        storage::Location l;
        l.name = f[0];
        double *at[] = {&l.x, &l.y, &l.z};
        for (int i = 0; i < 3; ++i) {
            bool ok = false;
            const double v = f[i + 1].toDouble(&ok);
            const double side = metres ? space[i] : 1.0;
            if (!ok || v < 0 || v > side)
                return base::failure(
                    metres ? QStringLiteral("“%1”的位置须在工作室内（宽 %2 m、深 %3 m、高 %4 m）")
                                 .arg(l.name)
                                 .arg(space[0])
                                 .arg(space[1])
                                 .arg(space[2])
                           : QStringLiteral("“%1”的位置须为 0～1 之间的数").arg(l.name));
            *at[i] = v / side;
        }
        if (names.contains(l.name))
            return base::failure(QStringLiteral("位置名称“%1”重复").arg(l.name));
        names << l.name;
        out << l;
    }
    return out;
}

QString Form2::locationsText(const QList<storage::Location> &locations,
                             const QVector<double> &space)
{
    const bool metres = space.size() == 3;
    auto number = [](double v) { return QString::number(v, 'g', 6); };
    QStringList items;
    for (const storage::Location &l : locations)
        items << QStringLiteral("%1 %2 %3 %4")
                     .arg(l.name, number(metres ? l.x * space[0] : l.x),
                          number(metres ? l.y * space[1] : l.y),
                          number(metres ? l.z * space[2] : l.z));
    return items.join(QStringLiteral("; "));
}

storage::Equipment Form2::fieldsRecord() const
{
    storage::Equipment e;
    e.name = ui->lineEdit_3->text();
    e.companyname = ui->lineEdit->text();
    e.address = ui->lineEdit_2->text();
    e.type = ui->comboBox_2->currentText();
    e.model = ui->lineEdit_6->text();
    e.equipmodel = ui->lineEdit_5->text();
    e.listnum = ui->comboBox->currentText();
    e.temnum = ui->lineEdit_7->text();
    e.humnum = ui->lineEdit_8->text();
    e.madecompanyname = ui->lineEdit_9->text();
    e.madedate = ui->dateEdit->date() <= kNoDate
                     ? QString()
                     : ui->dateEdit->date().toString(QLatin1String(kMonthFormat));
    e.temdown = ui->lineEdit_10->text();
    e.temup = ui->lineEdit_11->text();
    e.humdown = ui->lineEdit_12->text();
    e.humup = ui->lineEdit_13->text();
    e.adjustnum = ui->lineEdit_14->text();
    for (int k = 1; k <= 10; ++k) {
        e.tem << gridText(0, k);
        e.hum << gridText(1, k);
    }
    return e;
}

void Form2::refreshList()
{
    static const QStringList headers{
        "序号",       "单位名称",   "单位地址",   "设备名称",   "设备类别",   "规格型号",
        "器具编号",   "容积",       "温度测试点", "湿度测试点", "制造商名称", "制造年份",
        "温度范围下", "温度范围上", "湿度范围下", "湿度范围上", "校准点个数", "校准点"};
    ui->twdetail->clear();
    ui->twdetail->setColumnCount(headers.size());
    ui->twdetail->setHorizontalHeaderLabels(headers);
    const base::Result<QList<storage::Equipment>> list = storage::listEquipment();
    if (!list) {
        ui->twdetail->setRowCount(0);
        pagekit::reportFailure(this, QStringLiteral("读取设备列表失败"), list.error);
        return;
    }
    ui->twdetail->setRowCount(list.value.size());
    for (int r = 0; r < list.value.size(); ++r) {
        const storage::Equipment &e = list.value[r];
        const QStringList cells{e.companyname, e.address,     e.name,     e.type,
                                e.model,       e.equipmodel,  e.listnum,  e.temnum,
                                e.humnum,      e.madecompanyname, e.madedate, e.temdown,
                                e.temup,       e.humdown,     e.humup,    e.adjustnum};
        ui->twdetail->setItem(r, 0, new QTableWidgetItem(QString::number(r + 1)));
        for (int j = 0; j < cells.size(); ++j)
            ui->twdetail->setItem(r, j + 1, new QTableWidgetItem(cells[j]));
        ui->twdetail->setItem(r, 17, new QTableWidgetItem(QStringLiteral("BLOB")));
    }
}

void Form2::layoutGrid(int points)
{
    ui->twShow->clear();
    ui->twShow->setColumnCount(0);
    ui->twShow->setRowCount(0);
    if (points < 1)
        return;
    QStringList headers{QStringLiteral("类别")};
    for (int k = 1; k <= points; ++k)
        headers << QStringLiteral("检点%1").arg(k);
    ui->twShow->setColumnCount(points + 1);
    ui->twShow->setRowCount(2);
    ui->twShow->setHorizontalHeaderLabels(headers);
    // Each column as wide as "检点10" needs; the grid scrolls for many points.
    ui->twShow->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ui->twShow->horizontalHeader()->setStretchLastSection(points <= 4);
    setGridText(0, 0, QStringLiteral("温度(℃)"));
    setGridText(1, 0, QStringLiteral("湿度(%RH)"));
}

void Form2::on_lineEdit_14_textChanged(const QString &arg1)
{
    const setpoints::Grid g = setpoints::generate(ui->comboBox_2->currentText(), arg1,
                                                  ui->lineEdit_10->text(), ui->lineEdit_11->text(),
                                                  ui->lineEdit_12->text(), ui->lineEdit_13->text());
    layoutGrid(g.points);
    // Shown beside the field while typing, not as a box per keystroke.
    ui->label_hint->setText(g.rangeMissing ? QStringLiteral("温湿度范围不得为空!") : QString());
    if (g.rangeMissing)
        return;
    for (int k = 0; k < g.points; ++k) {
        if (!g.tem.value(k).isEmpty())
            setGridText(0, k + 1, g.tem.value(k));
        if (!g.hum.value(k).isEmpty())
            setGridText(1, k + 1, g.hum.value(k));
    }
}

void Form2::on_comboBox_2_currentTextChanged(const QString &arg1)
{
    QList<QLineEdit *> enable, zero;
    if (arg1 == QStringLiteral("温度")) {
        enable = {ui->lineEdit_7, ui->lineEdit_10, ui->lineEdit_11};
        zero = {ui->lineEdit_8, ui->lineEdit_12, ui->lineEdit_13};
    } else if (arg1 == QStringLiteral("湿度")) {
        enable = {ui->lineEdit_8, ui->lineEdit_12, ui->lineEdit_13};
        zero = {ui->lineEdit_7, ui->lineEdit_10, ui->lineEdit_11};
    } else {
        enable = {ui->lineEdit_7,  ui->lineEdit_8,  ui->lineEdit_10,
                  ui->lineEdit_11, ui->lineEdit_12, ui->lineEdit_13};
    }
    for (QLineEdit *e : enable)
        e->setEnabled(true);
    for (QLineEdit *e : zero) {
        e->setEnabled(false);
        e->setText(QStringLiteral("0"));
    }
}

bool Form2::countIsStorable()
{
    if (setpoints::storableCount(ui->lineEdit_14->text()))
        return true;
    prompts::about(this, QStringLiteral("失败"),
                   QStringLiteral("校准点个数必须是1到10的整数，未保存。"));
    return false;
}

void Form2::on_pushButton_clicked()
{
    if (!countIsStorable())
        return;
    const storage::Equipment record = fieldsRecord();
    const QString name = record.name.trimmed();
    if (name.isEmpty()) {
        prompts::about(this, QStringLiteral("提示"), QStringLiteral("未填写被校设备名称！"));
        return;
    }
    // A name names one equipment: saving it again replaces it.
    const base::Result<int> existing = storage::countEquipmentByName(name);
    if (!existing) {
        pagekit::reportFailure(this, QStringLiteral("保存失败"), existing.error);
        return;
    }
    if (existing.value > 0 &&
        !prompts::question(this, QStringLiteral("提示"),
                           QStringLiteral("该设备名称已存在，是否覆盖？\n%1").arg(name), true))
        return;
    const base::Status st = storage::saveEquipment(record, fieldsExtra(), existing.value > 0);
    refreshList();
    pagekit::reportOutcome(this, st, QStringLiteral("保存失败"),
                           QStringLiteral("保存成功！\n试验设备 %1").arg(name));
}

void Form2::on_pushButton_2_clicked()
{
    if (!countIsStorable())
        return;
    const storage::Equipment record = fieldsRecord();
    const base::Result<int> r = storage::modifyEquipment(record, fieldsExtra());
    refreshList();
    if (r && r.value == 0) {
        prompts::about(this, QStringLiteral("提示"),
                       QStringLiteral("没有找到名称为“%1”的试验设备，未修改。").arg(record.name));
        return;
    }
    pagekit::reportOutcome(this, r.status(), QStringLiteral("修改失败"),
                           QStringLiteral("修改成功！"));
}

void Form2::on_pushButton_7_clicked()
{
    const QString name = ui->lineEdit_3->text();
    if (name.isEmpty()) {
        prompts::about(this, QStringLiteral("提示"), QStringLiteral("未选择设备！"));
        return;
    }
    if (!prompts::question(this, QStringLiteral("提示"), QStringLiteral("确定删除指定设备？"),
                           true))
        return;
    const base::Result<int> r = storage::deleteEquipmentByName(name);
    refreshList();
    if (r && r.value == 0) {
        prompts::about(this, QStringLiteral("提示"),
                       QStringLiteral("没有找到名称为“%1”的试验设备，未删除。").arg(name));
        return;
    }
    pagekit::reportOutcome(this, r.status(), QStringLiteral("删除失败"),
                           QStringLiteral("删除成功！"));
}

void Form2::on_pushButton_3_clicked()
{
    if (!prompts::question(this, QStringLiteral("提示"),
                           QStringLiteral("该操作会清空所有设备数据，是否继续？"), true))
        return;
    const base::Status st = storage::deleteAllEquipment();
    refreshList();
    if (!st.ok) {
        pagekit::reportFailure(this, QStringLiteral("全清失败"), st.error);
        return;
    }
    for (QLineEdit *e :
         {ui->lineEdit, ui->lineEdit_2, ui->lineEdit_3, ui->lineEdit_4, ui->lineEdit_5,
          ui->lineEdit_6, ui->lineEdit_7, ui->lineEdit_8, ui->lineEdit_9, ui->lineEdit_10,
          ui->lineEdit_11, ui->lineEdit_12, ui->lineEdit_13, ui->lineEdit_14, ui->lineEdit_15,
          ui->lineEdit_settingT, ui->lineEdit_settingH, ui->lineEdit_interval})
        e->clear();
    showExtra(storage::EquipmentExtra());
    layoutGrid(0);
    prompts::about(this, QStringLiteral("提示"), QStringLiteral("全清成功！"));
}

void Form2::on_pushButton_4_clicked()
{
    const QString name = ui->lineEdit_3->text();
    if (name.isEmpty()) {
        prompts::about(this, QStringLiteral("提示"), QStringLiteral("未选择实验设备！"));
        return;
    }
    pagekit::reportOutcome(
        this, storage::selectEquipment(name, ui->lineEdit_15->text(), ui->lineEdit_4->text()),
        QStringLiteral("选择失败"),
        QStringLiteral("选择成功！\n校准将使用试验设备 %1（环境 %2℃ / %3%RH）")
            .arg(name, ui->lineEdit_15->text(), ui->lineEdit_4->text()));
}

void Form2::on_pushButton_6_clicked()
{
    close();
}

void Form2::on_twdetail_cellClicked(int row, int)
{
    auto cell = [&](int c) { return pagekit::itemText(ui->twdetail, row, c); };
    ui->lineEdit->setText(cell(1));
    ui->lineEdit_2->setText(cell(2));
    ui->lineEdit_3->setText(cell(3));
    ui->comboBox_2->setCurrentText(cell(4));
    ui->lineEdit_6->setText(cell(5));
    ui->lineEdit_5->setText(cell(6));
    ui->comboBox->setCurrentText(cell(7));
    ui->lineEdit_7->setText(cell(8));
    ui->lineEdit_8->setText(cell(9));
    ui->lineEdit_9->setText(cell(10));
    const QDate made = QDate::fromString(cell(11), QLatin1String(kMonthFormat));
    ui->dateEdit->setDate(made.isValid() ? made : kNoDate);
    ui->lineEdit_10->setText(cell(12));
    ui->lineEdit_11->setText(cell(13));
    ui->lineEdit_12->setText(cell(14));
    ui->lineEdit_13->setText(cell(15));
    ui->lineEdit_14->setText(cell(16));

    const base::Result<storage::EquipmentExtra> extra = storage::equipmentExtra(cell(3));
    if (!extra)
        pagekit::reportFailure(this, QStringLiteral("读取设定值分辨力失败"), extra.error);
    showExtra(extra.value);

    // The stored set points replace whatever the count change generated.
    const int points = setpoints::wholeCount(cell(16));
    layoutGrid(points);
    const base::Result<storage::SetPoints> sp = storage::equipmentSetPoints(cell(3));
    if (!sp) {
        pagekit::reportFailure(this, QStringLiteral("读取校准点失败"), sp.error);
        return;
    }
    for (int i = 0; i < points && i < 10; ++i) {
        setGridText(0, i + 1, sp.value.tem.value(i));
        setGridText(1, i + 1, sp.value.hum.value(i));
    }
}
