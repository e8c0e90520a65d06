// Frame text, CRC orders, encodings and the command table builders.

#include "link/commands.h"
#include "link/frames.h"

#include <QtTest>

using namespace rtu;

class FramesTest : public QObject
{
    Q_OBJECT

private slots:
    void crc_data();
    void crc();
    void crcIgnoresLetterCase();
    void floats_data();
    void floats();
    void readingsAreLenient_data();
    void readingsAreLenient();
    void literalFramesCarryTheirFamilysCrc_data();
    void literalFramesCarryTheirFamilysCrc();
    void maskAndAddresses_data();
    void maskAndAddresses();
    void m702TypeValues_data();
    void m702TypeValues();
    void assembledFrames();
    void buildersRefuseWhatIsOutsideTheTables_data();
    void buildersRefuseWhatIsOutsideTheTables();
    void replyCompleteness_data();
    void replyCompleteness();
    void replyCrcInEitherOrder();
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
    QCOMPARE(int(modbusCrc16(frameBytes(text))), crc);
    QCOMPARE(crcHex(text), low);
    QCOMPARE(crcHexSwapped(text), high);
    QCOMPARE(withCrc(text, CrcOrder::LowFirst), text + low);
    QCOMPARE(withCrc(text, CrcOrder::HighFirst), text + high);
}

void FramesTest::crcIgnoresLetterCase()
{
    QCOMPARE(crcHex("0106000e0001"), crcHex("0106000E0001"));
    QCOMPARE(crcHexSwapped("01061023ad00"), QString("5000"));
}

void FramesTest::floats_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("hex");
    QTest::newRow("1.0") << 1.0f << "0000803f";
    QTest::newRow("0.0") << 0.0f << "00000000";
    QTest::newRow("-1.0") << -1.0f << "000080bf";
    QTest::newRow("25.0") << 25.0f << "0000c841";
    QTest::newRow("100.0") << 100.0f << "0000c842";
    QTest::newRow("0.1") << 0.1f << "cdcccc3d";
}

void FramesTest::floats()
{
    QFETCH(float, value);
    QFETCH(QString, hex);
    QCOMPARE(floatHexLE(value), hex);
    float back = -99;
    QVERIFY(floatFromHexLE(hex, &back));
    QCOMPARE(back, value);
    QCOMPARE(readingFromHexLE(hex), value);
}

void FramesTest::readingsAreLenient_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<float>("value");
    QTest::newRow("blanks removed") << "00 00 c8 41" << 25.0f;
    QTest::newRow("too short") << "0000c8" << 0.0f;
    QTest::newRow("not hex") << "zz00c841" << 0.0f;
    QTest::newRow("upper case") << "0000C841" << 25.0f;
}

void FramesTest::readingsAreLenient()
{
    QFETCH(QString, text);
    QFETCH(float, value);
    QCOMPARE(readingFromHexLE(text), value);
}

void FramesTest::literalFramesCarryTheirFamilysCrc_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<bool>("lowFirst");
    QTest::newRow("M702 identification") << frame::identifyM702 << true;
    QTest::newRow("M701 identification") << frame::identifyM701 << false;
    QTest::newRow("M701 read") << frame::readM701 << false;
    QTest::newRow("M702 measure") << frame::measureM702 << true;
    QTest::newRow("speed 1") << frame::speedM702 << true;
    QTest::newRow("speed 2") << frame::speed2Echo << true;
    QTest::newRow("speed 3") << frame::speed3Echo << true;
}

void FramesTest::literalFramesCarryTheirFamilysCrc()
{
    QFETCH(QString, frame);
    QFETCH(bool, lowFirst);
    const QString body = frame.left(frame.size() - 4);
    const QString crc = lowFirst ? crcHex(body) : crcHexSwapped(body);
    QCOMPARE(frame.right(4).toUpper(), crc);
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
    QCOMPARE(m.text, mask);
    QCOMPARE(maskWrite(channels).text, withCrc("01101017000408" + mask, CrcOrder::LowFirst));
}

void FramesTest::m702TypeValues_data()
{
    QTest::addColumn<QString>("probe");
    QTest::addColumn<QString>("sensor");
    QTest::addColumn<QString>("wiring");
    QTest::addColumn<QString>("compensation");
    QTest::addColumn<QString>("value");
    QTest::newRow("PT100-385 four-wire") << "铂电阻"
                                         << "PT100-385"
                                         << "四线制"
                                         << ""
                                         << "8220";
    QTest::newRow("Cu100 two-wire") << "铂电阻"
                                    << "Cu100-428"
                                    << "二线制"
                                    << ""
                                    << "8A00";
    QTest::newRow("ITS90 three-wire") << "铂电阻"
                                      << "ITS90"
                                      << "三线制"
                                      << ""
                                      << "8B10";
    QTest::newRow("K internal") << "热电偶"
                                << "K"
                                << ""
                                << "内部补偿"
                                << "A700";
    QTest::newRow("Pt-Pd fixed") << "热电偶"
                                 << "Pt-Pd"
                                 << ""
                                 << "固定补偿"
                                 << "AF40";
    QTest::newRow("DC temperature") << "直流电压-T"
                                    << ""
                                    << ""
                                    << ""
                                    << "000F";
    QTest::newRow("DC humidity") << "直流电压-H"
                                 << ""
                                 << ""
                                 << ""
                                 << "000F";
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
    QCOMPARE(f.text, value);
}

void FramesTest::assembledFrames()
{
    // Channel 101: correction block at 0010, type register 1020; 102: 0012, 1021; 164: 008e, 105f.
    QCOMPARE(mxbWrite(Family::M702, 101, 1, 0).text, withCrc("01100010000408"
                                                             "0000803f"
                                                             "00000000",
                                                             CrcOrder::LowFirst));
    QCOMPARE(mxbWrite(Family::M701TC, 102, 1, 0).text, withCrc("01100012000408"
                                                               "0000803f"
                                                               "00000000",
                                                               CrcOrder::HighFirst));
    QCOMPARE(mxbWrite(Family::M702, 164, 1, 0).text.left(8), QString("0110008e"));
    QCOMPARE(m702TypeWrite(101, "8220").text, withCrc("010610208220", CrcOrder::LowFirst));
    QCOMPARE(m702TypeWrite(102, "A700").text, withCrc("01061021A700", CrcOrder::LowFirst));
    QCOMPARE(m702TypeWrite(164, "000F").text.left(8), QString("0106105f"));
    // Type K on an M701-TC: 0x000D := 0008, CRC high byte first.
    QCOMPARE(tcTypeWrite("K").text, "0106000D0008" + crcHexSwapped("0106000D0008"));
    QCOMPARE(rtdWiringWrite("三线制").text, "0106000C0001" + crcHexSwapped("0106000C0001"));
    QCOMPARE(its90Write(Family::M701RTD, 101, 100, 1, 0, 0, 0, 0).text,
             withCrc("0110001000"
                     "0C18"
                     "0000c842"
                     "0000803f"
                     "00000000"
                     "00000000"
                     "00000000"
                     "00000000",
                     CrcOrder::HighFirst));
    QCOMPARE(coldJunctionWrite(25).text, withCrc("011001F0000204"
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
    QTest::newRow("type register 165") << m702TypeWrite(165, "8220").error;
}

void FramesTest::buildersRefuseWhatIsOutsideTheTables()
{
    QFETCH(QString, error);
    QVERIFY(!error.isEmpty());
}

void FramesTest::replyCompleteness_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("complete");
    QString m701 = "010340" + QString("0000c841").repeated(16);
    m701 += crcHexSwapped(m701).toLower();
    QTest::newRow("69-byte M701 reply") << m701 << true;
    QTest::newRow("first half of it") << m701.left(70) << false;
    QString two = "010308" + QString("0000c841").repeated(2);
    two += crcHex(two).toLower();
    QTest::newRow("two M702 values") << two << true;
    QString all = "010300" + QString("0000c841").repeated(64);
    all += crcHex(all).toLower();
    QTest::newRow("64 values, count byte 0") << all << true;
    QTest::newRow("an echo") << QString("0106000e000129c9") << false;
    QTest::newRow("empty") << QString() << false;
}

void FramesTest::replyCompleteness()
{
    QFETCH(QString, reply);
    QFETCH(bool, complete);
    QCOMPARE(readReplyComplete(reply), complete);
}

void FramesTest::replyCrcInEitherOrder()
{
    QString low = "01030A" + QString("41").repeated(10);
    QString high = low + crcHexSwapped(low).toLower();
    low += crcHex(low).toLower();
    QVERIFY(replyCrcMatches(low));
    QVERIFY(replyCrcMatches(high));
    QString bad = low;
    bad[10] = bad[10] == QLatin1Char('0') ? QLatin1Char('1') : QLatin1Char('0');
    QVERIFY(!replyCrcMatches(bad));
    QVERIFY(!replyCrcMatches("0103"));
}

void FramesTest::asciiAndFormatting()
{
    QCOMPARE(asciiFromHex("4f5256373032303030310a"), QString("ORV7020001\n"));
    QCOMPARE(formatValue(23.0574), QString("23.057"));
    QCOMPARE(formatValue(-0.5), QString("-0.500"));
    QCOMPARE(registerAddress(0x1020), QString("1020"));
    QCOMPARE(registerAddress(0x8e), QString("008e"));
}

QTEST_GUILESS_MAIN(FramesTest)
#include "tst_frames.moc"
