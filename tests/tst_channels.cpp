// Channel page (Form3), batch dialog (Form4) and the layout download against
// the simulator, comparing the exact frames the collector received.

#include "pages/channels/channelplan.h"
#include "pages/channels/form3.h"
#include "pages/channels/form4.h"
#include "pages/prompts.h"
#include "tests/testkit.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>

using namespace testkit;
using storage::Row;
using storage::Rows;

class ChannelsTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setExtraPorts({}); }

    void m702FourResistanceChannels();
    void m702MixedTable();
    void m701TcSendsTypeThenCorrections();
    void m701RtdWithoutIts90SendsOnlyTheWiring();
    void m701RtdSendsIts90Rows();
    void silentCollectorFailsAndStoresNothing();
    void unconfirmedChannelsAreStoredButReported();
    void corruptedTypeAckIsUnconfirmed();
    void everyProbeTypeInEitherWriteLayout_data();
    void everyProbeTypeInEitherWriteLayout();
    void oneBadReplyLeavesOnlyItsChannelUnconfirmed_data();
    void oneBadReplyLeavesOnlyItsChannelUnconfirmed();
    void portThatCannotOpenSendsAndStoresNothing();
    void deviceTwoStoresIntoItsOwnTable();
    void failingStoreKeepsThePreviousLayout();
    void controlsAreLockedDuringTheDownload();
    void rowChecksRefuseBeforeSending_data();
    void rowChecksRefuseBeforeSending();
    void emptyTableAndDuplicates();

    void lenumRebuildsWithDefaults();
    void switchingDevicesLoadsEachTable();
    void humidityFlags();
    void duplicateCheckComparesTexts();
    void doubleClickEditors();
    void probeTypeChangeClearsWhatNoLongerApplies_data();
    void probeTypeChangeClearsWhatNoLongerApplies();
    void selectAllThenBatchChangesEveryRow();
    void batchWithoutSelection();

    void dialogConfirmAtOnce();
    void dialogM701Tc();
    void dialogDcHumidity();
    void dialogLeavingIts90();
    void dialogThermocouple();
};

static Row row(const QString &ch, const QString &probe, const QString &sensor,
               const QString &wiring, const QStringList &rest = {})
{
    Row r{ch, probe, sensor, wiring, "1", "0", "100", "", "", "", "", "", "", ""};
    for (int i = 0; i < rest.size(); ++i)
        r[4 + i] = rest[i];
    return r;
}

static void setTable(Form3 &page, const Rows &rows)
{
    child<QLineEdit>(&page, "lenum")->setText(QString::number(rows.size()));
    auto *table = child<QTableWidget>(&page, "twShow");
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows[r].size(); ++c)
            table->item(r, c)->setText(rows[r][c]);
}

static void choosePort(Form3 &page, const QString &path)
{
    setExtraPorts({path});
    click(&page, "pushButton_6");
    auto *box = child<QComboBox>(&page, "comboBox");
    box->setCurrentIndex(box->findText(path));
}

struct Download
{
    std::unique_ptr<sim::CollectorSim> collector;
    QStringList frames;
};

static Download download(const Rows &rows, const sim::Options &opt = sim::Options(),
                         bool deviceTwo = false)
{
    Download d;
    d.collector = startSim(opt);
    if (!d.collector)
        return d;
    Form3 page;
    if (deviceTwo)
        click(&page, "pushButton_5");
    setTable(page, rows);
    choosePort(page, d.collector->portPath());
    click(&page, "pushButton_2");
    waitUntil([&] { return !page.downloading(); }, 15000);
    d.frames = d.collector->receivedFrames();
    return d;
}

// Frames as the command table writes them: hexadecimal text.
static QString withCrc(const QString &body, rtu::CrcOrder order)
{
    return rtu::hexText(rtu::withCrc(QByteArray::fromHex(body.toLatin1()), order));
}

static QString m702(const QString &body)
{
    return withCrc(body, rtu::CrcOrder::LowFirst);
}

static QString m701(const QString &body)
{
    return withCrc(body, rtu::CrcOrder::HighFirst);
}

static QString floatHex(float v)
{
    return rtu::hexText(rtu::floatLE(v));
}

static QString address(int a)
{
    return QStringLiteral("%1").arg(a, 4, 16, QLatin1Char('0'));
}

static QString mxb(int ch, float m = 1, float b = 0)
{
    return QStringLiteral("0110") + address(2 * ch - 186) + "000408" +
           floatHex(m) + floatHex(b);
}

void ChannelsTest::m702FourResistanceChannels()
{
    TempDatabase db;
    Rows rows;
    for (int i = 0; i < 4; ++i)
        rows << row(QString::number(101 + i), "铂电阻", "PT100-385", "四线制");
    const Download d = download(rows);
    QStringList expected{m702("01101017000408000000000000000F")};
    for (int ch = 101; ch <= 104; ++ch)
        expected << m702("0106" + address(ch + 4027) + "8220") << m702(mxb(ch));
    QCOMPARE(d.frames, expected);
    QCOMPARE(firstLines(), QStringList{"成功|设置完成!"});
    const storage::Selection s = storage::readSelection().value;
    QCOMPARE(s.secA, QString("4"));
    QCOMPARE(s.roadA, QString("4;0;0;"));
    QCOMPARE(s.roadtypeA, QString("0000"));
    QCOMPARE(channelTable(storage::Device::A), rows);
    QCOMPARE(d.collector->enabledChannels(), (QList<int>{101, 102, 103, 104}));
}

void ChannelsTest::m702MixedTable()
{
    TempDatabase db;
    Rows rows{row("101", "铂电阻", "PT100-385", "四线制", {"1.5", "-0.25"}),
              row("102", "铂电阻", "ITS90", "三线制",
                  {"1", "0", "100.5", "", "", "0.0039", "-5.8e-7", "0", "1e-5", "2e-6"}),
              row("103", "直流电压-T", "", ""),
              row("104", "直流电压-H", "", ""),
              row("105", "热电偶", "K", "", {"1", "0", "", "内部补偿", ""}),
              row("106", "热电偶", "J", "", {"1", "0", "", "固定补偿", "20"}),
              row("107", "热电偶", "T", "", {"1", "0", "", "固定补偿", "25"})};
    const Download d = download(rows);
    QStringList expected{m702("01101017000408000000000000007F"),
                         m702("010610208220"),
                         m702(mxb(101, 1.5f, -0.25f)),
                         m702("010610218B10"),
                         m702("0110001200"
                              "0C18" +
                              floatHex(100.5f) + floatHex(0.0039f) +
                              floatHex(-5.8e-7f) + floatHex(0) +
                              floatHex(1e-5f) + floatHex(2e-6f)),
                         m702(mxb(102)),
                         m702("01061022000F"),
                         m702(mxb(103)),
                         m702("01061023000F"),
                         m702(mxb(104)),
                         m702("01061024A700"),
                         m702(mxb(105)),
                         m702("01061025A640"),
                         m702(mxb(106)),
                         m702("01061026AD40"),
                         m702(mxb(107)),
                         m702("011001F0000204" + floatHex(25))};
    QCOMPARE(d.frames, expected);
    QCOMPARE(firstLines(), QStringList{"成功|设置完成!"});
    const storage::Selection s = storage::readSelection().value;
    QCOMPARE(s.roadA, QString("3;1;3;"));
    QCOMPARE(s.roadtypeA, QString("0001000"));
    QCOMPARE(s.secA, QString("7"));
    QCOMPARE(d.collector->coldJunction(), 25.0f);
    QCOMPARE(d.collector->correction(101), qMakePair(1.5f, -0.25f));
}

void ChannelsTest::m701TcSendsTypeThenCorrections()
{
    TempDatabase db;
    sim::Options opt;
    opt.family = rtu::Family::M701TC;
    Rows rows{row("101", "TC", "K", "", {"1", "0"}), row("102", "TC", "K", "", {"2", "0.5"})};
    const Download d = download(rows, opt);
    QCOMPARE(d.frames.value(0), m701("0106000D0008"));
    QCOMPARE(d.frames,
             (QStringList{m701("0106000D0008"), m701(mxb(101)), m701(mxb(102, 2, 0.5f))}));
    QCOMPARE(firstLines(), QStringList{"成功|设置完成!"});
    QCOMPARE(storage::readSelection().value.roadA, QString("0;0;2"));
    QCOMPARE(d.collector->m701Setting(), QString("0008"));
}

void ChannelsTest::m701RtdWithoutIts90SendsOnlyTheWiring()
{
    TempDatabase db;
    sim::Options opt;
    opt.family = rtu::Family::M701RTD;
    Rows rows{row("101", "RTD", "RTD", "三线制"), row("102", "RTD", "RTD", "三线制")};
    const Download d = download(rows, opt);
    QCOMPARE(d.frames, QStringList{m701("0106000C0001")});
    QCOMPARE(firstLines(), QStringList{"成功|设置完成!"});
    QCOMPARE(storage::readSelection().value.roadA, QString("0;0;2"));
}

void ChannelsTest::m701RtdSendsIts90Rows()
{
    TempDatabase db;
    sim::Options opt;
    opt.family = rtu::Family::M701RTD;
    Rows rows{
        row("101", "RTD", "RTD", "四线制"),
        row("102", "RTD", "ITS90", "四线制", {"1", "0", "99.9", "", "", "1", "2", "3", "4", "5"})};
    const Download d = download(rows, opt);
    QCOMPARE(d.frames.size(), 2);
    QCOMPARE(d.frames[1], m701("0110001200"
                               "0C18" +
                               floatHex(99.9f) + floatHex(1) + floatHex(2) +
                               floatHex(3) + floatHex(4) + floatHex(5)));
    QCOMPARE(firstLines(), QStringList{"成功|设置完成!"});
}

void ChannelsTest::silentCollectorFailsAndStoresNothing()
{
    TempDatabase db;
    const Row old = row("150", "铂电阻", "PT100-385", "四线制");
    QVERIFY(storage::storeChannelLayout(storage::Device::A, channelRecords({old}), "1", "1;0;0;", "0").ok);
    sim::Options opt;
    opt.silentAfter = 0;
    const Download d = download({row("101", "铂电阻", "PT100-385", "四线制")}, opt);
    QCOMPARE(d.frames.size(), 1);
    QCOMPARE(firstLines(), QStringList{"失败|设置失败!"});
    QCOMPARE(channelTable(storage::Device::A), Rows{old});
    QCOMPARE(storage::readSelection().value.roadA, QString("1;0;0;"));
}

void ChannelsTest::unconfirmedChannelsAreStoredButReported()
{
    TempDatabase db;
    sim::Options opt;
    opt.silentAfter = 3; // mask, 101 type, 101 MX+B
    const Rows rows{row("101", "铂电阻", "PT100-385", "四线制"),
                    row("102", "铂电阻", "PT100-385", "四线制")};
    const Download d = download(rows, opt);
    QCOMPARE(d.frames.size(), 5);
    const QStringList boxes = shown();
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes[0].startsWith("失败|") && boxes[0].contains("102") && !boxes[0].contains("101"),
             qPrintable(boxes[0]));
    QCOMPARE(channelTable(storage::Device::A), rows);
}

void ChannelsTest::corruptedTypeAckIsUnconfirmed()
{
    TempDatabase db;
    sim::Options opt;
    opt.corruptEvery = 2; // the first type acknowledgement
    const Download d = download({row("101", "铂电阻", "PT100-385", "四线制")}, opt);
    QCOMPARE(d.frames.size(), 3);
    QVERIFY(shown().value(0).startsWith("失败|"));
    QVERIFY(shown().value(0).contains("101"));
}

using WriteReplies = sim::Options::WriteReplies;
Q_DECLARE_METATYPE(WriteReplies)
Q_DECLARE_METATYPE(rtu::Family)

namespace {

// A table of every probe type the family takes: a resistance thermometer
// with ITS-90 coefficients, a thermocouple with fixed compensation, the two
// DC-voltage transmitters.
Rows everyProbeType(rtu::Family family)
{
    const QStringList its90{"1", "0", "100.2", "", "", "0.0039", "-5.8e-7", "0", "1e-5", "2e-6"};
    switch (family) {
    case rtu::Family::M701TC:
        return {row("101", "TC", "K", "", {"1.01", "-0.2"}), row("102", "TC", "K", ""),
                row("103", "TC", "K", "", {"0.99", "0.1"})};
    case rtu::Family::M701RTD:
        return {row("101", "RTD", "ITS90", "四线制", its90), row("102", "RTD", "RTD", "四线制"),
                row("103", "RTD", "ITS90", "四线制", its90)};
    case rtu::Family::M702:
        break;
    }
    return {row("101", "铂电阻", "PT100-385", "四线制", {"1.5", "-0.25"}),
            row("102", "铂电阻", "ITS90", "三线制", its90), row("103", "直流电压-T", "", ""),
            row("104", "直流电压-H", "", ""),
            row("105", "热电偶", "K", "", {"1", "0", "", "固定补偿", "22.5"})};
}

void addFamilyLayoutRows()
{
    QTest::addColumn<rtu::Family>("family");
    QTest::addColumn<WriteReplies>("layout");
    const QList<QPair<const char *, rtu::Family>> families{{"M702", rtu::Family::M702},
                                                           {"M701-TC", rtu::Family::M701TC},
                                                           {"M701-RTD", rtu::Family::M701RTD}};
    for (const auto &f : families)
        for (WriteReplies layout : {WriteReplies::Counted, WriteReplies::Echo})
            QTest::addRow("%s, %s", f.first, layout == WriteReplies::Echo ? "echo" : "counted")
                << f.second << layout;
}

// A collector of the row's family answering in the row's write layout.
sim::Options fetchedCollector()
{
    QFETCH(rtu::Family, family);
    QFETCH(WriteReplies, layout);
    sim::Options opt;
    opt.family = family;
    opt.writeReplies = layout;
    return opt;
}

// The channel a register-block write configures (0: none).
int channelOfBlockWrite(const QByteArray &request)
{
    if (request.size() < 8 || quint8(request[1]) != 0x10)
        return 0;
    const int address = (quint8(request[2]) << 8) | quint8(request[3]);
    if (address < 0x10 || address > 0x8E)
        return 0;
    return (address + 186) / 2;
}

} // namespace

void ChannelsTest::everyProbeTypeInEitherWriteLayout_data()
{
    addFamilyLayoutRows();
}

void ChannelsTest::everyProbeTypeInEitherWriteLayout()
{
    QFETCH(rtu::Family, family);
    TempDatabase db;
    const sim::Options opt = fetchedCollector();
    const Rows rows = everyProbeType(family);
    const Download d = download(rows, opt);
    QVERIFY(d.collector);
    QCOMPARE(firstLines(), QStringList{"成功|设置完成!"});
    QCOMPARE(channelTable(storage::Device::A), rows);
    // What the collector keeps is what the table says.
    if (family == rtu::Family::M702) {
        QCOMPARE(d.frames.size(), 1 + 5 * 2 + 1 + 1); // mask, type+MX+B each, ITS-90, cold junction
        QCOMPARE(d.collector->correction(101), qMakePair(1.5f, -0.25f));
        QCOMPARE(d.collector->its90(102).value(0), 100.2f);
        QCOMPARE(d.collector->coldJunction(), 22.5f);
        QCOMPARE(d.collector->channelType(105), QString("A740"));
        QCOMPARE(storage::readSelection().value.roadA, QString("3;1;1;"));
    } else if (family == rtu::Family::M701TC) {
        QCOMPARE(d.frames.size(), 1 + 3);
        QCOMPARE(d.collector->correction(103), qMakePair(0.99f, 0.1f));
    } else {
        QCOMPARE(d.frames.size(), 1 + 2);
        QCOMPARE(d.collector->its90(103).value(1), 0.0039f);
        QVERIFY(d.collector->its90(102).isEmpty());
    }
}

void ChannelsTest::oneBadReplyLeavesOnlyItsChannelUnconfirmed_data()
{
    addFamilyLayoutRows();
}

void ChannelsTest::oneBadReplyLeavesOnlyItsChannelUnconfirmed()
{
    QFETCH(rtu::Family, family);
    TempDatabase db;
    sim::Options opt = fetchedCollector();
    // The first register-block reply of 101 one byte short (a wrong length),
    // that of 103 with its last byte changed (a bad CRC).
    QSet<int> altered;
    opt.alterReply = [&altered](const QByteArray &request, QByteArray reply) {
        const int channel = channelOfBlockWrite(request);
        if (altered.contains(channel))
            return reply;
        if (channel == 101) {
            reply.chop(1);
            altered << channel;
        } else if (channel == 103) {
            reply[reply.size() - 1] = char(reply[reply.size() - 1] ^ 0x01);
            altered << channel;
        }
        return reply;
    };
    const Rows rows = everyProbeType(family);
    const Download d = download(rows, opt);
    QVERIFY(d.collector);
    QCOMPARE(altered, (QSet<int>{101, 103}));
    QCOMPARE(shown(), QStringList{"失败|通道 101、103 未得到采集器确认，请重新设置。"});
    // The table is stored all the same: the collector holds the rest of it.
    QCOMPARE(channelTable(storage::Device::A), rows);
}

void ChannelsTest::portThatCannotOpenSendsAndStoresNothing()
{
    TempDatabase db;
    Form3 page;
    setTable(page, {row("101", "铂电阻", "PT100-385", "四线制")});
    choosePort(page, "/dev/orven-no-port");
    click(&page, "pushButton_2");
    QCOMPARE(firstLines(), QStringList{"提示|连接失败！"});
    QVERIFY(channelTable(storage::Device::A).isEmpty());
    QVERIFY(child<QPushButton>(&page, "pushButton_2")->isEnabled());
}

void ChannelsTest::deviceTwoStoresIntoItsOwnTable()
{
    TempDatabase db;
    const Rows rows{row("101", "直流电压-H", "", ""), row("102", "直流电压-H", "", "")};
    const Download d = download(rows, sim::Options(), true);
    QCOMPARE(firstLines(), QStringList{"成功|设置完成!"});
    const storage::Selection s = storage::readSelection().value;
    QCOMPARE(s.secB, QString("2"));
    QCOMPARE(s.roadB, QString("0;2;0;"));
    QCOMPARE(s.roadtypeB, QString("11"));
    QCOMPARE(s.secA, QString());
    QCOMPARE(channelTable(storage::Device::B), rows);
    QVERIFY(channelTable(storage::Device::A).isEmpty());
}

void ChannelsTest::failingStoreKeepsThePreviousLayout()
{
    TempDatabase db;
    const Row old = row("150", "铂电阻", "PT100-385", "四线制");
    QVERIFY(storage::storeChannelLayout(storage::Device::A, channelRecords({old}), "1", "1;0;0;", "0").ok);
    QVERIFY(sql("create trigger ro before update of roadtypeA on secdevice begin "
                "select raise(abort, 'read-only'); end"));
    download({row("101", "铂电阻", "PT100-385", "四线制")});
    QCOMPARE(shown().size(), 1);
    QVERIFY(shown()[0].startsWith("失败|") && shown()[0].contains("read-only"));
    QCOMPARE(channelTable(storage::Device::A), Rows{old});
    QCOMPARE(storage::readSelection().value.secA, QString("1"));
}

void ChannelsTest::controlsAreLockedDuringTheDownload()
{
    TempDatabase db;
    auto collector = startSim();
    QVERIFY(collector);
    Form3 page;
    setTable(page, {row("101", "铂电阻", "PT100-385", "四线制"),
                    row("102", "铂电阻", "PT100-385", "四线制")});
    choosePort(page, collector->portPath());
    auto *go = child<QPushButton>(&page, "pushButton_2");
    go->click(); // the download goes on while the page answers
    QTest::qWait(100);
    QCOMPARE(go->text(), QString("正在设置"));
    QVERIFY(!go->isEnabled() && !child<QTableWidget>(&page, "twShow")->isEnabled() &&
            !child<QLineEdit>(&page, "lenum")->isEnabled() &&
            !child<QPushButton>(&page, "pushButton_5")->isEnabled() &&
            !child<QPushButton>(&page, "pushButton")->isEnabled());
    // A switch attempt during the pauses changes nothing.
    click(&page, "pushButton_5");
    go->click();
    QVERIFY(waitUntil([] { return !shown().isEmpty(); }, 10000));
    QCOMPARE(go->text(), QString("设置通道"));
    QVERIFY(go->isEnabled());
    QCOMPARE(child<QPushButton>(&page, "pushButton_5")->text(), QString("切换到设备二"));
    QCOMPARE(collector->receivedFrames().size(), 5);
    QCOMPARE(firstLines(), QStringList{"成功|设置完成!"});
}

void ChannelsTest::rowChecksRefuseBeforeSending_data()
{
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<QString>("mentions");
    const Row ok = row("101", "铂电阻", "PT100-385", "四线制");
    QTest::newRow("blank after number")
        << Rows{ok, row("105 ", "铂电阻", "PT100-385", "四线制")} << "通道编号";
    QTest::newRow("leading zero") << Rows{row("0101", "铂电阻", "PT100-385", "四线制")}
                                  << "通道编号";
    QTest::newRow("sign") << Rows{row("+101", "铂电阻", "PT100-385", "四线制")} << "通道编号";
    QTest::newRow("below 101") << Rows{row("92", "铂电阻", "PT100-385", "四线制")} << "通道编号";
    QTest::newRow("above 164") << Rows{row("165", "直流电压-T", "", "")} << "通道编号";
    QTest::newRow("M701 above 116") << Rows{row("117", "TC", "K", "")} << "通道编号";
    QTest::newRow("thermocouple without compensation")
        << Rows{ok, row("102", "热电偶", "K", "")} << "补偿方式";
    QTest::newRow("M701 type in M702 table")
        << Rows{ok, row("102", "热电偶", "L", "", {"1", "0", "", "内部补偿"})} << "通道类型";
    QTest::newRow("unknown wiring") << Rows{row("101", "铂电阻", "PT100-385", "")} << "接线线制";
    QTest::newRow("unknown probe in M702 table")
        << Rows{ok, row("102", "RTD", "RTD", "四线制")} << "探头类型";
    QTest::newRow("M not a number")
        << Rows{row("101", "铂电阻", "PT100-385", "四线制", {"x"})} << "MX+B(M)";
    QTest::newRow("B empty") << Rows{row("101", "直流电压-H", "", "", {"1", ""})} << "MX+B(B)";
    QTest::newRow("ITS90 coefficient missing")
        << Rows{row("101", "铂电阻", "ITS90", "四线制",
                    {"1", "0", "100", "", "", "1", "2", "", "4", "5"})}
        << "C";
    QTest::newRow("fixed compensation without temperature")
        << Rows{row("101", "热电偶", "K", "", {"1", "0", "", "固定补偿", ""})} << "冷端温度";
    QTest::newRow("M701-TC unknown type") << Rows{row("101", "TC", "Q", "")} << "通道类型";
    QTest::newRow("M701-TC mixed probe types")
        << Rows{row("101", "TC", "K", ""), row("102", "RTD", "RTD", "四线制")} << "探头类型";
    QTest::newRow("M701-RTD wiring") << Rows{row("101", "RTD", "RTD", "")} << "接线线制";
    QTest::newRow("M701-RTD ITS90 R0") << Rows{row("101", "RTD", "ITS90", "四线制",
                                                   {"1", "0", "", "", "", "1", "2", "3", "4", "5"})}
                                       << "R0";
    QTest::newRow("combo marker without editor")
        << Rows{row("101", "铂电阻", "AAA", "四线制")} << "通道类型";
}

void ChannelsTest::rowChecksRefuseBeforeSending()
{
    QFETCH(Rows, rows);
    QFETCH(QString, mentions);
    TempDatabase db;
    const Download d = download(rows);
    QVERIFY(d.collector);
    QCOMPARE(d.frames, QStringList());
    const QStringList boxes = shown();
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes[0].startsWith("失败|通道 ") && boxes[0].contains("“" + mentions + "”"),
             qPrintable(boxes[0]));
    QVERIFY(channelTable(storage::Device::A).isEmpty());
}

void ChannelsTest::emptyTableAndDuplicates()
{
    TempDatabase db;
    QCOMPARE(download({}).frames, QStringList());
    QCOMPARE(firstLines(), QStringList{"失败|还未配置通道!"});
    prompts::clearRecords();
    const Download d =
        download({row("105", "铂电阻", "PT100-385", "四线制"), row("105", "直流电压-T", "", "")});
    QCOMPARE(d.frames, QStringList());
    QCOMPARE(firstLines(), QStringList{"失败|存在相同通道编号!"});
}

// ---- table ----

void ChannelsTest::lenumRebuildsWithDefaults()
{
    TempDatabase db;
    Form3 page;
    auto *table = child<QTableWidget>(&page, "twShow");
    child<QLineEdit>(&page, "lenum")->setText("3");
    QCOMPARE(table->rowCount(), 3);
    QCOMPARE(table->columnCount(), 15); // the channel's columns, then its location
    QCOMPARE(table->horizontalHeaderItem(7)->text(), QString("补偿方式"));
    QCOMPARE(table->horizontalHeaderItem(14)->text(), QString("位置"));
    QCOMPARE(page.cellText(2, 0), QString("103"));
    QCOMPARE(page.cellText(0, 1), QString("铂电阻"));
    QCOMPARE(page.cellText(0, 2), QString("PT100-385"));
    QCOMPARE(page.cellText(0, 3), QString("四线制"));
    QCOMPARE(page.cellText(0, 4), QString("1"));
    QCOMPARE(page.cellText(0, 5), QString("0"));
    QCOMPARE(page.cellText(0, 6), QString("100"));
    QCOMPARE(page.cellText(0, 7), QString());
    for (const char *text : {"0", "x", ""}) {
        child<QLineEdit>(&page, "lenum")->setText(text);
        QCOMPARE(table->rowCount(), 0);
    }
}

void ChannelsTest::switchingDevicesLoadsEachTable()
{
    TempDatabase db;
    const Rows a{row("101", "铂电阻", "PT100-385", "四线制")};
    const Rows b{row("120", "直流电压-H", "", ""),
                 row("121", "热电偶", "K", "", {"1", "0", "", "内部补偿"})};
    QVERIFY(storage::storeChannelLayout(storage::Device::A, channelRecords(a), "1", "1;0;0;", "0").ok);
    QVERIFY(storage::storeChannelLayout(storage::Device::B, channelRecords(b), "2", "0;1;1;", "10").ok);
    Form3 page;
    QCOMPARE(child<QLineEdit>(&page, "lenum")->text(), QString("1"));
    QCOMPARE(page.cellText(0, 0), QString("101"));
    click(&page, "pushButton_5");
    QCOMPARE(child<QLabel>(&page, "label")->text(), QString("设备二"));
    QCOMPARE(child<QPushButton>(&page, "pushButton_5")->text(), QString("切换到设备一"));
    QCOMPARE(child<QLineEdit>(&page, "lenum")->text(), QString("2"));
    QCOMPARE(page.cellText(1, 7), QString("内部补偿"));
    click(&page, "pushButton_5");
    QCOMPARE(child<QLabel>(&page, "label")->text(), QString("设备一"));
    QCOMPARE(child<QTableWidget>(&page, "twShow")->rowCount(), 1);
}

void ChannelsTest::humidityFlags()
{
    QCOMPARE(
        channels::humidityFlags({row("101", "铂电阻", "", ""), row("102", "直流电压-H", "", ""),
                                 row("103", "直流电压-H", "", ""), row("104", "热电偶", "", "")}),
        QString("0110"));
}

void ChannelsTest::duplicateCheckComparesTexts()
{
    QVERIFY(!channels::channelNumbersUnique({"105", "101", "105"}));
    QVERIFY(channels::channelNumbersUnique({"105", "105 "}));
    QVERIFY(channels::channelNumbersUnique({"101", "0101"}));
    QVERIFY(channels::channelNumbersUnique({}));
    TempDatabase db;
    Form3 page;
    setTable(page, {row("105", "铂电阻", "", ""), row("105 ", "铂电阻", "", "")});
    QVERIFY(page.channelNumbersUnique());
}

void ChannelsTest::doubleClickEditors()
{
    TempDatabase db;
    Form3 page;
    setTable(page, {row("101", "直流电压-T", "", ""), row("102", "铂电阻", "Cu50-428", "三线制")});
    auto *table = child<QTableWidget>(&page, "twShow");
    QMetaObject::invokeMethod(&page, "on_twShow_cellDoubleClicked", Q_ARG(int, 0), Q_ARG(int, 2));
    QVERIFY(!table->cellWidget(0, 2));
    QCOMPARE(page.cellText(0, 2), QString());
    QMetaObject::invokeMethod(&page, "on_twShow_cellDoubleClicked", Q_ARG(int, 1), Q_ARG(int, 2));
    auto *box = qobject_cast<QComboBox *>(table->cellWidget(1, 2));
    QVERIFY(box);
    QCOMPARE(box->count(), 11);
    QCOMPARE(table->item(1, 2)->text(), QString("AAA"));
    QCOMPARE(page.cellText(1, 2), QString("Cu50-428"));
    box->setCurrentText("Pt1000-385");
    QCOMPARE(page.cellText(1, 2), QString("Pt1000-385"));
    QMetaObject::invokeMethod(&page, "on_twShow_cellDoubleClicked", Q_ARG(int, 1), Q_ARG(int, 7));
    QCOMPARE(qobject_cast<QComboBox *>(table->cellWidget(1, 7))->itemText(0), QString("固定补偿"));
    QMetaObject::invokeMethod(&page, "on_twShow_cellDoubleClicked", Q_ARG(int, 1), Q_ARG(int, 4));
    QVERIFY(!table->cellWidget(1, 4));
    // A marker left without its editor reads as the marker, and is refused by the download.
    table->removeCellWidget(1, 2);
    QCOMPARE(page.cellText(1, 2), QString("AAA"));
}

void ChannelsTest::probeTypeChangeClearsWhatNoLongerApplies_data()
{
    // Columns after the number: probe, sensor, wiring, M, B, R0, compensation,
    // cold junction, A, B, C, A4, B4.
    QTest::addColumn<QString>("probe");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("humidity transmitter")
        << "直流电压-H" << QStringList{"直流电压-H", "", "", "1", "0", "", "", "", "", "", "", "", ""};
    QTest::newRow("thermocouple")
        << "热电偶"
        << QStringList{"热电偶", "A", "", "1.01", "-0.2", "", "固定补偿", "20", "", "", "", "", ""};
    QTest::newRow("RTD collector")
        << "RTD"
        << QStringList{"RTD", "RTD", "四线制", "1.01", "-0.2", "100", "", "", "", "", "", "", ""};
}

void ChannelsTest::probeTypeChangeClearsWhatNoLongerApplies()
{
    QFETCH(QString, probe);
    QFETCH(QStringList, expected);
    TempDatabase db;
    Form3 page;
    // A resistance row with a correction and (left over) cold-junction data.
    setTable(page, {storage::Row{"101", "铂电阻", "PT100-385", "四线制", "1.01", "-0.2", "100",
                                 "固定补偿", "20", "", "", "", "", ""}});
    QMetaObject::invokeMethod(&page, "on_twShow_cellDoubleClicked", Q_ARG(int, 0), Q_ARG(int, 1));
    auto *box = qobject_cast<QComboBox *>(child<QTableWidget>(&page, "twShow")->cellWidget(0, 1));
    QVERIFY(box);
    box->setCurrentText(probe);
    QStringList cells;
    for (int c = 1; c < channels::ColumnCount; ++c)
        cells << page.cellText(0, c);
    QCOMPARE(cells, expected);
    // The batch dialog's rule and the table's are one.
    QCOMPARE(channels::withProbeType(page.tableRows().value(0), probe).mid(1), expected);
}

static Form4 *openDialog()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<Form4 *>(w))
            if (d->isVisible())
                return d;
    return nullptr;
}

void ChannelsTest::selectAllThenBatchChangesEveryRow()
{
    TempDatabase db;
    Form3 page;
    child<QLineEdit>(&page, "lenum")->setText("4");
    auto *table = child<QTableWidget>(&page, "twShow");
    QMetaObject::invokeMethod(&page, "on_twShow_cellDoubleClicked", Q_ARG(int, 2), Q_ARG(int, 3));
    QVERIFY(table->cellWidget(2, 3));
    child<QCheckBox>(&page, "checkBox")->setChecked(true);
    click(&page, "pushButton");
    Form4 *dialog = openDialog();
    QVERIFY(dialog);
    QCOMPARE(dialog->windowModality(), Qt::ApplicationModal);
    child<QComboBox>(dialog, "comboBox_2")->setCurrentText("热电偶");
    child<QComboBox>(dialog, "comboBox_3")->setCurrentText("K");
    click(dialog, "pushButton_2");
    for (int r = 0; r < 4; ++r) {
        QCOMPARE(page.cellText(r, 0), QString::number(101 + r));
        QCOMPARE(page.cellText(r, 1), QString("热电偶"));
        QCOMPARE(page.cellText(r, 2), QString("K"));
        QCOMPARE(page.cellText(r, 3), QString());
        QCOMPARE(page.cellText(r, 7), QString("内部补偿"));
    }
    QVERIFY(!table->cellWidget(2, 3)); // the stale editor is gone
}

void ChannelsTest::batchWithoutSelection()
{
    TempDatabase db;
    Form3 page;
    child<QLineEdit>(&page, "lenum")->setText("2");
    auto *table = child<QTableWidget>(&page, "twShow");
    table->setCurrentCell(0, 3); // one cell is not a row
    click(&page, "pushButton");
    QCOMPARE(firstLines(), QStringList{"失败|未选择通道！!"});
    QVERIFY(!openDialog());
}

// ---- dialog ----

static QStringList confirm(Form4 &dialog)
{
    QSignalSpy spy(&dialog, &Form4::sendData);
    click(&dialog, "pushButton_2");
    if (spy.count() != 1)
        return {};
    QStringList values;
    for (const QVariant &v : spy.first())
        values << v.toString();
    return values;
}

void ChannelsTest::dialogConfirmAtOnce()
{
    Form4 dialog;
    QCOMPARE(dialog.size(), QSize(595, 573));
    QVERIFY(!(dialog.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!child<QLineEdit>(&dialog, "lineEdit_3")->isEnabled());
    QVERIFY(!child<QComboBox>(&dialog, "comboBox_4")->isEnabled());
    QVERIFY(!child<QLineEdit>(&dialog, "lineEdit_4")->isEnabled());
    QCOMPARE(child<QComboBox>(&dialog, "comboBox_3")->count(), 12);
    QStringList expected{"铂电阻", "PT100-385", "四线制", "1", "0"};
    for (int i = 0; i < 8; ++i)
        expected << "";
    QCOMPARE(confirm(dialog), expected);
}

void ChannelsTest::dialogM701Tc()
{
    Form4 dialog;
    child<QComboBox>(&dialog, "comboBox_2")->setCurrentText("M701-TC");
    QCOMPARE(child<QComboBox>(&dialog, "comboBox_3")->count(), 20);
    QVERIFY(!child<QComboBox>(&dialog, "comboBox")->isEnabled());
    child<QComboBox>(&dialog, "comboBox_3")->setCurrentText("K");
    const QStringList values = confirm(dialog);
    QCOMPARE(values.mid(0, 3), (QStringList{"TC", "K", ""}));
    child<QComboBox>(&dialog, "comboBox_2")->setCurrentText("M701-RTD");
    QCOMPARE(child<QComboBox>(&dialog, "comboBox_3")->itemText(0), QString("RTD"));
    QVERIFY(!child<QLineEdit>(&dialog, "lineEdit_3")->isEnabled());
}

void ChannelsTest::dialogDcHumidity()
{
    Form4 dialog;
    child<QLineEdit>(&dialog, "lineEdit")->setText("2");
    child<QComboBox>(&dialog, "comboBox_2")->setCurrentText("直流电压-H");
    for (const char *name : {"comboBox", "comboBox_3", "comboBox_4"})
        QVERIFY(!child<QComboBox>(&dialog, name)->isEnabled());
    const QStringList values = confirm(dialog);
    QCOMPARE(values.mid(0, 5), (QStringList{"直流电压-H", "", "", "1", "0"}));
}

void ChannelsTest::dialogLeavingIts90()
{
    Form4 dialog;
    auto *sensor = child<QComboBox>(&dialog, "comboBox_3");
    sensor->setCurrentText("ITS90");
    QCOMPARE(child<QLineEdit>(&dialog, "lineEdit_3")->text(), QString("100"));
    QVERIFY(child<QLineEdit>(&dialog, "lineEdit_5")->isEnabled());
    for (int i = 5; i <= 9; ++i)
        child<QLineEdit>(&dialog, QStringLiteral("lineEdit_%1").arg(i))
            ->setText(QString::number(i));
    sensor->setCurrentText("Pt500-385");
    QCOMPARE(child<QLineEdit>(&dialog, "lineEdit_3")->text(), QString());
    QVERIFY(!child<QLineEdit>(&dialog, "lineEdit_9")->isEnabled());
    const QStringList values = confirm(dialog);
    QCOMPARE(values.mid(5), (QStringList{"", "", "", "5", "6", "7", "8", "9"}));
}

void ChannelsTest::dialogThermocouple()
{
    Form4 dialog;
    child<QComboBox>(&dialog, "comboBox_2")->setCurrentText("热电偶");
    auto *cold = child<QLineEdit>(&dialog, "lineEdit_4");
    QVERIFY(!cold->isEnabled());
    child<QComboBox>(&dialog, "comboBox_4")->setCurrentText("固定补偿");
    QVERIFY(cold->isEnabled());
    cold->setText("23.5");
    const QStringList values = confirm(dialog);
    QCOMPARE(values.mid(0, 3), (QStringList{"热电偶", "A", ""}));
    QCOMPARE(values[6], QString("固定补偿"));
    QCOMPARE(values[7], QString("23.5"));
}

QTEST_MAIN(ChannelsTest)
#include "tst_channels.moc"
