// Suggested calibration set points.

#include "pages/equipment/setpoints.h"

#include <QtTest>

static QStringList repeated(const QString &text, int n)
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << text;
    return out;
}

class SetPointsTest : public QObject
{
    Q_OBJECT

private slots:
    void generate_data();
    void generate();
    void missingRangeGeneratesNothing();
    void storableCounts_data();
    void storableCounts();
};

void SetPointsTest::generate_data()
{
    QTest::addColumn<QString>("category");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QStringList>("range"); // temDown, temUp, humDown, humUp
    QTest::addColumn<int>("points");
    QTest::addColumn<QStringList>("tem");
    QTest::addColumn<QStringList>("hum");

    QTest::newRow("5 points 10-50 / 30-90")
        << "温湿度"
        << "5" << QStringList{"10", "50", "30", "90"} << 5
        << QStringList{"10", "20", "30", "40", "50"} << QStringList{"30", "45", "60", "75", "90"};
    QTest::newRow("4 points 0-100 truncates the step")
        << "温湿度"
        << "4" << QStringList{"0", "100", "0", "100"} << 4 << QStringList{"0", "33", "66", "100"}
        << QStringList{"0", "33", "66", "100"};
    QTest::newRow("4 points -20-0")
        << "温湿度"
        << "4" << QStringList{"-20", "0", "20", "80"} << 4 << QStringList{"-20", "-14", "-8", "0"}
        << QStringList{"20", "40", "60", "80"};
    QTest::newRow("count 1 takes the middle")
        << "温湿度"
        << "1" << QStringList{"-5", "0", "40", "85"} << 1 << QStringList{"-2"} << QStringList{"62"};
    QTest::newRow("category 温度 excludes humidity")
        << "温度"
        << "3" << QStringList{"10", "30", "0", "0"} << 3 << QStringList{"10", "20", "30"}
        << QStringList{"N", "N", "N"};
    QTest::newRow("category 湿度 excludes temperature")
        << "湿度"
        << "2" << QStringList{"0", "0", "30", "90"} << 2 << QStringList{"N", "N"}
        << QStringList{"30", "90"};
    QTest::newRow("count 1, category 温度")
        << "温度"
        << "1" << QStringList{"10", "20", "0", "0"} << 1 << QStringList{"15"} << QStringList{"N"};
    QTest::newRow("decimal bound is truncated toward zero, shown as typed")
        << "温湿度"
        << "3" << QStringList{"10.5", "50", "30", "90"} << 3 << QStringList{"10.5", "30", "50"}
        << QStringList{"30", "60", "90"};
    QTest::newRow("negative decimal bound")
        << "温度"
        << "3" << QStringList{"-10.5", "10", "0", "0"} << 3 << QStringList{"-10.5", "0", "10"}
        << QStringList{"N", "N", "N"};
    QTest::newRow("count 0") << "温湿度"
                             << "0" << QStringList{"10", "50", "30", "90"} << 0 << QStringList{}
                             << QStringList{};
    QTest::newRow("negative count")
        << "温湿度"
        << "-3" << QStringList{"10", "50", "30", "90"} << 0 << QStringList{} << QStringList{};
    QTest::newRow("count abc") << "温湿度"
                               << "abc" << QStringList{"10", "50", "30", "90"} << 0 << QStringList{}
                               << QStringList{};
    QTest::newRow("count 2.5") << "温湿度"
                               << "2.5" << QStringList{"10", "50", "30", "90"} << 0 << QStringList{}
                               << QStringList{};
    QTest::newRow("count 11 still builds the grid")
        << "温度"
        << "11" << QStringList{"0", "100", "0", "0"} << 11
        << QStringList{"0", "10", "20", "30", "40", "50", "60", "70", "80", "90", "100"}
        << repeated("N", 11);
}

void SetPointsTest::generate()
{
    QFETCH(QString, category);
    QFETCH(QString, count);
    QFETCH(QStringList, range);
    QFETCH(int, points);
    QFETCH(QStringList, tem);
    QFETCH(QStringList, hum);
    const setpoints::Grid g =
        setpoints::generate(category, count, range[0], range[1], range[2], range[3]);
    QVERIFY(!g.rangeMissing);
    QCOMPARE(g.points, points);
    QCOMPARE(g.tem, tem);
    QCOMPARE(g.hum, hum);
}

void SetPointsTest::missingRangeGeneratesNothing()
{
    const setpoints::Grid g = setpoints::generate("温湿度", "3", "10", "", "30", "90");
    QVERIFY(g.rangeMissing);
    QCOMPARE(g.points, 3);
    QCOMPARE(g.tem, repeated(QString(), 3));
    QCOMPARE(g.hum, repeated(QString(), 3));
}

void SetPointsTest::storableCounts_data()
{
    QTest::addColumn<QString>("count");
    QTest::addColumn<bool>("storable");
    QTest::newRow("1") << "1" << true;
    QTest::newRow("10") << "10" << true;
    QTest::newRow("11") << "11" << false;
    QTest::newRow("0") << "0" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("2.5") << "2.5" << false;
    QTest::newRow("-1") << "-1" << false;
}

void SetPointsTest::storableCounts()
{
    QFETCH(QString, count);
    QFETCH(bool, storable);
    QCOMPARE(setpoints::storableCount(count), storable);
}

QTEST_GUILESS_MAIN(SetPointsTest)
#include "tst_setpoints.moc"
