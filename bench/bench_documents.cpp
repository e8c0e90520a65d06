// The calibration record of 10 points x 1,800 samples x 64 channels, written
// from the query page: time to the .docx, time to the PDF, and the longest
// event-loop stall of the page while the export runs. An argument names a
// folder to keep the .docx and the PDF in.

#include "bench/benchkit.h"
#include "pages/prompts.h"
#include "pages/reports/form6.h"
#include "tests/testkit.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

using namespace benchkit;

static bool exportOnce(Form6 &page, const QString &file, qint64 *ms, qint64 *stall)
{
    StallProbe probe;
    QElapsedTimer clock;
    prompts::clearRecords();
    prompts::queueFileName(file);
    probe.start();
    clock.start();
    testkit::click(&page, QStringLiteral("pushButton"));
    testkit::waitUntil([&] { return !page.isExporting(); }, 600000);
    *ms = clock.elapsed();
    probe.stop();
    *stall = probe.worstMs();
    return prompts::aboutTexts().value(0) == QStringLiteral("提示|导出成功!") &&
           QFileInfo(file).size() > 0;
}

// The pages of a PDF, from its page tree's count.
static int pdfPages(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray pdf = f.readAll();
    int most = 0;
    for (int at = pdf.indexOf("/Count "); at >= 0; at = pdf.indexOf("/Count ", at + 7))
        most = qMax(most, pdf.mid(at + 7, 10).split(' ').value(0).split('\n').value(0).toInt());
    return most;
}

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("ORVEN_TEMPLATES"))
        qputenv("ORVEN_TEMPLATES", QByteArray(ORVEN_APP_DIR));
    testkit::TempDatabase db;
    const int perPoint = sized(1800, 60), samples = 10 * perPoint;
    if (!fillCalibration(db.path(), QStringLiteral("2024-05-01 00:00:00"), samples, 64, perPoint,
                         true))
        return 1;
    storage::insertEquipment(
        testkit::equipmentRow({"Chamber", "Client", "Addr", "温度", "M", "E", "<2立方米", "64", "0",
                               "Maker", "2020-01", "20", "40", "", "", "10"},
                              {}, {}));
    storage::insertCollector({"1", "One", "M702", "/dev/null", "ORV7020001", "0.1", "1", "0.01",
                              "0.1", "C-1", "0.05", "0.8", "2", "2", "2030-01-01"});
    if (!keepRecords(QStringLiteral("2024-05-01 00:00:00"))) {
        std::fprintf(stderr, "bench_documents: the records could not be kept with the run\n");
        return 1;
    }
    Form6 page;
    page.show();
    QMetaObject::invokeMethod(&page, "on_tbnum_cellClicked", Q_ARG(int, 0), Q_ARG(int, 1));
    if (!testkit::waitUntil([&] { return page.loadedCalibration() != nullptr; }, 60000)) {
        std::fprintf(stderr, "bench_documents: the calibration did not load\n");
        return 1;
    }

    qint64 docxMs = 0, docxStall = 0, pdfMs = 0, pdfStall = 0;
    if (!exportOnce(page, db.dir() + QStringLiteral("/record.docx"), &docxMs, &docxStall)) {
        std::fprintf(stderr, "bench_documents: docx export failed: %s\n",
                     qPrintable(prompts::aboutTexts().join(QLatin1Char(' '))));
        return 1;
    }
    std::printf("bench_documents: record 10 x %d x 64 to .docx: %lld ms (target < 2000 ms for "
                "10 x 1800), %.1f MB; longest event-loop stall %lld ms (target < 50 ms)\n",
                perPoint, static_cast<long long>(docxMs),
                QFileInfo(db.dir() + QStringLiteral("/record.docx")).size() / 1048576.0,
                static_cast<long long>(docxStall));
    const qint64 before = residentBytes();
    resetPeakResident();
    if (!exportOnce(page, db.dir() + QStringLiteral("/record.pdf"), &pdfMs, &pdfStall)) {
        std::fprintf(stderr, "bench_documents: pdf export failed: %s\n",
                     qPrintable(prompts::aboutTexts().join(QLatin1Char(' '))));
        return 1;
    }
    const qint64 peak = peakResidentBytes();
    std::printf("bench_documents: the same record to PDF: %lld ms (drawn directly; target < 5000 "
                "ms for 10 x 1800), %.1f MB, %d pages; memory %.0f MB over the %.0f MB before "
                "(target < 200 MB); longest event-loop stall %lld ms (target < 50 ms)\n",
                static_cast<long long>(pdfMs),
                QFileInfo(db.dir() + QStringLiteral("/record.pdf")).size() / 1048576.0,
                pdfPages(db.dir() + QStringLiteral("/record.pdf")), (peak - before) / 1048576.0,
                before / 1048576.0, static_cast<long long>(pdfStall));
    if (argc > 1)
        for (const QString &name : {QStringLiteral("/record.pdf"), QStringLiteral("/record.docx")})
            QFile::copy(db.dir() + name, QString::fromLocal8Bit(argv[1]) + name);
    return 0;
}
