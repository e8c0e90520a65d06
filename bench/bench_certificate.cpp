// The standard certificate of 10 points (temperature and humidity, 180
// samples of 16 channels each): the evaluation, the .docx (median of 20
// writes), the PDF drawn directly and, beside it, through LibreOffice.
// An argument names a folder to keep both PDFs in.

#include "bench/benchkit.h"
#include "office/conversion.h"
#include "office/sources.h"
#include "office/standardcertificate.h"
#include "results/calibration.h"
#include "storage/samplereader.h"
#include "tests/testkit.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <algorithm>
#include <cstdio>

using namespace benchkit;

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("ORVEN_TEMPLATES"))
        qputenv("ORVEN_TEMPLATES", QByteArray(ORVEN_APP_DIR));
    testkit::TempDatabase db;
    const QString key = QStringLiteral("2024-05-01 00:00:00");
    if (!fillCalibration(db.path(), key, 1800, 16, 180, true))
        return 1;
    // Twelve temperature and four humidity channels.
    if (!testkit::sql(QStringLiteral("update datamark set kindsA='12;4;0;', equiptype='温湿度', "
                                     "typesA='0000000000001111'")))
        return 1;
    storage::insertCollector({"1", "One", "M702", "/dev/null", "ORV7020001", "0.1", "1", "0.01",
                              "0.1", "C-1", "0.05", "0.8", "2", "2", "2030-01-01"});
    storage::saveCompany({"某计量院", "021-1234", "021-5678", "实验路 8 号", "200000", "", "实验室",
                          "(沪)法计(2024)01"});

    const results::Loaded loaded = results::loadCalibration(db.path(), key);
    if (!loaded.status || !loaded.found) {
        std::fprintf(stderr, "bench_certificate: %s\n", qPrintable(loaded.status.error));
        return 1;
    }
    office::StandardCertificateJob job;
    job.calibration = loaded.calibration;
    storage::SampleReader reader;
    if (!reader.open(db.path()).ok)
        return 1;
    const base::Result<office::ExportRecords> records =
        office::readExportRecords(reader, job.calibration.header);
    if (!records)
        return 1;
    job.records = records.value;
    job.certificate.number = QStringLiteral("2026-0001");
    job.certificate.prints = 1;
    job.issueDate = QStringLiteral("2026-12-08");
    job.signers =
        office::Signers{QStringLiteral("张三"), QStringLiteral("李四"), QStringLiteral("王五")};

    QElapsedTimer clock;
    clock.start();
    results::EvaluationSettings settings;
    settings.method = results::Method::Jjf1101;
    job.evaluation =
        results::evaluate(job.calibration, results::computeResults(job.calibration),
                          office::standardDataOf(job.records, job.calibration.layout), settings);
    const qint64 evaluateMs = clock.elapsed();

    QVector<double> docx;
    job.target = db.dir() + QStringLiteral("/certificate.docx");
    for (int i = 0; i < 20; ++i) {
        clock.restart();
        const base::Status st = office::writeStandardCertificate(job);
        docx << clock.nsecsElapsed() / 1e6;
        if (!st) {
            std::fprintf(stderr, "bench_certificate: %s\n", qPrintable(st.error));
            return 1;
        }
    }
    std::sort(docx.begin(), docx.end());
    std::printf("bench_certificate: 10 points x 2 kinds: evaluation %lld ms; .docx %.1f ms median, "
                "%.1f ms worst of 20 (target < 200 ms), %lld bytes\n",
                evaluateMs, docx[docx.size() / 2], docx.last(), QFileInfo(job.target).size());
    // The PDF drawn directly: the first in a process loads the fonts.
    job.target = db.dir() + QStringLiteral("/certificate.pdf");
    QVector<double> pdf;
    for (int i = 0; i < 6; ++i) {
        clock.restart();
        const base::Status st = office::writeStandardCertificate(job);
        pdf << clock.nsecsElapsed() / 1e6;
        if (!st) {
            std::fprintf(stderr, "bench_certificate: %s\n", qPrintable(st.error));
            return 1;
        }
    }
    const double first = pdf.takeFirst();
    std::sort(pdf.begin(), pdf.end());
    std::printf("bench_certificate: PDF drawn directly %.1f ms median of 5 (first %.1f ms; target "
                "< 300 ms), %lld bytes\n",
                pdf[pdf.size() / 2], first, QFileInfo(job.target).size());
    if (argc > 1)
        QFile::copy(job.target, QString::fromLocal8Bit(argv[1]) + QStringLiteral("/direct.pdf"));
    if (office::findSoffice().isEmpty()) {
        std::printf("bench_certificate: LibreOffice skipped (not found)\n");
        return 0;
    }
    // The same through LibreOffice, as before.
    clock.restart();
    office::Conversion conversion(db.dir() + QStringLiteral("/certificate.docx"),
                                  QStringLiteral("pdf"));
    QString error;
    if (!conversion.run(&error)) {
        std::fprintf(stderr, "bench_certificate: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("bench_certificate: through LibreOffice %lld ms, %lld bytes\n", clock.elapsed(),
                QFileInfo(conversion.output()).size());
    if (argc > 1)
        QFile::copy(conversion.output(),
                    QString::fromLocal8Bit(argv[1]) + QStringLiteral("/libreoffice.pdf"));
    return 0;
}
