// The exchange with a collector through a real serial port (QSerialPort on
// the simulator's pseudo-terminal): whole replies however they arrive, noise
// and faults, time limits, and the port list.

#include "link/commands.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "pages/pagekit.h"
#include "tests/testkit.h"

#include <QComboBox>
#include <QSignalSpy>

using namespace testkit;
using namespace rtu;

namespace {

struct Line
{
    Exchange exchange{std::make_unique<SerialPort>()};
    QList<Reply> replies, refusals;
    QList<QByteArray> noise;

    bool open(const QString &port)
    {
        QObject::connect(&exchange, &Exchange::replied, [this](const Reply &r) { replies << r; });
        QObject::connect(&exchange, &Exchange::refused, [this](const Reply &r) { refusals << r; });
        QObject::connect(&exchange, &Exchange::noise, [this](const QByteArray &b) { noise << b; });
        QString error;
        const bool ok = exchange.open(port, &error);
        if (!ok)
            qWarning() << error;
        return ok;
    }
    // Sends `frame` and waits for its one reply.
    Reply ask(const QByteArray &frame, int timeoutMs = 1000)
    {
        const int before = replies.size();
        exchange.request(frame, timeoutMs);
        waitUntil([&] { return replies.size() > before; }, timeoutMs + 2000);
        return replies.size() > before ? replies.last() : Reply();
    }
};

} // namespace

class SerialTest : public QObject
{
    Q_OBJECT

private slots:
    void identificationOfEachFamily_data();
    void identificationOfEachFamily();
    void faults_data();
    void faults();
    void emptyOrMissingPortFailsToOpen_data();
    void emptyOrMissingPortFailsToOpen();
    void extraPortsAreListedOnceAfterTwoRefreshes();
    void simulatorKeepsWhatIsWritten();
    void simulatorReadsHumidityOnlyOnATransmitter_data();
    void simulatorReadsHumidityOnlyOnATransmitter();
    void closedLineFailsOnceAndStopsSignalling();
    void closingTwiceAndSendingOnAClosedLineAreHarmless();
};

void SerialTest::identificationOfEachFamily_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("serial");
    QTest::newRow("M702") << "M702" << "ORV7020001";
    QTest::newRow("M701-TC") << "M701-TC" << "TC01234567";
    QTest::newRow("M701-RTD") << "M701-RTD" << "RTD9876543";
}

void SerialTest::identificationOfEachFamily()
{
    QFETCH(QString, model);
    QFETCH(QString, serial);
    sim::Options opt;
    QVERIFY(familyFromModel(model, &opt.family));
    opt.serial = serial;
    auto collector = startSim(opt);
    QVERIFY(collector);
    Line line;
    QVERIFY(line.open(collector->portPath()));
    const Reply r = line.ask(frame::identify(opt.family));
    QCOMPARE(r.kind, Reply::Answered);
    QCOMPARE(r.bytes.size(), 15);
    QCOMPARE(asciiOf(r.bytes.mid(3, 10)), serial);
    QCOMPARE(collector->receivedFrames(), QStringList{hexText(frame::identify(opt.family))});
}

void SerialTest::faults_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("kind");       // of the reply
    QTest::addColumn<int>("refused");    // frames refused meanwhile
    QTest::addColumn<bool>("noise");     // bytes given up as noise
    enum { Split, Stray, WrongAddress, WrongFunction, Exception, Silent, Corrupt };
    QTest::newRow("reply split across reads") << int(Split) << int(Reply::Answered) << 0 << false;
    QTest::newRow("stray bytes after a reply") << int(Stray) << int(Reply::Answered) << 0 << true;
    QTest::newRow("another slave's reply") << int(WrongAddress) << int(Reply::TimedOut) << 0
                                           << true;
    QTest::newRow("wrong function") << int(WrongFunction) << int(Reply::TimedOut) << 1 << false;
    QTest::newRow("exception code") << int(Exception) << int(Reply::Exception) << 0 << false;
    QTest::newRow("time-out") << int(Silent) << int(Reply::TimedOut) << 0 << false;
    QTest::newRow("bad CRC") << int(Corrupt) << int(Reply::TimedOut) << 1 << false;
}

void SerialTest::faults()
{
    QFETCH(int, fault);
    QFETCH(int, kind);
    QFETCH(int, refused);
    QFETCH(bool, noise);
    sim::Options opt;
    switch (fault) {
    case 0:
        opt.chunks = 3;
        opt.chunkGapMs = 60;
        break;
    case 1:
        opt.trailing = QByteArray("\xaa\xbb\xcc", 3);
        break;
    case 2:
        opt.replyAddress = 7;
        break;
    case 3:
        opt.replyFunction = 0x04;
        break;
    case 4:
        opt.exceptionReplies = true;
        break;
    case 5:
        opt.silentAfter = 0;
        break;
    case 6:
        opt.corruptEvery = 1;
        break;
    }
    auto collector = startSim(opt);
    QVERIFY(collector);
    Line line;
    QVERIFY(line.open(collector->portPath()));
    QSignalSpy pieces(line.exchange.port(), &Port::received);
    const Reply r = line.ask(frame::identify(Family::M702), 500);
    QCOMPARE(int(r.kind), kind);
    QCOMPARE(line.refusals.size(), refused);
    QCOMPARE(r.refusals, refused);
    waitUntil([&] { return !line.noise.isEmpty(); }, noise ? 1000 : 100);
    QCOMPARE(!line.noise.isEmpty(), noise);
    if (kind == Reply::Answered)
        QCOMPARE(asciiOf(r.bytes.mid(3, 10)), opt.serial);
    if (kind == Reply::Exception)
        QCOMPARE(r.exceptionCode, 2);
    if (fault == 0)
        QVERIFY(pieces.count() >= 3);
    if (fault == 3)
        QCOMPARE(line.refusals.first().fault, Fault::Function);
    if (fault == 6)
        QCOMPARE(r.fault, Fault::Crc);
    QCOMPARE(line.replies.size(), 1); // one reply per request, however it ended
}

void SerialTest::emptyOrMissingPortFailsToOpen_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("empty") << "";
    QTest::newRow("blank") << "  ";
    QTest::newRow("missing") << "/dev/orven-no-such-port";
}

void SerialTest::emptyOrMissingPortFailsToOpen()
{
    QFETCH(QString, name);
    Exchange exchange(std::make_unique<SerialPort>());
    QSignalSpy failed(&exchange, &Exchange::lineFailed);
    QSignalSpy replied(&exchange, &Exchange::replied);
    QString error;
    QVERIFY(!exchange.open(name, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!exchange.isOpen());
    exchange.request(frame::identify(Family::M702), 50); // nothing to write to; no crash
    QVERIFY(waitUntil([&] { return replied.count() == 1; }, 1000));
    QCOMPARE(replied.first().first().value<Reply>().kind, Reply::TimedOut);
    QCOMPARE(failed.count(), 0);
}

void SerialTest::extraPortsAreListedOnceAfterTwoRefreshes()
{
    auto a = startSim();
    auto b = startSim();
    QVERIFY(a && b);
    setExtraPorts({a->portPath(), b->portPath(), a->portPath()});
    QComboBox box;
    pagekit::fillPorts(&box);
    pagekit::fillPorts(&box);
    QStringList items;
    for (int i = 0; i < box.count(); ++i)
        items << box.itemText(i);
    QCOMPARE(items.count(a->portPath()), 1);
    QCOMPARE(items.count(b->portPath()), 1);
    QCOMPARE(items.size(), availablePortNames().size());
    QVERIFY(items.indexOf(a->portPath()) < items.indexOf(b->portPath()));
    setExtraPorts({});
}

void SerialTest::simulatorKeepsWhatIsWritten()
{
    auto collector = startSim();
    QVERIFY(collector);
    Line line;
    QVERIFY(line.open(collector->portPath()));
    auto answered = [&](const QByteArray &frame, int length) {
        const Reply r = line.ask(frame);
        return r.kind == Reply::Answered && r.bytes.size() == length;
    };
    QVERIFY(answered(maskWrite({101, 102, 164}).bytes, reply::mask));
    QCOMPARE(collector->enabledChannels(), (QList<int>{101, 102, 164}));
    QVERIFY(answered(m702TypeWrite(102, QByteArray::fromHex("8220")).bytes, reply::typeAck));
    QCOMPARE(collector->channelType(102), QString("8220"));
    QVERIFY(answered(mxbWrite(Family::M702, 102, 2.0f, 1.0f).bytes, reply::mxb));
    QCOMPARE(collector->correction(102), qMakePair(2.0f, 1.0f));
    QVERIFY(answered(its90Write(Family::M702, 101, 100, 1, 2, 3, 4, 5).bytes, reply::its90));
    QCOMPARE(collector->its90(101), (QList<float>{100, 1, 2, 3, 4, 5}));
    QVERIFY(answered(coldJunctionWrite(25).bytes, reply::echo));
    QCOMPARE(collector->coldJunction(), 25.0f);
    QVERIFY(answered(frame::speedM702(), reply::echo));
    // One reading per enabled channel, MX+B applied to 102.
    const Reply r = line.ask(frame::measureM702());
    QCOMPARE(r.bytes.size(), 5 + 3 * 4);
    QVERIFY(crcMatches(r.bytes));
    QVERIFY(qAbs(floatAt(r.bytes, 3) - 25.0f) < 1.0f);
    QVERIFY(qAbs(floatAt(r.bytes, 7) - 51.0f) < 2.0f);
}

void SerialTest::simulatorReadsHumidityOnlyOnATransmitter_data()
{
    QTest::addColumn<QString>("type"); // written into channel 101; empty: none
    QTest::addColumn<bool>("humidity");
    QTest::newRow("nothing written yet") << QString() << true;
    QTest::newRow("DC voltage") << "000F" << true;
    QTest::newRow("platinum resistance") << "8220" << false;
    QTest::newRow("thermocouple") << "A700" << false;
}

// Channel 101 is listed as a humidity channel; it reads humidity only while
// it is a DC-voltage transmitter.
void SerialTest::simulatorReadsHumidityOnlyOnATransmitter()
{
    QFETCH(QString, type);
    QFETCH(bool, humidity);
    sim::Options opt;
    opt.humidityChannels = {101};
    opt.temperature = 25;
    opt.humidity = 60;
    opt.noise = 0;
    opt.spread = 0;
    auto collector = startSim(opt);
    QVERIFY(collector);
    Line line;
    QVERIFY(line.open(collector->portPath()));
    QCOMPARE(line.ask(maskWrite({101}).bytes).kind, Reply::Answered);
    if (!type.isEmpty())
        QCOMPARE(line.ask(m702TypeWrite(101, QByteArray::fromHex(type.toLatin1())).bytes).kind,
                 Reply::Answered);
    const Reply r = line.ask(frame::measureM702());
    QCOMPARE(r.bytes.size(), 5 + 4);
    QVERIFY2(qAbs(floatAt(r.bytes, 3) - (humidity ? 60.0f : 25.0f)) < 0.5f,
             qPrintable(QString::number(floatAt(r.bytes, 3))));
}

void SerialTest::closedLineFailsOnceAndStopsSignalling()
{
    auto collector = startSim();
    QVERIFY(collector);
    Exchange exchange(std::make_unique<SerialPort>());
    QVERIFY(exchange.open(collector->portPath()));
    QSignalSpy failed(&exchange, &Exchange::lineFailed);
    collector->closeLine();
    exchange.request(frame::identify(Family::M702), 0);
    QVERIFY(waitUntil([&] { return failed.count() > 0; }, 3000));
    QTest::qWait(200);
    QCOMPARE(failed.count(), 1);
    QVERIFY(!exchange.isOpen());
}

void SerialTest::closingTwiceAndSendingOnAClosedLineAreHarmless()
{
    auto collector = startSim();
    QVERIFY(collector);
    Line line;
    QSignalSpy failed(&line.exchange, &Exchange::lineFailed);
    QVERIFY(line.open(collector->portPath()));
    line.exchange.close();
    line.exchange.close();
    line.exchange.request(frame::identify(Family::M702), 50);
    QTest::qWait(150);
    QCOMPARE(failed.count(), 0);
    QVERIFY(collector->receivedFrames().isEmpty());
    // The same port opens again.
    QVERIFY(line.exchange.open(collector->portPath()));
    QCOMPARE(line.ask(frame::identify(Family::M702)).bytes.size(), 15);
}

QTEST_MAIN(SerialTest)
#include "tst_serial.moc"
