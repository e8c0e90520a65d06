// The serial line through a real QSerialPort against the simulator on a
// pseudo-terminal.

#include "link/commands.h"
#include "link/serialline.h"
#include "pages/pagekit.h"
#include "tests/testkit.h"

#include <QComboBox>
#include <QSignalSpy>
#include <QTimer>

using namespace testkit;
using namespace rtu;

class SerialTest : public QObject
{
    Q_OBJECT

private slots:
    void identificationOfEachFamily_data();
    void identificationOfEachFamily();
    void replySplitIntoChunksArrivesWhole();
    void corruptedReplyIsRejected();
    void exceptionReplyIsShort();
    void emptyOrMissingPortFailsToOpen_data();
    void emptyOrMissingPortFailsToOpen();
    void extraPortsAreListedOnceAfterTwoRefreshes();
    void simulatorKeepsWhatIsWritten();
    void closedLineFailsOnceAndStopsSignalling();
    void closingTwiceAndSendingOnAClosedLineAreHarmless();
    void pauseKeepsEventsRunningForItsDuration();
};

static QString identify(SerialLine &line, Family family, int waitMs = 2000)
{
    line.sendHex(identifyFrame(family));
    waitUntil([&] { return line.rxHex().size() >= 30; }, waitMs);
    return line.rxHex();
}

void SerialTest::identificationOfEachFamily_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("serial");
    QTest::newRow("M702") << "M702"
                          << "ORV7020001";
    QTest::newRow("M701-TC") << "M701-TC"
                             << "TC01234567";
    QTest::newRow("M701-RTD") << "M701-RTD"
                              << "RTD9876543";
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
    SerialLine line;
    QString error;
    QVERIFY2(line.open(collector->portPath(), &error), qPrintable(error));
    const QString reply = identify(line, opt.family);
    QCOMPARE(reply.size(), 30);
    QVERIFY(replyCrcMatches(reply));
    QCOMPARE(asciiFromHex(reply.mid(6, 20)), serial);
    QCOMPARE(collector->receivedFrames(), QStringList{identifyFrame(opt.family).toUpper()});
}

void SerialTest::replySplitIntoChunksArrivesWhole()
{
    sim::Options opt;
    opt.chunks = 3;
    opt.chunkGapMs = 60; // far longer than any grace wait
    auto collector = startSim(opt);
    QVERIFY(collector);
    SerialLine line;
    QVERIFY(line.open(collector->portPath()));
    QSignalSpy pieces(&line, &SerialLine::received);
    const QString reply = identify(line, Family::M702);
    QCOMPARE(reply.size(), 30);
    QVERIFY(replyCrcMatches(reply));
    QCOMPARE(asciiFromHex(reply.mid(6, 20)), opt.serial);
    QVERIFY(pieces.count() >= 3);
}

void SerialTest::corruptedReplyIsRejected()
{
    sim::Options opt;
    opt.corruptEvery = 2;
    auto collector = startSim(opt);
    QVERIFY(collector);
    SerialLine line;
    QVERIFY(line.open(collector->portPath()));
    QVERIFY(replyCrcMatches(identify(line, Family::M702)));
    const QString second = identify(line, Family::M702);
    QCOMPARE(second.size(), 30);       // right length ...
    QVERIFY(!replyCrcMatches(second)); // ... but not accepted
}

void SerialTest::exceptionReplyIsShort()
{
    sim::Options opt;
    opt.exceptionReplies = true;
    auto collector = startSim(opt);
    QVERIFY(collector);
    SerialLine line;
    QVERIFY(line.open(collector->portPath()));
    line.sendHex(frame::identifyM702);
    QVERIFY(waitUntil([&] { return line.rxHex().size() >= 10; }));
    QTest::qWait(100);
    QCOMPARE(line.rxHex().size(), 10);
    QCOMPARE(line.rxHex().mid(2, 2), QString("83"));
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
    SerialLine line;
    QSignalSpy failed(&line, &SerialLine::lineFailed);
    QString error;
    QVERIFY(!line.open(name, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!line.isOpen());
    line.sendHex(frame::identifyM702); // nothing to write to; no crash
    QCOMPARE(line.rxHex(), QString());
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
    SerialLine line;
    QVERIFY(line.open(collector->portPath()));
    auto exchange = [&](const QString &frame, int length) {
        line.sendHex(frame);
        return waitUntil([&] { return line.rxHex().size() >= length; }) &&
               line.rxHex().size() == length;
    };
    QVERIFY(exchange(maskWrite({101, 102, 164}).text, reply::mask));
    QCOMPARE(collector->enabledChannels(), (QList<int>{101, 102, 164}));
    QVERIFY(exchange(m702TypeWrite(102, "8220").text, reply::typeAck));
    QCOMPARE(collector->channelType(102), QString("8220"));
    QVERIFY(exchange(mxbWrite(Family::M702, 102, 2.0f, 1.0f).text, reply::mxb));
    QCOMPARE(collector->correction(102), qMakePair(2.0f, 1.0f));
    QVERIFY(exchange(its90Write(Family::M702, 101, 100, 1, 2, 3, 4, 5).text, reply::its90));
    QCOMPARE(collector->its90(101), (QList<float>{100, 1, 2, 3, 4, 5}));
    QVERIFY(exchange(coldJunctionWrite(25).text, reply::echo));
    QCOMPARE(collector->coldJunction(), 25.0f);
    QVERIFY(exchange(frame::speedM702, reply::echo));
    QCOMPARE(line.rxHex(), frame::speedM702);
    // One reading per enabled channel, MX+B applied to 102.
    QVERIFY(exchange(frame::measureM702, 6 + 3 * 8 + 4));
    QVERIFY(readReplyComplete(line.rxHex()));
    QVERIFY(replyCrcMatches(line.rxHex()));
    const float ch101 = readingFromHexLE(line.rxHex().mid(6, 8));
    const float ch102 = readingFromHexLE(line.rxHex().mid(14, 8));
    QVERIFY(qAbs(ch101 - 25.0f) < 1.0f);
    QVERIFY(qAbs(ch102 - 51.0f) < 2.0f);
}

void SerialTest::closedLineFailsOnceAndStopsSignalling()
{
    auto collector = startSim();
    QVERIFY(collector);
    SerialLine line;
    QVERIFY(line.open(collector->portPath()));
    QSignalSpy failed(&line, &SerialLine::lineFailed);
    collector->closeLine();
    line.sendHex(frame::identifyM702);
    QVERIFY(waitUntil([&] { return failed.count() > 0; }, 3000));
    QTest::qWait(200);
    QCOMPARE(failed.count(), 1);
    QVERIFY(!line.isOpen());
}

void SerialTest::closingTwiceAndSendingOnAClosedLineAreHarmless()
{
    auto collector = startSim();
    QVERIFY(collector);
    SerialLine line;
    QSignalSpy failed(&line, &SerialLine::lineFailed);
    QVERIFY(line.open(collector->portPath()));
    line.close();
    line.close();
    line.sendHex(frame::identifyM702);
    QTest::qWait(100);
    QCOMPARE(failed.count(), 0);
    QVERIFY(collector->receivedFrames().isEmpty());
    // The same port opens again.
    QVERIFY(line.open(collector->portPath()));
    QCOMPARE(identify(line, Family::M702).size(), 30);
}

void SerialTest::pauseKeepsEventsRunningForItsDuration()
{
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    QElapsedTimer clock;
    clock.start();
    pauseWithEvents(300);
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 300, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < 1000, qPrintable(QString::number(elapsed)));
    QVERIFY(ticks >= 5);
}

QTEST_MAIN(SerialTest)
#include "tst_serial.moc"
