#include "office/rawworkbook.h"

#include "office/sheetrows.h"
#include "results/chamber.h"
#include "results/axis.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cmath>
#include <xlsxwriter.h>

namespace office {

namespace {

QByteArray utf8(const QString &s)
{
    return s.toUtf8();
}

// Writes a text as a number when it is one, as text otherwise; nothing for
// an empty text.
lxw_error writeCell(lxw_worksheet *ws, lxw_row_t row, lxw_col_t col, const QString &text,
                    lxw_format *numberFormat)
{
    if (text.isEmpty())
        return LXW_NO_ERROR;
    const QByteArray bytes = text.toUtf8();
    const results::Value v =
        results::parseValue(bytes.constData(), bytes.constData() + bytes.size());
    if (v.ok)
        return worksheet_write_number(ws, row, col, v.d, numberFormat);
    return worksheet_write_string(ws, row, col, bytes.constData(), nullptr);
}

QString excelError(lxw_error e)
{
    return QString::fromUtf8(lxw_strerror(e));
}

} // namespace

base::Status writeRawWorkbook(const RawWorkbookJob &job, const Progress &progress)
{
    using base::Status;
    const results::Calibration &c = job.calibration;
    const storage::RunHeader &h = c.header;
    if (const Status st = checkTarget(job.target); !st)
        return st;
    // libxlsxwriter's row files and the workbook itself go to a private
    // folder; the finished file replaces the target in one rename.
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/orven-xlsx-XXXXXX"));
    if (!dir.isValid())
        return Status::failure(QStringLiteral("不能建立临时目录：%1").arg(dir.errorString()));
    const QByteArray tmpdir = QFile::encodeName(dir.path());
    const QString file = dir.path() + QStringLiteral("/raw.xlsx");
    const QByteArray fileName = QFile::encodeName(file);
    lxw_workbook_options options;
    options.constant_memory = LXW_TRUE;
    options.tmpdir = const_cast<char *>(tmpdir.constData());
    options.use_zip64 = LXW_TRUE;
    lxw_workbook *wb = workbook_new_opt(fileName.constData(), &options);
    if (!wb)
        return Status::failure(QStringLiteral("不能建立工作簿"));
    auto fail = [&](const QString &why) {
        workbook_close(wb); // frees it; the folder goes with `dir`
        return Status::failure(why);
    };

    lxw_format *number = workbook_add_format(wb);
    format_set_num_format(number, "0.000");
    lxw_format *bold = workbook_add_format(wb);
    format_set_bold(bold);

    // ---- sheet 1: the sample table as shown ----
    if (progress.stage)
        progress.stage(QStringLiteral("正在写入原始数据…"));
    const QByteArray dataSheet = utf8(QStringLiteral("原始数据"));
    lxw_worksheet *ws = workbook_add_worksheet(wb, dataSheet.constData());
    // Printed: landscape, one page wide, the heading row on every page; on
    // screen the headings and the time stay in sight.
    worksheet_set_landscape(ws);
    worksheet_fit_to_pages(ws, 1, 0);
    worksheet_repeat_rows(ws, 0, 0);
    worksheet_freeze_panes(ws, 1, 3);
    const QStringList headers = results::sampleHeaders(c.layout);
    for (int col = 0; col < headers.size(); ++col)
        worksheet_write_string(ws, 0, lxw_col_t(col), utf8(headers[col]).constData(), nullptr);
    worksheet_set_column(ws, 1, 2, 18, nullptr);
    const results::SampleTableText table(h);
    const int rows = qMin(table.rows(), c.samples.size()); // rows without a sample stay empty
    // The range of each kind's readings, for the charts' value axes; the
    // rows themselves are streamed in once the workbook is closed.
    double lowest[2] = {1e300, 1e300}, highest[2] = {-1e300, -1e300};
    for (int r = 0; r < rows; ++r) {
        if (r % 5000 == 0 && progress.cancelled())
            return fail(QStringLiteral("已取消"));
        const QByteArray &data = c.samples[r].coldata;
        const char *p = data.constData();
        const char *end = p + data.size();
        for (int j = 0; j < c.layout.channelCount && p <= end; ++j) {
            const char *stop = static_cast<const char *>(memchr(p, ';', size_t(end - p)));
            if (!stop)
                stop = end;
            const results::Value v = results::parseValue(p, stop);
            if (v.ok) {
                const int k = c.layout.kinds.value(j) == results::Kind::Temperature ? 0 : 1;
                lowest[k] = qMin(lowest[k], v.d);
                highest[k] = qMax(highest[k], v.d);
            }
            p = stop + 1;
        }
    }
    const int numberStyle = int(lxw_format_get_xf_index(number));

    // ---- sheet 2: what the calibration is and its results ----
    if (progress.stage)
        progress.stage(QStringLiteral("正在写入校准结果…"));
    lxw_worksheet *rs = workbook_add_worksheet(wb, utf8(QStringLiteral("结果")).constData());
    worksheet_set_landscape(rs);
    worksheet_fit_to_pages(rs, 1, 0);
    worksheet_set_column(rs, 0, 0, 16, nullptr);
    worksheet_set_column(rs, 1, 8, 14, nullptr);
    lxw_row_t row = 0;
    worksheet_write_string(rs, row++, 0, utf8(QStringLiteral("校准结果")).constData(), bold);
    const QList<QPair<QString, QString>> facts{{QStringLiteral("开始时间"), h.dtbegin},
                                               {QStringLiteral("结束时间"), h.dtend},
                                               {QStringLiteral("试验设备"), h.equipname},
                                               {QStringLiteral("采集器序列号"), h.collector},
                                               {QStringLiteral("被校参数类别"), h.equiptype},
                                               {QStringLiteral("环境温度(℃)"), h.envtem},
                                               {QStringLiteral("环境湿度(%RH)"), h.envhum},
                                               {QStringLiteral("校准点个数"), h.pointnum},
                                               {QStringLiteral("通道数"), h.channum},
                                               {QStringLiteral("样本数"), h.samplenum}};
    for (const auto &f : facts) {
        worksheet_write_string(rs, row, 0, utf8(f.first).constData(), bold);
        // Figures as numbers (the ambient values, the counts), times as text.
        if (f.first.contains(QStringLiteral("时间")))
            worksheet_write_string(rs, row, 1, utf8(f.second).constData(), nullptr);
        else
            writeCell(rs, row, 1, f.second, nullptr);
        ++row;
    }
    ++row;
    const QStringList resultHeaders{
        QStringLiteral("校准点"),    QStringLiteral("参数"),
        QStringLiteral("设定值"),    QStringLiteral("上偏差"),
        QStringLiteral("下偏差"),    QStringLiteral("均匀度"),
        QStringLiteral("波动度(±)"), QStringLiteral("校准不确定度(k=2)"),
        QStringLiteral("样本数")};
    for (int i = 0; i < resultHeaders.size(); ++i)
        worksheet_write_string(rs, row, lxw_col_t(i), utf8(resultHeaders[i]).constData(), bold);
    ++row;
    bool wantT = results::typeWantsTemperature(h.equiptype);
    bool wantH = results::typeWantsHumidity(h.equiptype);
    if (!wantT && !wantH)
        wantT = wantH = true;
    // A figure's cell holds the number the documents print, three decimals.
    auto figure = [&](lxw_col_t col, const results::Figure &f) {
        const QString text = f.text();
        if (text.isEmpty())
            worksheet_write_string(rs, row, col, utf8(QStringLiteral("无数据")).constData(),
                                   nullptr);
        else
            writeCell(rs, row, col, text, number);
    };
    for (const results::PointResult &p : job.points) {
        for (int kind = 0; kind < 2; ++kind) {
            if ((kind == 0 && !wantT) || (kind == 1 && !wantH))
                continue;
            const results::KindFigures &f = kind == 0 ? p.t : p.h;
            worksheet_write_string(
                rs, row, 0, utf8(QStringLiteral("检点%1").arg(p.point)).constData(), nullptr);
            worksheet_write_string(
                rs, row, 1,
                utf8(kind == 0 ? QStringLiteral("温度(℃)") : QStringLiteral("湿度(%RH)"))
                    .constData(),
                nullptr);
            if (f.set.isEmpty())
                figure(2, results::Figure());
            else
                writeCell(rs, row, 2, f.set, nullptr);
            figure(3, f.upper);
            figure(4, f.lower);
            figure(5, f.uniformity);
            figure(6, f.fluctuation);
            figure(7, f.spread);
            worksheet_write_number(rs, row, 8, p.samples, nullptr);
            ++row;
        }
    }
    ++row;
    const QStringList extremeHeaders{QStringLiteral("校准点"), QStringLiteral("通道"),
                                     QStringLiteral("最大值"), QStringLiteral("最小值")};
    for (int i = 0; i < extremeHeaders.size(); ++i)
        worksheet_write_string(rs, row, lxw_col_t(i), utf8(extremeHeaders[i]).constData(), bold);
    ++row;
    for (const results::PointResult &p : job.points) {
        for (const results::ChannelExtremes &e : p.channels) {
            worksheet_write_string(
                rs, row, 0, utf8(QStringLiteral("检点%1").arg(p.point)).constData(), nullptr);
            worksheet_write_string(rs, row, 1, utf8(e.name).constData(), nullptr);
            figure(2, e.max);
            figure(3, e.min);
            ++row;
        }
    }

    // ---- sheet 3: every channel over time, one chart per kind so that
    // temperature and humidity each have their own axis ----
    const int dataRows = qMin(rows, c.samples.size());
    lxw_worksheet *curves = workbook_add_worksheet(wb, utf8(QStringLiteral("曲线")).constData());
    // Printed, the charts fill one landscape page.
    worksheet_set_landscape(curves);
    worksheet_fit_to_pages(curves, 1, 1);
    int placed = 0;
    for (const results::Kind kind : {results::Kind::Temperature, results::Kind::Humidity}) {
        if (dataRows == 0 || c.layout.count(kind) == 0)
            continue;
        lxw_chart *chart = workbook_add_chart(wb, LXW_CHART_LINE);
        for (int j = 0; j < c.layout.channelCount; ++j) {
            if (c.layout.kinds.value(j) != kind)
                continue;
            lxw_chart_series *series = chart_add_series(chart, nullptr, nullptr);
            chart_series_set_categories(series, dataSheet.constData(), 1, 1,
                                        lxw_row_t(dataRows), 1);
            chart_series_set_values(series, dataSheet.constData(), 1, lxw_col_t(j + 3),
                                    lxw_row_t(dataRows), lxw_col_t(j + 3));
            chart_series_set_name_range(series, dataSheet.constData(), 0, lxw_col_t(j + 3));
            chart_series_set_marker_type(series, LXW_CHART_MARKER_NONE);
            lxw_chart_line line = {};
            line.width = 1.0;
            chart_series_set_line(series, &line);
        }
        const bool t = kind == results::Kind::Temperature;
        chart_title_set_name(
            chart, utf8(t ? QStringLiteral("温度通道") : QStringLiteral("湿度通道")).constData());
        chart_axis_set_name(chart->x_axis, utf8(QStringLiteral("时间")).constData());
        chart_axis_set_name(
            chart->y_axis,
            utf8(t ? QStringLiteral("温度 (℃)") : QStringLiteral("湿度 (%RH)")).constData());
        chart_legend_set_position(chart, LXW_CHART_LEGEND_RIGHT);
        // Times under the plot, whatever the sign of the readings; the value
        // axis spans the readings, so the spread between channels shows.
        chart_axis_set_label_position(chart->x_axis, LXW_CHART_AXIS_LABEL_POSITION_LOW);
        const int k = t ? 0 : 1;
        if (lowest[k] <= highest[k]) {
            const results::ValueTicks ticks = results::valueTicks(lowest[k], highest[k]);
            chart_axis_set_min(chart->y_axis, ticks.first);
            chart_axis_set_max(chart->y_axis, ticks.last);
            chart_axis_set_major_unit(chart->y_axis, ticks.step);
        }
        lxw_chart_options place = {};
        place.x_scale = 2.4;
        place.y_scale = 1.8;
        worksheet_insert_chart_opt(curves, lxw_row_t(1 + placed * 28), 1, chart, &place);
        ++placed;
    }
    if (placed == 0)
        worksheet_write_string(curves, 0, 0, utf8(QStringLiteral("没有可画的读数。")).constData(),
                               nullptr);

    // ---- sheet 4: the layout, each location with its place and channels ----
    const results::ChamberLayout layout = results::chamberLayout(job.equipment);
    if (!layout.isEmpty()) {
        lxw_worksheet *ls = workbook_add_worksheet(wb, utf8(QStringLiteral("布点")).constData());
        const QStringList heads{QStringLiteral("位置"), QStringLiteral("宽向(0~1)"),
                                QStringLiteral("深向(0~1)"), QStringLiteral("高向(0~1)"),
                                QStringLiteral("中心"), QStringLiteral("通道")};
        for (int i = 0; i < heads.size(); ++i)
            worksheet_write_string(ls, 0, lxw_col_t(i), utf8(heads[i]).constData(), bold);
        worksheet_set_column(ls, 1, 3, 12, nullptr);
        worksheet_set_column(ls, 5, 5, 30, nullptr);
        const QMap<QString, QString> locationOf =
            results::locationsByName(c.layout.names, job.locationsA, job.locationsB);
        lxw_row_t at = 1;
        for (const storage::Location &l : layout.locations) {
            const QStringList channels = locationOf.keys(l.name);
            worksheet_write_string(ls, at, 0, utf8(l.name).constData(), nullptr);
            worksheet_write_number(ls, at, 1, l.x, nullptr);
            worksheet_write_number(ls, at, 2, l.y, nullptr);
            worksheet_write_number(ls, at, 3, l.z, nullptr);
            if (l.name == layout.centre)
                worksheet_write_string(ls, at, 4, utf8(QStringLiteral("中心")).constData(),
                                       nullptr);
            worksheet_write_string(ls, at, 5, utf8(channels.join(QStringLiteral("、"))).constData(),
                                   nullptr);
            ++at;
        }
        const double v = results::workingVolume(job.equipment);
        if (std::isfinite(v))
            worksheet_write_string(
                ls, at + 1, 0,
                utf8(QStringLiteral("工作空间 %1 × %2 × %3 m，%4 m³")
                         .arg(job.equipment.width, job.equipment.depth, job.equipment.height,
                              QString::number(v, 'f', 2)))
                    .constData(),
                nullptr);
    }

    if (progress.cancelled())
        return fail(QStringLiteral("已取消"));
    if (progress.stage)
        progress.stage(QStringLiteral("正在保存工作簿…"));
    const lxw_error e = workbook_close(wb);
    if (e != LXW_NO_ERROR)
        return Status::failure(QStringLiteral("不能写入工作簿：%1").arg(excelError(e)));

    // ---- the sample rows of sheet 1, as shown, values as stored ----
    int next = 0;
    const RowSource source = [&](QByteArray *out) {
        const int until = qMin(rows, next + 256);
        for (; next < until; ++next) {
            if (next % 2000 == 0 && next > 0 && progress.stage)
                progress.stage(QStringLiteral("正在写入原始数据… %1 / %2 行").arg(next).arg(rows));
            const results::StoredSample &s = c.samples[next];
            RowText row(out);
            row.begin(next + 2);
            row.number(0, next + 1);
            row.text(1, utf8(results::timeCell(s.coltime)));
            const QString point = table.cell(c.samples, next, 2);
            if (!point.isEmpty())
                row.text(2, utf8(point));
            const char *p = s.coldata.constData();
            const char *end = p + s.coldata.size();
            for (int j = 0; j < c.layout.channelCount && p <= end; ++j) {
                const char *stop = static_cast<const char *>(memchr(p, ';', size_t(end - p)));
                if (!stop)
                    stop = end;
                row.value(j + 3, p, stop, numberStyle);
                p = stop + 1;
            }
            row.end();
        }
        return next < rows;
    };
    if (progress.stage)
        progress.stage(QStringLiteral("正在写入原始数据…"));
    const Status streamed = streamSheetRows(file, QByteArrayLiteral("xl/worksheets/sheet1.xml"),
                                            rows + 1, headers.size() - 1, source, progress);
    if (!streamed)
        return streamed;
    return replaceFile(file, job.target);
}

} // namespace office
