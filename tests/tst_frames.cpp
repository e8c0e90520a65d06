// Frames, CRC orders, encodings and the command table builders. Frames are
// compared as the hexadecimal text the command table gives them.

#include "link/commands.h"
#include "link/frames.h"

#include <QtTest>

using namespace rtu;

namespace {

QByteArray bytes(const QString &hex)
{
    return QByteArray::fromHex(hex.toLatin1());
}

QString withCrcHex(const QString &body, CrcOrder order)
{
    return hexText(withCrc(bytes(body), order));
}

} // namespace

class FramesTest : public QObject
{
    Q_OBJECT

private slots:
    void crc_data();
    void crc();
    void floats_data();
    void floats();
    void literalFramesCarryTheirFamilysCrc_data();
    void literalFramesCarryTheirFamilysCrc();
    void maskAndAddresses_data();
    void maskAndAddresses();
    void m702TypeValues_data();
    void m702TypeValues();
    void assembledFrames();
    void buildersRefuseWhatIsOutsideTheTables_data();
    void buildersRefuseWhatIsOutsideTheTables();
    void crcInEitherOrder();
    void asciiAndFormatting();
};

void FramesTest::crc_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("crc");
    QTest::addColumn<QString>("low");
    QTest::addColumn<QString>("high");
    QTest::newRow("identification") << "010310000005" << 0x0981 << "8109"
                                    << "0981";
    QTest::newRow("small value keeps four digits") << "01061023AD00" << 0x5000 << "0050"
                                                   << "5000";
    QTest::newRow("M701 read") << "010301000020" << 0xEE45 << "45EE"
                               << "EE45";
    QTest::newRow("M702 measure") << "0106101A0001" << 0x0D6D << "6D0D"
                                  << "0D6D";
}

void FramesTest::crc()
{
    QFETCH(QString, text);
    QFETCH(int, crc);
    QFETCH(QString, low);
    QFETCH(QString, high);
    QCOMPARE(int(modbusCrc16(bytes(text))), crc);
    QCOMPARE(withCrcHex(text, CrcOrder::LowFirst), text.toUpper() + low);
    QCOMPARE(withCrcHex(text, CrcOrder::HighFirst), text.toUpper() + high);
}

void FramesTest::floats_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("hex");
    QTest::newRow("25") << 25.0f << "0000C841";
    QTest::newRow("1") << 1.0f << "0000803F";
    QTest::newRow("-0.5") << -0.5f << "000000BF";
    QTest::newRow("0") << 0.0f << "00000000";
    QTest::newRow("100") << 100.0f << "0000C842";
}

void FramesTest::floats()
{
    QFETCH(float, value);
    QFETCH(QString, hex);
    QCOMPARE(hexText(floatLE(value)), hex);
    QCOMPARE(floatAt(bytes("01" + hex + "02"), 1), value);
    QCOMPARE(floatAt(bytes(hex).left(3), 0), 0.0f); // too short: no value
}

void FramesTest::literalFramesCarryTheirFamilysCrc_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("lowFirst");
    QTest::addColumn<QString>("text");
    QTest::newRow("M702 identification") << frame::identify(Family::M702) << true
                                         << "0103100000058109";
    QTest::newRow("M701 identification") << frame::identify(Family::M701TC) << false
                                         << "0103100000050981";
    QTest::newRow("M701 read") << frame::readM701() << false << "010301000020EE45";
    QTest::newRow("M702 measure") << frame::measureM702() << true << "0106101A00016D0D";
    QTest::newRow("speed 1") << frame::speedM702() << true << "0106000E000129C9";
    QTest::newRow("speed 2") << frame::speed2Echo() << true << "0106000E000269C8";
    QTest::newRow("speed 3") << frame::speed3Echo() << true << "0106000E0003A808";
}

void FramesTest::literalFramesCarryTheirFamilysCrc()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, lowFirst);
    QFETCH(QString, text);
    QCOMPARE(hexText(frame), text);
    const QByteArray body = frame.left(frame.size() - 2);
    QCOMPARE(frame, withCrc(body, lowFirst ? CrcOrder::LowFirst : CrcOrder::HighFirst));
}

void FramesTest::maskAndAddresses_data()
{
    QTest::addColumn<QList<int>>("channels");
    QTest::addColumn<QString>("mask");
    QTest::newRow("101 and 164") << QList<int>{101, 164} << "8000000000000001";
    QTest::newRow("101 only") << QList<int>{101} << "0000000000000001";
    QTest::newRow("101-104") << QList<int>{101, 102, 103, 104} << "000000000000000F";
    QTest::newRow("116 and 117") << QList<int>{116, 117} << "0000000000018000";
    QTest::newRow("order does not matter") << QList<int>{164, 101} << "8000000000000001";
    QList<int> all;
    for (int ch = 101; ch <= 164; ++ch)
        all << ch;
    QTest::newRow("all 64") << all << "FFFFFFFFFFFFFFFF";
}

void FramesTest::maskAndAddresses()
{
    QFETCH(QList<int>, channels);
    QFETCH(QString, mask);
    const Frame m = channelMask(channels);
    QVERIFY2(m.ok(), qPrintable(m.error));
    QCOMPARE(m.hex(), mask);
    QCOMPARE(maskWrite(channels).hex(), withCrcHex("01101017000408" + mask, CrcOrder::LowFirst));
}

void FramesTest::m702TypeValues_data()
{
    QTest::addColumn<QString>("probe");
    QTest::addColumn<QString>("sensor");
    QTest::addColumn<QString>("wiring");
    QTest::addColumn<QString>("compensation");
    QTest::addColumn<QString>("value");
    QTest::newRow("PT100-385 four-wire") << "铂电阻" << "PT100-385" << "四线制" << "" << "8220";
    QTest::newRow("Cu100 two-wire") << "铂电阻" << "Cu100-428" << "二线制" << "" << "8A00";
    QTest::newRow("ITS90 three-wire") << "铂电阻" << "ITS90" << "三线制" << "" << "8B10";
    QTest::newRow("K internal") << "热电偶" << "K" << "" << "内部补偿" << "A700";
    QTest::newRow("Pt-Pd fixed") << "热电偶" << "Pt-Pd" << "" << "固定补偿" << "AF40";
    QTest::newRow("DC temperature") << "直流电压-T" << "" << "" << "" << "000F";
    QTest::newRow("DC humidity") << "直流电压-H" << "" << "" << "" << "000F";
}

void FramesTest::m702TypeValues()
{
    QFETCH(QString, probe);
    QFETCH(QString, sensor);
    QFETCH(QString, wiring);
    QFETCH(QString, compensation);
    QFETCH(QString, value);
    const Frame f = m702TypeValue(probe, sensor, wiring, compensation);
    QVERIFY2(f.ok(), qPrintable(f.error));
    QCOMPARE(f.hex(), value);
}

void FramesTest::assembledFrames()
{
    // Channel 101: correction block at 0010, type register 1020; 102: 0012, 1021; 164: 008e, 105f.
    QCOMPARE(mxbWrite(Family::M702, 101, 1, 0).hex(),
             withCrcHex("01100010000408"
                        "0000803f"
                        "00000000",
                        CrcOrder::LowFirst));
    QCOMPARE(mxbWrite(Family::M701TC, 102, 1, 0).hex(),
             withCrcHex("01100012000408"
                        "0000803f"
                        "00000000",
                        CrcOrder::HighFirst));
    QCOMPARE(mxbWrite(Family::M702, 164, 1, 0).hex().left(8), QString("0110008E"));
    QCOMPARE(m702TypeWrite(101, bytes("8220")).hex(), withCrcHex("010610208220", CrcOrder::LowFirst));
    QCOMPARE(m702TypeWrite(102, bytes("A700")).hex(), withCrcHex("01061021A700", CrcOrder::LowFirst));
    QCOMPARE(m702TypeWrite(164, bytes("000F")).hex().left(8), QString("0106105F"));
    // Type K on an M701-TC: 0x000D := 0008, CRC high byte first.
    QCOMPARE(tcTypeWrite("K").hex(), withCrcHex("0106000D0008", CrcOrder::HighFirst));
    QCOMPARE(rtdWiringWrite("三线制").hex(), withCrcHex("0106000C0001", CrcOrder::HighFirst));
    QCOMPARE(its90Write(Family::M701RTD, 101, 100, 1, 0, 0, 0, 0).hex(),
             withCrcHex("0110001000"
                        "0C18"
                        "0000c842"
                        "0000803f"
                        "00000000"
                        "00000000"
                        "00000000"
                        "00000000",
                        CrcOrder::HighFirst));
    QCOMPARE(coldJunctionWrite(25).hex(), withCrcHex("011001F0000204"
                                                     "0000c841",
                                                     CrcOrder::LowFirst));
}

void FramesTest::buildersRefuseWhatIsOutsideTheTables_data()
{
    QTest::addColumn<QString>("error");
    QTest::newRow("M701-TC type not in table") << tcTypeWrite("Q").error;
    QTest::newRow("M701-TC type case-sensitive") << tcTypeWrite("k").error;
    QTest::newRow("M701-RTD wiring") << rtdWiringWrite("五线制").error;
    QTest::newRow("channel 100") << mxbWrite(Family::M702, 100, 1, 0).error;
    QTest::newRow("channel 165") << mxbWrite(Family::M702, 165, 1, 0).error;
    QTest::newRow("M701 channel 117") << mxbWrite(Family::M701TC, 117, 1, 0).error;
    QTest::newRow("ITS90 channel 92") << its90Write(Family::M702, 92, 0, 0, 0, 0, 0, 0).error;
    QTest::newRow("mask channel 165") << maskWrite({101, 165}).error;
    QTest::newRow("L is M701 only") << m702TypeValue("热电偶", "L", "", "内部补偿").error;
    QTest::newRow("empty compensation") << m702TypeValue("热电偶", "K", "", "").error;
    QTest::newRow("empty wiring") << m702TypeValue("铂电阻", "PT100-385", "", "").error;
    QTest::newRow("unknown probe") << m702TypeValue("TC", "K", "", "").error;
    QTest::newRow("type register 165") << m702TypeWrite(165, bytes("8220")).error;
    QTest::newRow("type value of three bytes") << m702TypeWrite(101, bytes("822000")).error;
}

void FramesTest::buildersRefuseWhatIsOutsideTheTables()
{
    QFETCH(QString, error);
    QVERIFY(!error.isEmpty());
}

void FramesTest::crcInEitherOrder()
{
    const QByteArray body = bytes("01030A" + QString("41").repeated(10));
    QVERIFY(crcMatches(withCrc(body, CrcOrder::LowFirst)));
    QVERIFY(crcMatches(withCrc(body, CrcOrder::HighFirst)));
    QByteArray bad = withCrc(body, CrcOrder::LowFirst);
    bad[5] = char(bad[5] ^ 0x01);
    QVERIFY(!crcMatches(bad));
    QVERIFY(!crcMatches(bytes("0103")));
}

void FramesTest::asciiAndFormatting()
{
    QCOMPARE(asciiOf(bytes("4f5256373032303030310a")), QString("ORV7020001\n"));
    QCOMPARE(formatValue(23.0574), QString("23.057"));
    QCOMPARE(formatValue(-0.5), QString("-0.500"));
    QCOMPARE(hexText(be16(0x1020)), QString("1020"));
    QCOMPARE(hexText(be16(0x8e)), QString("008E"));
}

QTEST_GUILESS_MAIN(FramesTest)
#include "tst_frames.moc"
