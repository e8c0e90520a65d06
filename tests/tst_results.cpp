// Calibration results per point, checked against figures worked out by hand.

#include "results/axis.h"
#include "results/calibration.h"
#include "results/statistics.h"

#include <QtTest>

using namespace results;

namespace {

storage::RunHeader header(int channels, const QString &typesA, const QString &kindsA = QString(),
                          const QString &typesB = QString())
{
    storage::RunHeader h;
    h.channum = QString::number(channels);
    h.kindsA = kindsA.isEmpty() ? QStringLiteral("%1;0;0;").arg(channels) : kindsA;
    h.typesA = typesA;
    h.typesB = typesB;
    QStringList numbers;
    for (int i = 0; i < channels; ++i)
        numbers << QString::number(101 + i);
    h.chanlist = storage::listText(numbers);
    return h;
}

PointResult run(const storage::RunHeader &h, const QStringList &samples, const QString &setT,
                const QString &setH = QStringLiteral("50"))
{
    const ChannelLayout layout = ChannelLayout::fromHeader(h);
    PointAccumulator acc(layout);
    for (const QString &s : samples)
        acc.add(s);
    return acc.result(1, setT, setH);
}

} // namespace

class ResultsTest : public QObject
{
    Q_OBJECT

private slots:
    void listHelpers_data();
    void listHelpers();
    void twoChannelsTenSamples();
    void pointWithoutSamplesHasNoFigures();
    void kindWithoutChannelsHasNoFigures();
    void decimalSetPointCounts();
    void setPointThatIsNotANumber();
    void emptyOrBadEntriesAreLeftOut();
    void twoCollectorsShareOneRange();
    void floatRoundingAtTheHalfThousandth();
    void manySamplesAndManyChannels();
    void storedFormAndOtherFormsGiveTheSameFigures_data();
    void storedFormAndOtherFormsGiveTheSameFigures();
    void layoutFromHeader();
    void samplesGroupedByExactPointLabel();
    void axisTicksAtRoundValues_data();
    void axisTicksAtRoundValues();
    void timeTicksAtWholeSecondsAndMinutes();
};

void ResultsTest::listHelpers_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("max");
    QTest::addColumn<QString>("min");
    QTest::addColumn<QString>("stddev");
    QTest::newRow("two") << QStringList{"25.000", "25.400"} << "25.400"
                         << "25.000"
                         << "0.200";
    QTest::newRow("empty list") << QStringList{} << "-99999.000"
                                << "99999.000"
                                << "nan";
    QTest::newRow("blank entry left out") << QStringList{"", "-1.5", "abc", "2.5"} << "2.500"
                                          << "-1.500"
                                          << "2.000";
    QTest::newRow("only blanks") << QStringList{"", " "} << "-99999.000"
                                 << "99999.000"
                                 << "nan";
    QTest::newRow("blanks around a number") << QStringList{" 3.25 "} << "3.250"
                                            << "3.250"
                                            << "0.000";
}

void ResultsTest::listHelpers()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, max);
    QFETCH(QString, min);
    QFETCH(QString, stddev);
    QCOMPARE(listMaxText(entries), max);
    QCOMPARE(listMinText(entries), min);
    QCOMPARE(listStdDevText(entries), stddev);
}

void ResultsTest::twoChannelsTenSamples()
{
    QStringList samples;
    for (int i = 0; i < 10; ++i)
        samples << "25.000;25.400;";
    const PointResult r = run(header(2, "00"), samples, "25");
    QCOMPARE(r.samples, 10);
    QCOMPARE(r.t.set, QString("25"));
    QCOMPARE(r.t.upper.text(), QString("0.400"));
    QCOMPARE(r.t.lower.text(), QString("0.000"));
    QCOMPARE(r.t.uniformity.text(), QString("0.400"));
    QCOMPARE(r.t.fluctuation.text(), QString("0.200"));
    QCOMPARE(r.t.spread.text(), QString("0.200"));
    QCOMPARE(r.channels.size(), 2);
    QCOMPARE(r.channels[0].name, QString("1-101"));
    QCOMPARE(r.channels[0].max.text(), QString("25.000"));
    QCOMPARE(r.channels[1].min.text(), QString("25.400"));
}

void ResultsTest::pointWithoutSamplesHasNoFigures()
{
    const PointResult r = run(header(2, "01"), {}, "25", "60");
    QCOMPARE(r.samples, 0);
    for (const KindFigures *f : {&r.t, &r.h}) {
        QVERIFY(!f->upper.ok);
        QVERIFY(!f->lower.ok);
        QVERIFY(!f->uniformity.ok);
        QVERIFY(!f->fluctuation.ok);
        QVERIFY(!f->spread.ok);
    }
    QCOMPARE(r.t.set, QString("25")); // the set point is shown as stored
    QCOMPARE(r.h.set, QString("60"));
    QVERIFY(!r.channels[0].max.ok);
}

void ResultsTest::kindWithoutChannelsHasNoFigures()
{
    const PointResult r = run(header(2, "00"), {"25.000;25.400;", "25.100;25.300;"}, "25", "60");
    QCOMPARE(r.h.channels, 0);
    QVERIFY(!r.h.upper.ok);
    QVERIFY(!r.h.spread.ok);
    QVERIFY(!r.h.uniformity.ok);
    QCOMPARE(r.t.upper.text(), QString("0.400"));
}

void ResultsTest::decimalSetPointCounts()
{
    // 25.400 - 25.5 and 25.000 - 25.5 in single precision.
    const PointResult r = run(header(2, "00"), {"25.000;25.400;"}, "25.5");
    QCOMPARE(r.t.set, QString("25.5"));
    QCOMPARE(r.t.upper.text(), QString("-0.100"));
    QCOMPARE(r.t.lower.text(), QString("-0.500"));
}

void ResultsTest::setPointThatIsNotANumber()
{
    const PointResult r = run(header(2, "00"), {"25.000;25.400;"}, "");
    QVERIFY(!r.t.upper.ok);
    QVERIFY(!r.t.lower.ok);
    // Figures that do not need the set point are still there.
    QCOMPARE(r.t.uniformity.text(), QString("0.400"));
}

void ResultsTest::emptyOrBadEntriesAreLeftOut()
{
    // Channel 102 has no reading in the first sample and garbage in the second:
    // neither is taken as 0 (which would make the minimum 0 and the range 25).
    const PointResult r = run(header(3, "000"), {"25.000;;25.400;", "25.100;x;25.300;"}, "25");
    QCOMPARE(r.t.lower.text(), QString("0.000"));
    QCOMPARE(r.t.upper.text(), QString("0.400"));
    QCOMPARE(r.t.uniformity.text(), QString("0.300")); // (0.4 + 0.2) / 2
    QCOMPARE(r.t.readings, 4);
    QVERIFY(!r.channels[1].max.ok);
    QCOMPARE(r.channels[2].max.text(), QString("25.400"));
    // Population deviation of 25.0, 25.4, 25.1, 25.3: sqrt(0.025) = 0.158.
    QCOMPARE(r.t.spread.text(), QString("0.158"));
}

void ResultsTest::twoCollectorsShareOneRange()
{
    // Collector one 20.0/20.2, collector two 21.0/21.4: the chamber spans 1.4.
    const storage::RunHeader h = header(4, "00", "2;0;0;", "00");
    const ChannelLayout layout = ChannelLayout::fromHeader(h);
    QVERIFY(layout.twoCollectors);
    QCOMPARE(layout.names, (QStringList{"1-101", "1-102", "2-103", "2-104"}));
    const PointResult r = run(h, {"20.000;20.200;21.000;21.400;"}, "20");
    QCOMPARE(r.t.uniformity.text(), QString("1.400"));
    QCOMPARE(r.t.fluctuation.text(), QString("0.700"));
    QCOMPARE(r.t.upper.text(), QString("1.400"));
}

void ResultsTest::floatRoundingAtTheHalfThousandth()
{
    // In single precision 20.001 - 20 is 0.00099945, half of it 0.0004997:
    // "0.000", where double arithmetic would print 0.001.
    PointResult r = run(header(2, "00"), {"20.000;20.001;"}, "20");
    QCOMPARE(r.t.fluctuation.text(), QString("0.000"));
    QCOMPARE(r.t.uniformity.text(), QString("0.001"));
    // 0.125 / 2 = 0.0625 exactly: a tie, printed rounded up as the documents do.
    r = run(header(2, "00"), {"0.000;0.125;"}, "0");
    QCOMPARE(r.t.fluctuation.text(), QString("0.063"));
    // Values with more than three decimals are rounded to three before the
    // arithmetic: 1.0004 counts as 1.000 and 1.0006 as 1.001.
    r = run(header(2, "00"), {"1.0004;1.0006;"}, "1");
    QCOMPARE(r.t.upper.text(), QString("0.001"));
    QCOMPARE(r.t.lower.text(), QString("0.000"));
    QCOMPARE(r.t.uniformity.text(), QString("0.001"));
}

void ResultsTest::manySamplesAndManyChannels()
{
    // 30,001 samples of 70 temperature channels: even channels read a, odd
    // channels a + 0.5, with a = 20 on even samples and 21 on odd ones.
    const int channels = 70;
    const storage::RunHeader h = header(channels, QString(channels, QLatin1Char('0')));
    const ChannelLayout layout = ChannelLayout::fromHeader(h);
    PointAccumulator acc(layout);
    QByteArray even, odd;
    for (int j = 0; j < channels; ++j) {
        even += j % 2 ? "20.500;" : "20.000;";
        odd += j % 2 ? "21.500;" : "21.000;";
    }
    for (int s = 0; s < 30001; ++s) {
        const QByteArray &row = s % 2 ? odd : even;
        acc.add(row.constData(), row.size());
    }
    const PointResult r = acc.result(1, "20", "50");
    QCOMPARE(r.samples, 30001);
    QCOMPARE(r.t.readings, 30001 * channels);
    QCOMPARE(r.t.upper.text(), QString("1.500"));
    QCOMPARE(r.t.lower.text(), QString("0.000"));
    QCOMPARE(r.t.uniformity.text(), QString("0.500"));
    QCOMPARE(r.t.fluctuation.text(), QString("0.750"));
    QCOMPARE(r.t.spread.text(), QString("0.559")); // worked out separately: 0.5590169...
    QCOMPARE(r.channels.size(), channels);
    QCOMPARE(r.channels[68].max.text(), QString("21.000"));
    QCOMPARE(r.channels[69].min.text(), QString("20.500"));
    QCOMPARE(r.channels[69].name, QString("1-170"));
}

// Samples written the way runs store them are read by a shortcut; the same
// samples with a blank before every field take the full parse. Every figure
// must come out identical, bit for bit, whatever mix of forms a point has.
void ResultsTest::storedFormAndOtherFormsGiveTheSameFigures_data()
{
    QTest::addColumn<QString>("types");
    QTest::addColumn<QStringList>("samples");
    QTest::newRow("plain") << "001" << QStringList{"25.000;-3.125;50.500", "24.999;-3.126;49.875"};
    QTest::newRow("zero and sign") << "01" << QStringList{"-0.000;0.000", "0.001;-0.001"};
    QTest::newRow("long decimals among short")
        << "00" << QStringList{"25.0004;25.000", "25.000;24.9996", "25.001;25.0005"};
    QTest::newRow("fewer decimals and integers")
        << "00" << QStringList{"25.5;25", "25.500;26.000", "7;-7.25"};
    QTest::newRow("near the float limit")
        << "00" << QStringList{"8191.999;-8191.999", "8192.000;-8192.000", "8191.998;8192.001"};
    QTest::newRow("large values") << "00" << QStringList{"99999.999;1234567.891", "5.000;6.000"};
    QTest::newRow("missing and bad fields")
        << "000" << QStringList{"25.000;;26.000", "x;25.125;", "25.250", "", "1e2;25.000;25.000"};
    QTest::newRow("more fields than channels") << "0" << QStringList{"25.000;99.000", "24.000;1.000"};
}

void ResultsTest::storedFormAndOtherFormsGiveTheSameFigures()
{
    QFETCH(QString, types);
    QFETCH(QStringList, samples);
    QStringList padded;
    for (const QString &s : samples) {
        QStringList fields = s.split(';');
        for (QString &f : fields)
            if (!f.isEmpty())
                f.prepend(' ');
        padded << fields.join(';');
    }
    const storage::RunHeader h = header(types.size(), types,
                                        QStringLiteral("%1;%2;0;")
                                            .arg(types.count('0'))
                                            .arg(types.count('1')));
    const PointResult a = run(h, samples, "25");
    const PointResult b = run(h, padded, "25");
    auto same = [](const Figure &x, const Figure &y) {
        return x.ok == y.ok && (!x.ok || x.value == y.value);
    };
    for (const auto &k : {std::make_pair(a.t, b.t), std::make_pair(a.h, b.h)}) {
        QCOMPARE(k.first.readings, k.second.readings);
        for (auto f : {&KindFigures::upper, &KindFigures::lower, &KindFigures::uniformity,
                       &KindFigures::fluctuation, &KindFigures::spread, &KindFigures::mean,
                       &KindFigures::max, &KindFigures::min})
            QVERIFY2(same(k.first.*f, k.second.*f),
                     qPrintable((k.first.*f).text() + " / " + (k.second.*f).text()));
    }
    QCOMPARE(a.channels.size(), b.channels.size());
    for (int j = 0; j < a.channels.size(); ++j) {
        QVERIFY2(same(a.channels[j].max, b.channels[j].max), qPrintable(QString::number(j)));
        QVERIFY2(same(a.channels[j].min, b.channels[j].min), qPrintable(QString::number(j)));
    }
}

void ResultsTest::layoutFromHeader()
{
    // Collector one counts 2, 1, 1 and six channels: four "1-", two "2-".
    storage::RunHeader h = header(6, "0010", "2;1;1;", "01");
    const ChannelLayout l = ChannelLayout::fromHeader(h);
    QCOMPARE(l.names, (QStringList{"1-101", "1-102", "1-103", "1-104", "2-105", "2-106"}));
    QCOMPARE(l.kinds, (QVector<Kind>{Kind::Temperature, Kind::Temperature, Kind::Humidity,
                                     Kind::Temperature, Kind::Temperature, Kind::Humidity}));
    // One collector: its counts cover every channel; a missing mask character
    // is a humidity channel.
    h = header(3, "0", "3;0;0;");
    const ChannelLayout one = ChannelLayout::fromHeader(h);
    QVERIFY(!one.twoCollectors);
    QCOMPARE(one.names, (QStringList{"1-101", "1-102", "1-103"}));
    QCOMPARE(one.count(Kind::Humidity), 2);
}

void ResultsTest::samplesGroupedByExactPointLabel()
{
    Calibration c;
    c.header = header(1, "0");
    c.header.pointnum = "10";
    c.header.temset = "1;2;3;4;5;6;7;8;9;10;";
    c.layout = ChannelLayout::fromHeader(c.header);
    auto sample = [](const QString &point, const QString &value) {
        return StoredSample{point.toUtf8(), QByteArray("2024-05-01 10:00:00"),
                            value.toUtf8() + ';'};
    };
    c.samples << sample("检点1", "1.000") << sample("检点10", "10.000") << sample("检点01", "99")
              << sample("点1", "99") << sample("检点1", "1.500") << sample("检点11", "99");
    const QVector<QVector<int>> byPoint = samplesByPoint(c);
    QCOMPARE(byPoint.size(), 10);
    QCOMPARE(byPoint[0], (QVector<int>{0, 4}));
    QCOMPARE(byPoint[9], (QVector<int>{1}));
    const QVector<PointResult> r = computeResults(c);
    QCOMPARE(r.size(), 10);
    QCOMPARE(r[0].t.upper.text(), QString("0.500")); // 1.5 - set 1
    QCOMPARE(r[9].t.set, QString("10"));
    QCOMPARE(r[9].samples, 1);
    QCOMPARE(r[4].samples, 0);
    QVERIFY(!r[4].t.upper.ok);
}

void ResultsTest::axisTicksAtRoundValues_data()
{
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<double>("step");
    QTest::addColumn<double>("first");
    QTest::addColumn<double>("last");
    QTest::addColumn<int>("decimals");
    QTest::newRow("curve window readings") << 19.57 << 22.66 << 1.0 << 19.0 << 23.0 << 0;
    QTest::newRow("a tenth apart") << 24.875 << 25.9 << 0.5 << 24.5 << 26.0 << 1;
    QTest::newRow("hundredths") << 25.012 << 25.061 << 0.01 << 25.01 << 25.07 << 2;
    QTest::newRow("below zero") << -40.3 << -39.1 << 0.5 << -40.5 << -39.0 << 1;
    QTest::newRow("one value") << 55.5 << 55.5 << 0.2 << 55.2 << 55.8 << 1;
    QTest::newRow("humidity span") << 10.0 << 95.0 << 20.0 << 0.0 << 100.0 << 0;
}

void ResultsTest::axisTicksAtRoundValues()
{
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(double, step);
    QFETCH(double, first);
    QFETCH(double, last);
    QFETCH(int, decimals);
    const ValueTicks t = valueTicks(low, high);
    QVERIFY2(qAbs(t.step - step) < 1e-12, qPrintable(QString::number(t.step)));
    QVERIFY2(qAbs(t.first - first) < 1e-9, qPrintable(QString::number(t.first)));
    QVERIFY2(qAbs(t.last - last) < 1e-9, qPrintable(QString::number(t.last)));
    QCOMPARE(t.decimals, decimals);
    QVERIFY(t.first <= low && t.last >= high);
    QCOMPARE(t.values.size(), qRound((last - first) / step) + 1);
    QVERIFY(t.values.size() <= 7);
}

void ResultsTest::timeTicksAtWholeSecondsAndMinutes()
{
    const QDateTime start(QDate(2024, 5, 1), QTime(10, 0, 3));
    auto labels = [](const QVector<qint64> &ticks) {
        QStringList out;
        for (qint64 t : ticks)
            out << QDateTime::fromMSecsSinceEpoch(t).toString("HH:mm:ss");
        return out;
    };
    qint64 step = 0;
    QCOMPARE(labels(timeTicks(start.toMSecsSinceEpoch(), start.addSecs(44).toMSecsSinceEpoch(), 5,
                              &step)),
             (QStringList{"10:00:10", "10:00:20", "10:00:30", "10:00:40"}));
    QCOMPARE(step, 10000);
    QCOMPARE(labels(timeTicks(start.toMSecsSinceEpoch(),
                              start.addSecs(2 * 3600 + 600).toMSecsSinceEpoch())),
             (QStringList{"10:30:00", "11:00:00", "11:30:00", "12:00:00"}));
    QCOMPARE(timeTicks(5000, 4000).size(), 0);
}

QTEST_GUILESS_MAIN(ResultsTest)
#include "tst_results.moc"
