// The run engine without any widget: reply assembly on bytes, the session
// against simulated collectors on the rig's clock (a thousand ticks take
// milliseconds), and storing when the database refuses.

#include "acquisition/runsession.h"
#include "link/frames.h"
#include "link/replyassembler.h"
#include "storage/server.h"
#include "storage/spool.h"
#include "tests/runkit.h"

#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

using namespace testkit;
using Frame = rtu::ReplyFrame;
using acquisition::RunSession;
using rtu::ReplyAssembler;
using Setup = RunRig::Setup;

namespace {

QByteArray withCrc(const QByteArray &body)
{
    return rtu::withCrc(body, rtu::CrcOrder::LowFirst);
}

// What an M702 measure request waits for.
rtu::Expect reading06(int values)
{
    return rtu::Expect::of(rtu::frame::measureM702(), values);
}

QByteArray reading(int values, char function = '\x03')
{
    QByteArray body("\x01", 1);
    body += function;
    body += char((values * 4) & 0xff);
    for (int i = 0; i < values; ++i)
        body += QByteArray::fromHex("0000c841"); // 25.0
    return withCrc(body);
}

QByteArray corrupted(QByteArray frame)
{
    frame[5] = char(frame[5] ^ 0x5a);
    return frame;
}

QList<Frame::Kind> kinds(const QList<Frame> &frames)
{
    QList<Frame::Kind> out;
    for (const Frame &f : frames)
        out << f.kind;
    return out;
}

int sampleCount(const RunRig &rig)
{
    return rig.session->samples().size();
}

bool waitSamples(RunRig &rig, int n, int ms = 8000)
{
    return rig.advanceUntil([&] { return sampleCount(rig) >= n; }, ms);
}

QStringList texts(const acquisition::RunSample &s)
{
    QStringList out;
    for (float v : s.values)
        out << rtu::formatValue(v);
    return out;
}

} // namespace

class SessionTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setExtraPorts({}); }

    void assemblerCutsFramesOnBytes();
    void assemblerRecognisesExceptionsEchoesAndBadCrc();
    void assemblerKeepsBytesAfterAFrame();
    void assemblerTellsReadingsFromEchoesAndNoise_data();
    void assemblerTellsReadingsFromEchoesAndNoise();

    void twoCollectorsWithTheSecondSilentForATick();
    void exceptionReplyIsRejectedWithItsCode();
    void readingsOfEitherFunction_data();
    void readingsOfEitherFunction();
    void replyFollowedByStrayBytes_data();
    void replyFollowedByStrayBytes();
    void replySplitAcrossTheNextSend();
    void failureIsAttributedToItsCollector();

    void chamberSimulatorSettlesToEachPoint();
    void lockHeldElsewhereDelaysStoringButLosesNothing();
    void thousandTicksOfTwoCollectors();
    void fullDiskRefusesProcessingUntilEverySampleIsStored();
};

void SessionTest::assemblerCutsFramesOnBytes()
{
    ReplyAssembler a(rtu::Expect::of(rtu::frame::readM701()));
    const QByteArray r = reading(2);
    a.append(r.left(5));
    QVERIFY(a.take().isEmpty());
    QVERIFY(a.hasPartial());
    a.append(r.mid(5));
    const QList<Frame> f = a.take();
    QCOMPARE(kinds(f), QList<Frame::Kind>{Frame::Reading});
    QCOMPARE(f[0].bytes, r);
    QVERIFY(!a.hasPartial());

    // 64 values carry 256 bytes, which the count byte shows as 0.
    const QByteArray big = reading(64);
    QCOMPARE(quint8(big[2]), quint8(0));
    QCOMPARE(big.size(), 261);
    a.append(big);
    QCOMPARE(kinds(a.take()), QList<Frame::Kind>{Frame::Reading});

    // Two frames in one read come out as two.
    a.append(r + r);
    QCOMPARE(a.take().size(), 2);
}

void SessionTest::assemblerRecognisesExceptionsEchoesAndBadCrc()
{
    ReplyAssembler a(rtu::Expect::of(rtu::frame::readM701()));
    const QByteArray exception = withCrc(QByteArray("\x01\x83\x02", 3));
    const QByteArray echo = QByteArray::fromHex("0106000e000129c9");
    QByteArray bad = reading(2);
    bad[5] = char(bad[5] ^ 0x5a);
    a.append(echo + exception + bad + reading(1));
    const QList<Frame> f = a.take();
    QCOMPARE(kinds(f),
             (QList<Frame::Kind>{Frame::Echo, Frame::Exception, Frame::Rejected, Frame::Reading}));
    QCOMPARE(f[1].code, 2);
    QCOMPARE(f[2].fault, rtu::Fault::Crc);

    // A reply to a request that was not sent: wrong function.
    a.append(withCrc(QByteArray("\x01\x04\x02\x00\x00", 5)));
    QCOMPARE(kinds(a.take()), QList<Frame::Kind>{Frame::Rejected});
    // A reply of another slave is not one of ours.
    a.append(QByteArray("\x07\x07", 2) + reading(1));
    QCOMPARE(kinds(a.take()), (QList<Frame::Kind>{Frame::Stray, Frame::Reading}));
}

void SessionTest::assemblerKeepsBytesAfterAFrame()
{
    ReplyAssembler a(rtu::Expect::of(rtu::frame::readM701()));
    const QByteArray next = reading(2);
    a.append(reading(1) + next.left(4));
    QCOMPARE(kinds(a.take()), QList<Frame::Kind>{Frame::Reading});
    QVERIFY(a.hasPartial());
    a.append(next.mid(4));
    const QList<Frame> f = a.take();
    QCOMPARE(kinds(f), QList<Frame::Kind>{Frame::Reading});
    QCOMPARE(f[0].bytes, next);
    // A partial frame that never completes is given up as incomplete.
    a.append(next.left(3));
    const Frame dropped = a.dropPartial();
    QCOMPARE(dropped.kind, Frame::Rejected);
    QCOMPARE(dropped.fault, rtu::Fault::Incomplete);
    QVERIFY(!a.hasPartial());
}

using Kinds = QList<Frame::Kind>;
Q_DECLARE_METATYPE(Kinds)

void SessionTest::assemblerTellsReadingsFromEchoesAndNoise_data()
{
    QTest::addColumn<int>("function"); // of the request
    QTest::addColumn<int>("values");   // a reading's expected count, -1 unknown
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<Kinds>("expected");
    QTest::addColumn<bool>("partialLeft");

    const QByteArray requestEcho = QByteArray::fromHex("0106101a00016d0d");
    const QByteArray speedEcho = QByteArray::fromHex("0106000e000129c9");
    const QByteArray unknown = withCrc(QByteArray("\x01\x04\x02\x00\x00", 5));
    // Bytes given up (stray or refused) are one "lost" mark per run of them:
    // how noise is cut into pieces depends on how the line delivers it.
    const Frame::Kind R = Frame::Reading, E = Frame::Echo, S = Frame::Rejected, X = Frame::Rejected;
    // With four values the count byte (0x10) equals the request echo's register byte.
    QTest::newRow("06 reading, 4 values") << 6 << 4 << reading(4, 6) << Kinds{R} << false;
    QTest::newRow("06 reading, 64 values") << 6 << 64 << reading(64, 6) << Kinds{R} << false;
    QTest::newRow("03 reading to an 06 request") << 6 << 4 << reading(4) << Kinds{R} << false;
    QTest::newRow("count unknown") << 6 << -1 << reading(3, 6) << Kinds{R} << false;
    // A collector whose channels were all switched off (its layout lost).
    QTest::newRow("no value at all") << 6 << 4 << reading(0, 6) << Kinds{R} << false;
    QTest::newRow("request echo, then reading")
        << 6 << 4 << requestEcho + reading(4, 6) << Kinds{E, R} << false;
    QTest::newRow("request echo alone waits for a reading")
        << 6 << 4 << requestEcho << Kinds{} << true;
    QTest::newRow("speed echo is no 4-value reading") << 6 << 4 << speedEcho << Kinds{E} << false;
    QTest::newRow("speed echo, then 64-value reading")
        << 6 << 64 << speedEcho + reading(64, 6) << Kinds{E, R} << false;
    QTest::newRow("an 06 reading refused on an M701 line")
        << 3 << 16 << reading(2, 6) << Kinds{X} << false;
    QTest::newRow("bad CRC") << 6 << 2 << corrupted(reading(2)) + reading(2) << Kinds{X, R}
                             << false;
    QTest::newRow("stray start before a reading")
        << 6 << 2 << QByteArray("\x01\x03\x00", 3) + reading(2) << Kinds{S, R} << false;
    QTest::newRow("stray byte between readings")
        << 6 << 2 << reading(2) + QByteArray("\x01", 1) + reading(2) << Kinds{R, S, R} << false;
    QTest::newRow("noise byte between readings")
        << 6 << 2 << reading(2) + QByteArray("\x5a", 1) + reading(2) << Kinds{R, S, R} << false;
    QTest::newRow("unexpected function between readings")
        << 6 << 2 << reading(2) + unknown + reading(2) << Kinds{R, X, R} << false;
    QByteArray cutShort = reading(2).left(7);
    QTest::newRow("a cut reading does not swallow the next")
        << 3 << 2 << cutShort + reading(2) << Kinds{S, R} << false;
}

void SessionTest::assemblerTellsReadingsFromEchoesAndNoise()
{
    QFETCH(int, function);
    QFETCH(int, values);
    QFETCH(QByteArray, stream);
    QFETCH(Kinds, expected);
    QFETCH(bool, partialLeft);
    // Whole at once, and byte by byte as a slow line delivers it.
    for (int step : {int(stream.size()), 1}) {
        ReplyAssembler a(function == 6 ? reading06(values)
                                       : rtu::Expect::of(rtu::frame::readM701(), values));
        QList<Frame> frames;
        for (int at = 0; at < stream.size(); at += step) {
            a.append(stream.mid(at, step));
            frames += a.take();
        }
        Kinds seen;
        for (Frame::Kind k : kinds(frames)) {
            if (k == Frame::Stray)
                k = Frame::Rejected;
            if (k != Frame::Rejected || seen.isEmpty() || seen.last() != Frame::Rejected)
                seen << k;
        }
        QCOMPARE(seen, expected);
        QCOMPARE(a.hasPartial(), partialLeft);
        QByteArray joined;
        for (const Frame &f : frames)
            joined += f.bytes;
        if (!partialLeft)
            QCOMPARE(joined, stream); // every byte accounted for, once
    }
}

void SessionTest::twoCollectorsWithTheSecondSilentForATick()
{
    RunRig rig;
    Setup s;
    s.withPage = false;
    s.channelsB = QStringList{"110", "111"};
    QVERIFY(rig.build(s));
    QVERIFY(rig.startSession("检点1", true));
    QVERIFY(waitSamples(rig, 1));
    QCOMPARE(rig.session->samples()[0].values, (QVector<float>{25.25f, 25.5f, 27.5f, 27.75f}));
    const int frames = rig.sim2->receivedFrames().size();
    rig.sim2->setSilent(true);
    QVERIFY(
        rig.advanceUntil([&] { return rig.sim2->receivedFrames().size() >= frames + 2; }, 5000));
    rig.sim2->setSilent(false);
    const int during = sampleCount(rig);
    QVERIFY(waitSamples(rig, during + 1));
    rig.stopSession();
    QVERIFY(rig.session->counters(2).missed >= 1);
    QCOMPARE(rig.session->counters(1).missed, 0);
    QCOMPARE(rig.session->counters(1).rejected, 0);
    QCOMPARE(rig.session->counters(2).rejected, 0);
    QVERIFY(rig.session->counters(2).lastGood > 0);
    // Every sample shown is stored, in order.
    const storage::Rows stored = rows("select coltime, coldata from data order by rowid");
    QCOMPARE(stored.size(), sampleCount(rig));
    QCOMPARE(stored.last().value(0), rig.session->samples().last().timeText());
}

void SessionTest::exceptionReplyIsRejectedWithItsCode()
{
    RunRig rig;
    Setup s;
    s.withPage = false;
    s.family = rtu::Family::M701TC;
    QVERIFY(rig.build(s));
    QVERIFY(rig.startSession());
    QVERIFY(waitSamples(rig, 1));
    rig.sim1->options().exceptionReplies = true;
    QVERIFY(rig.advanceUntil([&] { return rig.session->counters(1).rejected >= 2; }, 6000));
    rig.stopSession();
    const acquisition::CollectorCounters c = rig.session->counters(1);
    QCOMPARE(c.lastException, 2);
    QCOMPARE(c.lastRefusal, acquisition::Refusal::Exception);
    QVERIFY2(c.missed <= 1, qPrintable(QString::number(c.missed))); // at most the stop's tick
    QCOMPARE(c.answered, sampleCount(rig));
}

void SessionTest::readingsOfEitherFunction_data()
{
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("channels");
    QTest::addColumn<bool>("two");
    for (int function : {3, 6})
        for (int channels : {4, 64})
            for (bool two : {false, true})
                QTest::addRow("%02d, %d channels, %s", function, channels, two ? "two" : "one")
                    << function << channels << two;
}

void SessionTest::readingsOfEitherFunction()
{
    QFETCH(int, function);
    QFETCH(int, channels);
    QFETCH(bool, two);
    RunRig rig;
    Setup s;
    s.withPage = false;
    s.options.readingFunction = quint8(function);
    s.channelsA.clear();
    for (int ch = 101; ch < 101 + channels; ++ch)
        s.channelsA << QString::number(ch);
    if (two)
        s.channelsB = s.channelsA;
    QVERIFY(rig.build(s));
    QVERIFY(rig.startSession("检点1", two));
    QVERIFY(waitSamples(rig, 2));
    rig.stopSession();
    const acquisition::RunSample &first = rig.session->samples().first();
    QCOMPARE(first.values.size(), two ? 2 * channels : channels);
    QCOMPARE(texts(first).first(), QString("25.250")); // channel 101 reads 101 / 4
    QCOMPARE(texts(first).last(), rtu::formatValue((100 + channels) / 4.0));
    for (int c : {1, 2}) {
        if (c == 2 && !two)
            break;
        QCOMPARE(rig.session->counters(c).rejected, 0);
        QVERIFY(rig.session->counters(c).answered >= 2);
    }
    QCOMPARE(rows("select count(*) from data").value(0).value(0).toInt(), sampleCount(rig));
}

void SessionTest::replyFollowedByStrayBytes_data()
{
    QTest::addColumn<QByteArray>("trailing");
    QTest::newRow("noise") << QByteArray("\xaa\xbb\xcc", 3);
    QTest::newRow("the slave's address alone") << QByteArray("\x01", 1);
    // Looks like the start of a 261-byte reading.
    QTest::newRow("a reading's start") << QByteArray("\x01\x03\x00", 3);
    QTest::newRow("unexpected function") << withCrc(QByteArray("\x01\x04\x02\x00\x00", 5));
}

void SessionTest::replyFollowedByStrayBytes()
{
    QFETCH(QByteArray, trailing);
    RunRig rig;
    Setup s;
    s.withPage = false;
    s.options.readingFunction = 0x06;
    QVERIFY(rig.build(s));
    QVERIFY(rig.startSession());
    // From the first reading on (the speed echo must be exactly eight bytes).
    rig.sim1->options().trailing = trailing;
    QVERIFY(waitSamples(rig, 3));
    rig.stopSession();
    for (const acquisition::RunSample &sample : rig.session->samples())
        QCOMPARE(texts(sample), (QStringList{"25.250", "25.500"}));
    // Every tick is answered; what follows a reading loses only itself.
    const acquisition::CollectorCounters c = rig.session->counters(1);
    QCOMPARE(c.answered, sampleCount(rig));
    QVERIFY2(c.missed <= 1, qPrintable(QString::number(c.missed))); // at most the stop's tick
    QCOMPARE(rows("select count(*) from data").value(0).value(0).toInt(), sampleCount(rig));
}

void SessionTest::replySplitAcrossTheNextSend()
{
    RunRig rig;
    Setup s;
    s.withPage = false;
    s.family = rtu::Family::M701RTD;
    // The reply starts 500 ms after the request; its second half comes
    // 700 ms later, after the next request has gone out.
    s.options.delayMs = 500;
    s.options.chunks = 2;
    s.options.chunkGapMs = 700;
    QVERIFY(rig.build(s));
    QVERIFY(rig.startSession());
    QVERIFY(waitSamples(rig, 2, 10000));
    rig.stopSession();
    QCOMPARE(rig.session->counters(1).rejected, 0);
    for (const acquisition::RunSample &sample : rig.session->samples())
        QCOMPARE(texts(sample), (QStringList{"25.250", "25.500"}));
}

void SessionTest::failureIsAttributedToItsCollector()
{
    RunRig rig;
    Setup s;
    s.withPage = false;
    s.channelsB = QStringList{"101", "102"};
    QVERIFY(rig.build(s));
    // Collector two measures three channels where its layout has two.
    rig.sim2->setEnabledChannels({101, 102, 103});
    QVERIFY(rig.startSession("检点1", true));
    QVERIFY(rig.advanceUntil([&] { return rig.session->counters(2).rejected >= 2; }, 6000));
    rig.stopSession();
    QCOMPARE(rig.session->counters(1).rejected, 0);
    QCOMPARE(rig.session->counters(2).lastRefusal, acquisition::Refusal::WrongCount);
    QCOMPARE(sampleCount(rig), 0);
}

void SessionTest::chamberSimulatorSettlesToEachPoint()
{
    RunRig rig;
    Setup s;
    s.withPage = false;
    s.exactValues = false; // offsets of a few tenths, noise of a few hundredths
    s.flagsA = "01";
    s.options.humidityChannels = {102};
    s.options.driftPerMinute = 0;
    s.options.chamberDatabase = rig.db.path();
    QVERIFY(rig.build(s));
    // The equipment's points: 20 ℃ / 50 %RH, then 30 ℃ / 60 %RH. Point 1 is
    // started twice: the chamber goes to the point started, not to the one
    // after the point stopped.
    for (int point : {1, 1, 2}) {
        const int from = sampleCount(rig);
        QVERIFY(rig.startSession(QStringLiteral("检点%1").arg(point)));
        QVERIFY(waitSamples(rig, from + 2));
        rig.stopSession();
        for (int i = from; i < sampleCount(rig); ++i) {
            const QVector<float> &v = rig.session->samples()[i].values;
            QVERIFY2(qAbs(v[0] - (10 + 10 * point)) < 0.4, qPrintable(QString::number(v[0])));
            QVERIFY2(qAbs(v[1] - (40 + 10 * point)) < 0.4, qPrintable(QString::number(v[1])));
            QVERIFY(v[0] != v[1] - 30); // every channel has its own offset
        }
    }
    // Readings move: a few hundredths from sample to sample, not a fixed value.
    const auto &samples = rig.session->samples();
    QVERIFY(samples[0].values[0] != samples[1].values[0]);
    QVERIFY(qAbs(samples[0].values[0] - samples[1].values[0]) < 0.05);
}

// Samples not in the database yet: waiting in the run, or on a server in
// the station's spool.
static int waitingToStore(const RunRig &rig)
{
    return rig.session->unstoredCount() + (onServer() ? storage::spoolState().waiting : 0);
}

// Ticks go on until nothing waits to be stored. The clock moves only while
// something waits: every tick makes a sample, which on a server waits in the
// spool until its thread sends it, so a last tick after the check would make
// the answer false again.
static bool drained(RunRig &rig, int ms)
{
    return waitUntil(
        [&] {
            if (waitingToStore(rig) == 0)
                return true;
            rig.advance(100);
            return false;
        },
        ms);
}

void SessionTest::lockHeldElsewhereDelaysStoringButLosesNothing()
{
    RunRig rig;
    Setup s;
    s.withPage = false;
    QVERIFY(rig.build(s));
    QVERIFY(rig.startSession());
    QVERIFY(waitSamples(rig, 1));
    QVERIFY(drained(rig, 10000));

    // Another program holds the write lock.
    {
        if (onServer())
            QVERIFY(storage::openServerConnection("other", rig.db.path(), false).ok);
        QSqlDatabase other = onServer() ? QSqlDatabase::database("other")
                                        : QSqlDatabase::addDatabase("QSQLITE", "other");
        if (!onServer()) {
            other.setDatabaseName(rig.db.path());
            QVERIFY(other.open());
        }
        QSqlQuery lock(other);
        QVERIFY2(lock.exec(onServer() ? "begin" : "begin immediate"),
                 qPrintable(lock.lastError().text()));
        if (onServer())
            QVERIFY2(lock.exec("lock table orven.data in exclusive mode"),
                     qPrintable(lock.lastError().text()));

        // The event loop keeps going: measure the longest gap between ticks
        // of a 10 ms timer while samples cannot be stored.
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0, worst = 0;
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            worst = qMax(worst, clock.elapsed() - last);
            last = clock.elapsed();
        });
        probe.start(10);
        const int before = sampleCount(rig);
        QVERIFY(waitSamples(rig, before + 3));
        probe.stop();
        QVERIFY(waitingToStore(rig) >= 3);
        // On a server they wait in the spool, its thread waiting for the lock.
        QVERIFY(onServer() || !rig.session->lastStoreError().isEmpty());
        // Not a speed target (that is bench_run): the window must not freeze
        // for the driver's default five seconds per statement.
        QVERIFY2(worst < 1000, qPrintable(QString::number(worst)));
        QVERIFY(lock.exec("rollback"));
        other.close();
    }
    QSqlDatabase::removeDatabase("other");

    const int now = sampleCount(rig);
    QVERIFY(waitSamples(rig, now + 1));
    QVERIFY(drained(rig, 15000));
    rig.stopSession();
    const storage::Rows stored = rows("select coltime from data order by rowid");
    QCOMPARE(stored.size(), sampleCount(rig)); // none lost, none twice
    for (int i = 0; i < stored.size(); ++i)
        QCOMPARE(stored[i][0], rig.session->samples()[i].timeText()); // in order
}

void SessionTest::fullDiskRefusesProcessingUntilEverySampleIsStored()
{
    RunRig rig;
    Setup s;
    s.withPage = false;
    QVERIFY(rig.build(s));
    QVERIFY(rig.startSession());
    QVERIFY(waitSamples(rig, 1));
    QVERIFY(fillTheDisk());
    QVERIFY(rig.advanceUntil([&] { return waitingToStore(rig) >= 2; }, 8000));
    rig.stopSession();
    const int stored =
        rows("select count(*) from data where equipname<>'filler'").value(0).value(0).toInt();

    RunSession::Processing p = rig.session->process(false);
    QCOMPARE(p.outcome, RunSession::Processing::Unstored);
    QCOMPARE(p.waiting, waitingToStore(rig));
    QCOMPARE(rows("select count(*) from datamark").value(0).value(0), QString("0"));

    QVERIFY(makeRoom());
    p = rig.session->process(false);
    QCOMPARE(p.outcome, RunSession::Processing::Done);
    const int total = rows("select count(*) from data").value(0).value(0).toInt();
    QVERIFY(total > stored);
    QCOMPARE(total, sampleCount(rig));
    QCOMPARE(rows("select samplenum from datamark").value(0).value(0), QString::number(total));
}

// A long run on the rig's clock: collector two misses chosen ticks, the
// database refuses every write for fifty ticks in the middle and again at
// the end, and processing waits until every sample is stored.
void SessionTest::thousandTicksOfTwoCollectors()
{
    bool locked = false;
    int refusedWrites = 0;
    RunRig rig;
    Setup s;
    s.withPage = false;
    s.channelsB = QStringList{"110", "111"};
    s.writer = [&](const storage::Sample &sample) {
        if (locked) {
            ++refusedWrites;
            return base::Status(base::failure("database is locked"));
        }
        return storage::insertSample(sample);
    };
    QVERIFY(rig.build(s));
    QVERIFY(rig.startSession("检点2", true));
    const QSet<int> silentTicks{1, 100, 101, 102, 420, 777, 1000};
    const int kLockFrom = 400, kLockTo = 450, kFinalLock = 990;
    int mostWaiting = 0;
    rig.advance(500); // halfway to the first tick
    for (int tick = 1; tick <= 1000; ++tick) {
        rig.sim2->setSilent(silentTicks.contains(tick));
        locked = (tick >= kLockFrom && tick < kLockTo) || tick >= kFinalLock;
        rig.advance(1000);
        mostWaiting = qMax(mostWaiting, rig.session->unstoredCount());
        if (tick == kLockTo + 1)
            QCOMPARE(rig.session->unstoredCount(), 0); // the queue emptied at the first chance
    }
    rig.stopSession();

    const int expected = 1000 - silentTicks.size();
    QCOMPARE(sampleCount(rig), expected);
    QCOMPARE(rig.session->counters(1).missed, 0);
    QCOMPARE(rig.session->counters(2).missed, silentTicks.size());
    QCOMPARE(rig.session->counters(2).answered, expected);
    QCOMPARE(rig.session->counters(1).rejected + rig.session->counters(2).rejected, 0);
    QCOMPARE(mostWaiting, kLockTo - kLockFrom - 1); // tick 420 gave no sample
    QVERIFY(refusedWrites >= 50);
    // One reading per tick, each a second after the one before unless a
    // tick was missed, all at point 2 with both collectors' values.
    const QVector<acquisition::RunSample> &samples = rig.session->samples();
    for (int i = 1; i < samples.size(); ++i) {
        const qint64 step = samples[i].msecs - samples[i - 1].msecs;
        QVERIFY2(step % 1000 == 0 && step >= 1000 && step <= 4000,
                 qPrintable(QString::number(step)));
        QCOMPARE(samples[i].point, 2);
        QCOMPARE(samples[i].values, (QVector<float>{25.25f, 25.5f, 27.5f, 27.75f}));
    }

    // The final lock still holds: processing is refused and says how many wait.
    const int waiting = rig.session->unstoredCount();
    QVERIFY(waiting >= 9);
    RunSession::Processing p = rig.session->process(false);
    QCOMPARE(p.outcome, RunSession::Processing::Unstored);
    QCOMPARE(p.waiting, waiting);
    QCOMPARE(rows("select count(*) from datamark").value(0).value(0), QString("0"));
    locked = false;
    p = rig.session->process(false);
    QCOMPARE(p.outcome, RunSession::Processing::Done);
    const storage::Rows stored = rows("select coltime, jdnum from data order by rowid");
    QCOMPARE(stored.size(), expected); // none lost, none twice
    for (int i = 0; i < stored.size(); ++i) {
        QCOMPARE(stored[i][0], samples[i].timeText()); // in order
        QCOMPARE(stored[i][1], QString("检点2"));
    }
    QCOMPARE(rows("select samplenum from datamark").value(0).value(0), QString::number(expected));
    // Both collectors' records are kept with the calibration.
    const base::Result<storage::FoundSnapshot> kept =
        storage::snapshotOf(rows("select dtbegin from datamark").value(0).value(0));
    QVERIFY(kept.ok && kept.value.found);
    QCOMPARE(kept.value.snapshot.collectors.size(), 2);
    QVERIFY(kept.value.snapshot.collectors[0].serialnum !=
            kept.value.snapshot.collectors[1].serialnum);
}

QTEST_GUILESS_MAIN(SessionTest)
#include "tst_session.moc"
