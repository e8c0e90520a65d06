#include "acquisition/runsession.h"

#include "acquisition/decode.h"
#include "acquisition/runregistry.h"
#include "link/serialline.h"
#include "link/trace.h"
#include "storage/statements.h"

#include <QTimer>

namespace acquisition {

static const char *const kTimeFormat = "yyyy-MM-dd HH:mm:ss";
static constexpr int kEchoWaitMs = 200;
static constexpr int kStopWaitMs = 200;
static constexpr int kSecondSendMs = 500;
static constexpr int kStaleMs = 1500;

static QString collectorName(int index)
{
    return index == 0 ? QStringLiteral("设备一") : QStringLiteral("设备二");
}

RunSession::RunSession(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<acquisition::RunState>();
    m_poll = new QTimer(this);
    m_poll->setTimerType(Qt::PreciseTimer); // ticks at the interval, not within 5 % of it
    connect(m_poll, &QTimer::timeout, this, &RunSession::tick);
    m_second = new QTimer(this);
    m_second->setSingleShot(true);
    m_second->setInterval(kSecondSendMs);
    connect(m_second, &QTimer::timeout, this, &RunSession::sendSecond);
    m_step = new QTimer(this);
    m_step->setSingleShot(true);
    connect(m_step, &QTimer::timeout, this, [this] { startStep(m_stepIndex); });
    for (int i = 0; i < 2; ++i) {
        m_c[i].stale = new QTimer(this);
        m_c[i].stale->setSingleShot(true);
        m_c[i].stale->setInterval(kStaleMs);
        connect(m_c[i].stale, &QTimer::timeout, this, [this, i] { onStale(i); });
    }
    m_clock.start();
}

RunSession::~RunSession()
{
    setRunActive(this, false);
    closeLines();
}

// ---- selection ----

base::Status RunSession::loadSelection()
{
    const base::Result<storage::Selection> sel = storage::readSelection();
    if (!sel)
        return sel.status();
    m_equipment = sel.value.equipdata;
    m_selectedCollector = sel.value.datacollect;
    const base::Result<QString> count = storage::equipmentPointCount(m_equipment);
    if (!count)
        return count.status();
    m_pointCount = qMax(0, count.value.toInt());
    const base::Result<storage::SetPoints> sp = storage::equipmentSetPoints(m_equipment);
    if (!sp)
        return sp.status();
    m_setT = sp.value.tem;
    m_setH = sp.value.hum;
    readLayout();
    return reloadCollectors();
}

base::Status RunSession::reloadCollectors()
{
    const base::Result<QList<storage::Collector>> collectors = storage::listCollectors();
    m_serials.clear();
    m_ports.clear();
    for (const storage::Collector &c : collectors.value) {
        m_serials << c.serialnum;
        m_ports << c.portnum;
    }
    return collectors.status();
}

void RunSession::readLayout()
{
    const storage::Selection sel = storage::readSelection().value;
    m_countsA = storage::roadCounts(sel.roadA);
    m_countsB = storage::roadCounts(sel.roadB);
    m_flagsA = sel.roadtypeA;
    m_flagsB = sel.roadtypeB;
    m_capture.roadA = sel.roadA;
    m_capture.roadB = sel.roadB;
    m_capture.typesA = sel.roadtypeA;
    m_capture.typesB = sel.roadtypeB;
    const QList<storage::ChannelRow> a = storage::loadChannelTable(storage::Device::A).value;
    const QList<storage::ChannelRow> b = storage::loadChannelTable(storage::Device::B).value;
    m_headType = a.isEmpty() ? QString() : a.first().headtype;
    m_channelsA.clear();
    m_channelsB.clear();
    for (const storage::ChannelRow &r : a)
        m_channelsA << r.num;
    for (const storage::ChannelRow &r : b)
        m_channelsB << r.num;
}

void RunSession::rebuildTable(bool two)
{
    m_channelList = m_channelsA;
    if (two)
        m_channelList += m_channelsB;
    m_headers = QStringList{QStringLiteral("时间"), QStringLiteral("检定点")};
    // With two collectors "1-" and "2-" tell equal channel numbers apart.
    const QString one = two ? QStringLiteral("1-") : QString();
    for (int i = 0; i < m_channelsA.size(); ++i)
        m_headers << one + channelHeader(m_channelsA[i], m_flagsA, i);
    if (two)
        for (int i = 0; i < m_channelsB.size(); ++i)
            m_headers << QStringLiteral("2-") + channelHeader(m_channelsB[i], m_flagsB, i);
    m_samples.clear();
    m_pending.clear();
    m_tableTwo = two;
    m_processed = true;
    emit tableReset();
    emit storeChanged();
}

QStringList RunSession::channelNames() const
{
    QStringList names;
    for (const QString &n : m_channelsA)
        names << (m_tableTwo ? QStringLiteral("1-") : QString()) + n;
    if (m_tableTwo)
        for (const QString &n : m_channelsB)
            names << QStringLiteral("2-") + n;
    return names;
}

QVector<bool> RunSession::humidityChannels() const
{
    QVector<bool> out;
    for (int i = 0; i < m_channelsA.size(); ++i)
        out << (i < m_flagsA.size() && m_flagsA.at(i) != QLatin1Char('0'));
    if (m_tableTwo)
        for (int i = 0; i < m_channelsB.size(); ++i)
            out << (i < m_flagsB.size() && m_flagsB.at(i) != QLatin1Char('0'));
    return out;
}

bool RunSession::restore(const QList<storage::Sample> &samples, QString *why)
{
    auto fail = [why](const QString &reason) {
        if (why)
            *why = reason;
        return false;
    };
    if (isActive())
        return fail(QStringLiteral("校准正在进行。"));
    if (samples.isEmpty())
        return fail(QStringLiteral("没有样本。"));
    const QString equipment = samples.first().equipname;
    const base::Result<QString> count = storage::equipmentPointCount(equipment);
    const base::Result<storage::SetPoints> sp = storage::equipmentSetPoints(equipment);
    if (!count || !sp)
        return fail(!count ? count.error : sp.error);
    if (count.value.trimmed().toInt() <= 0)
        return fail(QStringLiteral("试验设备“%1”的记录已不存在或没有校准点。").arg(equipment));
    readLayout();
    const int values = storage::splitList(samples.first().coldata).size();
    bool two = false;
    if (values == m_channelsA.size() + m_channelsB.size() && !m_channelsB.isEmpty())
        two = true;
    else if (values != m_channelsA.size())
        return fail(QStringLiteral("样本有 %1 个通道，而当前的通道配置有 %2 个（设备二 %3 个），"
                                   "请恢复当时的通道配置后再试。")
                        .arg(values)
                        .arg(m_channelsA.size())
                        .arg(m_channelsB.size()));
    m_equipment = equipment;
    m_pointCount = count.value.trimmed().toInt();
    m_setT = sp.value.tem;
    m_setH = sp.value.hum;
    m_family702 = rtu::familyFromProbeType(m_headType) == rtu::Family::M702;
    m_two = two;
    rebuildTable(two);
    m_capture.equipment = equipment;
    m_capture.collector = m_selectedCollector;
    for (CollectorCounters &c : m_counters)
        c = CollectorCounters();
    for (const storage::Sample &stored : samples) {
        RunSample sample;
        sample.time = stored.coltime;
        sample.msecs =
            QDateTime::fromString(stored.coltime, QLatin1String(kTimeFormat)).toMSecsSinceEpoch();
        sample.point = stored.jdnum;
        sample.texts = storage::splitList(stored.coldata);
        for (const QString &t : sample.texts)
            sample.values << t.toFloat();
        sample.stored = true;
        m_samples.append(sample);
        emit sampleAdded(m_samples.size() - 1);
    }
    m_point = samples.last().jdnum;
    m_processed = false;
    setState(RunState::Idle);
    return true;
}

// ---- state ----

void RunSession::setState(RunState state)
{
    m_state = state;
    setRunActive(this, isActive() || hasUnprocessedSamples());
    emit stateChanged();
}

QDateTime RunSession::nextTick() const
{
    if (m_state != RunState::Running || !m_poll->isActive())
        return QDateTime();
    return QDateTime::currentDateTime().addMSecs(m_poll->remainingTime());
}

ReplyAssembler RunSession::assemblerFor(int index) const
{
    // An M702 answers its measure request (function 06) with a reading of
    // function 03 or 06; an M701 always reads 16 values.
    if (!m_family702)
        return ReplyAssembler(0x01, 0x03, 16);
    return ReplyAssembler(0x01, 0x06, index == 0 ? m_channelsA.size() : m_channelsB.size());
}

bool RunSession::openLine(int index, const QString &port, QString *error)
{
    auto *line = new rtu::SerialLine(this);
    if (!line->open(port, error)) {
        delete line;
        return false;
    }
    Collector &c = m_c[index];
    c.line = line;
    c.assembler = assemblerFor(index);
    c.echo.clear();
    c.reading.clear();
    c.waiting = false;
    connect(line, &rtu::SerialLine::received, this, [this, index] { onReceived(index); });
    connect(line, &rtu::SerialLine::lineFailed, this,
            [this, index](const QString &reason) { onLineFailed(index, reason); });
    return true;
}

void RunSession::closeLines()
{
    for (Collector &c : m_c) {
        if (c.line) {
            c.line->close();
            c.line->deleteLater();
            c.line = nullptr;
        }
        c.stale->stop();
        c.assembler.clear();
        c.reading.clear();
        c.echo.clear();
        c.waiting = false;
    }
}

void RunSession::failStart(const QString &message)
{
    m_step->stop();
    closeLines();
    setState(RunState::Idle);
    emit startFailed(message);
}

void RunSession::start(const StartRequest &request)
{
    if (m_state != RunState::Idle)
        return;
    m_request = request;
    qCDebug(lcTrace) << "start";
    setState(RunState::Starting);
    if (request.point == QStringLiteral("检点1") || !hasTable())
        readLayout();
    m_family702 = rtu::familyFromProbeType(m_headType) == rtu::Family::M702;
    startStep(0);
}

static QString echoFailure(const QByteArray &echo, const QString &port)
{
    if (echo.isEmpty())
        return QStringLiteral(
                   "采集器没有应答（串口 %1，%2 秒）。请检查采集器电源、连接线和所选串口。")
            .arg(port)
            .arg(kEchoWaitMs / 1000.0);
    return QStringLiteral("应答校验错误（收到 %1 字节），请检查连接线后重试。").arg(echo.size());
}

// The start's steps; the waits for the speed echoes are timers.
void RunSession::startStep(int step)
{
    if (m_state != RunState::Starting)
        return;
    QString error;
    auto wait = [this](int next) {
        m_stepIndex = next;
        m_step->start(kEchoWaitMs);
    };
    auto echoOk = [](const QByteArray &echo) { return echo.size() == 8 && crcMatches(echo); };
    switch (step) {
    case 0:
        if (!openLine(0, m_request.port1, &error)) {
            qCDebug(lcTrace).noquote() << "run: cannot open" << m_request.port1 << error;
            failStart(QStringLiteral("连接失败！\n") + error);
            return;
        }
        if (m_family702) {
            m_c[0].line->sendHex(rtu::frame::speedM702);
            wait(1);
            return;
        }
        startStep(2);
        return;
    case 1:
        if (m_c[0].line)
            m_c[0].line->drain();
        if (!echoOk(m_c[0].echo)) {
            failStart(QStringLiteral("设备一没有应答！\n") +
                      echoFailure(m_c[0].echo, m_request.port1));
            return;
        }
        qCDebug(lcTrace) << "sudu ok";
        startStep(2);
        return;
    case 2:
        if (!m_request.two) {
            beginRunning();
            return;
        }
        if (!openLine(1, m_request.port2, &error)) {
            qCDebug(lcTrace).noquote() << "run: cannot open" << m_request.port2 << error;
            failStart(QStringLiteral("连接失败！\n") + error);
            return;
        }
        if (m_family702) {
            m_c[1].line->sendHex(rtu::frame::speedM702);
            wait(3);
            return;
        }
        beginRunning();
        return;
    case 3:
        if (m_c[1].line)
            m_c[1].line->drain();
        if (!echoOk(m_c[1].echo)) {
            failStart(QStringLiteral("设备二没有应答！\n") +
                      echoFailure(m_c[1].echo, m_request.port2));
            return;
        }
        beginRunning();
        return;
    default:
        return;
    }
}

void RunSession::beginRunning()
{
    const bool first = m_request.point == QStringLiteral("检点1") || !hasTable();
    m_two = m_request.two;
    if (first) {
        rebuildTable(m_two);
        m_capture.equipment = m_equipment;
        m_capture.collector = m_request.collectorSerial;
    }
    for (CollectorCounters &c : m_counters)
        c = CollectorCounters();
    m_lineError.clear();
    for (Collector &c : m_c) {
        c.echo.clear();
        c.reading.clear();
        c.waiting = false;
        c.heard = false;
        c.assembler.clear();
    }
    m_point = m_request.point;
    m_pointStarted = QDateTime::currentDateTime();
    m_interval = qMax(1, m_request.intervalSeconds);
    m_poll->setInterval(m_interval * 1000);
    m_poll->start();
    qCDebug(lcTrace) << (m_two ? "kaishi2...." : "kaishi1....");
    setState(RunState::Running);
    emit countersChanged();
    emit started();
}

void RunSession::stop()
{
    if (m_state != RunState::Running)
        return;
    retryStore(); // the disk may have room again: no tick will try after this
    m_poll->stop();
    m_second->stop();
    // The tick still waiting for its reply counts as missed.
    for (int i = 0; i < (m_two ? 2 : 1); ++i)
        if (m_c[i].waiting && !m_c[i].heard) {
            ++m_counters[i].missed;
            ++m_counters[i].consecutiveMissed;
        }
    for (Collector &c : m_c)
        c.waiting = false;
    setState(RunState::Stopping); // replies from now on are ignored
    emit countersChanged();
    QTimer::singleShot(kStopWaitMs, this, [this] {
        if (m_state != RunState::Stopping)
            return;
        closeLines();
        retryStore();
        setState(RunState::Idle);
        emit stopped();
    });
}

void RunSession::abort()
{
    if (m_state == RunState::Idle)
        return;
    const bool running = m_state == RunState::Running;
    m_poll->stop();
    m_second->stop();
    m_step->stop();
    if (running)
        for (int i = 0; i < (m_two ? 2 : 1); ++i)
            if (m_c[i].waiting && !m_c[i].heard)
                ++m_counters[i].missed;
    closeLines();
    retryStore();
    setState(RunState::Idle);
    emit countersChanged();
    emit stopped();
}

// ---- ticks and replies ----

void RunSession::tick()
{
    if (m_state != RunState::Running)
        return;
    retryStore();
    for (int i = 0; i < (m_two ? 2 : 1); ++i) {
        Collector &c = m_c[i];
        if (c.waiting && !c.heard) {
            ++m_counters[i].missed;
            ++m_counters[i].consecutiveMissed;
        }
        c.reading.clear();
        c.waiting = true;
        c.heard = false;
    }
    m_sinceTick.restart();
    const QString frame = m_family702 ? rtu::frame::measureM702 : rtu::frame::readM701;
    if (m_c[0].line)
        m_c[0].line->sendHex(frame);
    qCDebug(lcTrace).noquote() << "send:" + frame;
    if (m_two)
        m_second->start();
    emit countersChanged();
}

void RunSession::sendSecond()
{
    if (m_state != RunState::Running || !m_c[1].line)
        return;
    const QString frame = m_family702 ? rtu::frame::measureM702 : rtu::frame::readM701;
    m_c[1].line->sendHex(frame);
    qCDebug(lcTrace).noquote() << "send:" + frame;
}

void RunSession::onReceived(int index)
{
    Collector &c = m_c[index];
    if (!c.line)
        return;
    const QByteArray bytes = c.line->rxBytes();
    c.line->clearRx();
    if (m_state == RunState::Starting) {
        c.echo += bytes;
        return;
    }
    if (m_state != RunState::Running || (index == 1 && !m_two))
        return;
    c.assembler.append(bytes);
    const QList<Frame> frames = c.assembler.take();
    for (const Frame &f : frames)
        handle(index, f);
    if (c.assembler.hasPartial()) {
        qCDebug(lcTrace).noquote() << "sone:" + QString::fromLatin1(bytes.toHex());
        // Counted from the partial's first byte: bytes that keep arriving do
        // not keep a fragment alive.
        if (!frames.isEmpty() || !c.stale->isActive())
            c.stale->start();
    } else {
        c.stale->stop();
    }
}

void RunSession::onStale(int index)
{
    Collector &c = m_c[index];
    if (m_state != RunState::Running || !c.assembler.hasPartial())
        return;
    Frame dropped = c.assembler.dropPartial();
    // A fragment after the tick's reading is noise, not a refused reply.
    if (!c.waiting && dropped.kind == Frame::Rejected)
        dropped.kind = Frame::Stray;
    handle(index, dropped);
}

void RunSession::handle(int index, const Frame &frame)
{
    Collector &c = m_c[index];
    switch (frame.kind) {
    case Frame::Echo:
        qCDebug(lcTrace).noquote() << "echo:" + QString::fromLatin1(frame.bytes.toHex());
        return;
    case Frame::Stray:
        qCDebug(lcTrace).noquote() << "stray:" + QString::fromLatin1(frame.bytes.toHex());
        return;
    case Frame::Exception:
        reject(index, frame.reason, frame.code);
        return;
    case Frame::Rejected:
        qCDebug(lcTrace).noquote() << "rejected" << collectorName(index)
                                   << QString::fromLatin1(frame.bytes.toHex()) << frame.reason;
        reject(index, frame.reason);
        return;
    case Frame::Reading:
        break;
    }
    qCDebug(lcTrace).noquote() << (index == 0 ? "qs1:" : "qs2:")
                               << QString::fromLatin1(frame.bytes.toHex());
    CollectorCounters &n = m_counters[index];
    n.consecutiveMissed = 0;
    n.lastGood = QDateTime::currentDateTime();
    if (!c.waiting)
        return; // a second reading for the same tick
    c.waiting = false;
    c.reading = frame.bytes;
    c.completedNs = m_clock.nsecsElapsed();
    dispatch();
}

void RunSession::reject(int index, const QString &reason, int exception)
{
    CollectorCounters &n = m_counters[index];
    ++n.rejected;
    n.consecutiveMissed = 0;
    n.lastReason = reason;
    if (exception >= 0)
        n.lastException = exception;
    // The tick had an answer, a bad one: it is not missed as well. A good
    // reading may still follow for the same tick.
    m_c[index].heard = true;
    emit countersChanged();
}

void RunSession::dispatch()
{
    const QByteArray r1 = m_c[0].reading;
    const QByteArray r2 = m_c[1].reading;
    if (r1.isEmpty() || (m_two && r2.isEmpty()))
        return;
    m_c[0].reading.clear();
    m_c[1].reading.clear();
    const QString hex1 = QString::fromLatin1(r1.toHex());
    const QString hex2 = QString::fromLatin1(r2.toHex());
    const QString wrongCount = QStringLiteral("通道数与配置不符，请重新设置通道");
    QStringList values, part;
    if (m_family702) {
        if (!decodeM702(hex1, m_channelsA, &part))
            return reject(0, wrongCount);
        values += part;
        if (m_two) {
            if (!decodeM702(hex2, m_channelsB, &part))
                return reject(1, wrongCount);
            values += part;
        }
    } else if (!m_two) {
        if (!decodeM701(hex1, m_channelList, &values))
            return reject(0, wrongCount);
    } else {
        const int sumA = m_countsA[0] + m_countsA[1] + m_countsA[2];
        const int sumB = m_countsB[0] + m_countsB[1] + m_countsB[2];
        if (m_channelList.size() < sumA + sumB)
            return reject(0, wrongCount);
        if (!decodeM701(hex1, m_channelList.mid(0, sumA), &part))
            return reject(0, wrongCount);
        values += part;
        qCDebug(lcTrace) << "qs1 OK!";
        if (!decodeM701(hex2, m_channelList.mid(sumA, sumB), &part))
            return reject(1, wrongCount);
        values += part;
        qCDebug(lcTrace) << "qs2 OK!";
    }
    // No reading is ever stored as 0 for want of data.
    if (values.size() != m_channelList.size())
        return reject(values.size() < m_channelsA.size() || !m_two ? 0 : 1, wrongCount);
    ++m_counters[0].answered;
    if (m_two)
        ++m_counters[1].answered;
    emit countersChanged();
    addSample(values, qMax(m_c[0].completedNs, m_two ? m_c[1].completedNs : m_c[0].completedNs));
}

void RunSession::addSample(const QStringList &texts, qint64 completedNs)
{
    RunSample s;
    const QDateTime now = QDateTime::currentDateTime();
    s.time = now.toString(QLatin1String(kTimeFormat));
    s.msecs = now.toMSecsSinceEpoch();
    s.point = m_point;
    s.texts = texts;
    s.values.reserve(texts.size());
    for (const QString &t : texts)
        s.values << t.toFloat();
    m_samples.append(s);
    m_processed = false;
    setRunActive(this, true);
    m_pending.append(m_samples.size() - 1);
    retryStore();
    m_lastLatencyNs = m_clock.nsecsElapsed() - completedNs;
    emit sampleAdded(m_samples.size() - 1);
}

// ---- storing ----

bool RunSession::storeOne(RunSample &sample)
{
    const base::Result<storage::Selection> sel = storage::readSelection();
    if (!sel) {
        m_storeError = sel.error;
        return false;
    }
    const int n = sel.value.secA.toInt();
    const QString channels = storage::listText(m_channelList.mid(0, qMax(0, n)));
    const base::Status st = storage::insertSample(
        storage::Sample{m_capture.equipment.isEmpty() ? m_equipment : m_capture.equipment,
                        sample.point, sample.time, channels, storage::listText(sample.texts)});
    if (!st) {
        m_storeError = st.error;
        return false;
    }
    sample.stored = true;
    return true;
}

void RunSession::retryStore()
{
    const int before = m_pending.size();
    while (!m_pending.isEmpty()) {
        // Oldest first; a failure leaves it and every later one waiting.
        if (!storeOne(m_samples[m_pending.first()]))
            break;
        m_pending.removeFirst();
    }
    if (m_pending.isEmpty())
        m_storeError.clear();
    if (m_pending.size() != before || !m_pending.isEmpty())
        emit storeChanged();
}

void RunSession::onLineFailed(int index, const QString &reason)
{
    m_lineError = QStringLiteral("%1串口故障：%2").arg(collectorName(index), reason);
    if (m_c[index].line) {
        m_c[index].line->deleteLater();
        m_c[index].line = nullptr;
    }
    emit lineFailed(index + 1, reason);
    emit countersChanged();
}

// ---- processing ----

storage::RunHeader RunSession::header() const
{
    storage::RunHeader h;
    if (m_samples.isEmpty())
        return h;
    QStringList tem, hum;
    for (int k = 0; k < m_pointCount; ++k) {
        tem << m_setT.value(k);
        hum << m_setH.value(k);
    }
    int stored = 0;
    for (const RunSample &s : m_samples)
        stored += s.stored;
    h.dtbegin = m_samples.first().time;
    h.dtend = m_samples.last().time;
    h.pointnum = QString::number(m_pointCount);
    h.temset = storage::listText(tem);
    h.humset = storage::listText(hum);
    h.kindsA = m_capture.roadA;
    h.kindsB = m_capture.roadB;
    h.collector = m_capture.collector;
    h.equipname = m_capture.equipment;
    h.channum = QString::number(m_channelList.size());
    h.samplenum = QString::number(stored);
    h.chanlist = storage::listText(m_channelList);
    h.typesA = m_capture.typesA;
    h.typesB = m_capture.typesB;
    return h;
}

RunSession::Processing RunSession::process(bool replace)
{
    Processing p;
    auto failed = [&p](const QString &reason) {
        p.outcome = Processing::Failed;
        p.message = reason;
        return p;
    };
    if (m_state != RunState::Idle) {
        p.outcome = Processing::Busy;
        p.message = QStringLiteral("校准正在进行，请先停止。");
        return p;
    }
    if (m_samples.isEmpty()) {
        p.outcome = Processing::NoData;
        p.message = QStringLiteral("当前没有数据！");
        return p;
    }
    retryStore();
    if (!m_pending.isEmpty()) {
        p.outcome = Processing::Unstored;
        p.message = QStringLiteral("有 %1 条样本尚未保存到数据库（%2），不能处理。\n"
                                   "请排除数据库故障（磁盘空间、文件被占用）后再点“数据处理”。")
                        .arg(m_pending.size())
                        .arg(m_storeError);
        return p;
    }
    const base::Result<QString> type = storage::equipmentType(m_capture.equipment);
    if (!type)
        return failed(type.error);
    if (type.value.isEmpty()) {
        p.outcome = Processing::NoType;
        p.message = QStringLiteral("试验设备“%1”没有被校参数类别，无法处理本次校准。")
                        .arg(m_capture.equipment);
        return p;
    }
    storage::RunHeader h = header();
    const base::Result<bool> exists = storage::headerExists(h.dtbegin);
    if (!exists)
        return failed(exists.error);
    if (exists.value && !replace) {
        p.outcome = Processing::NeedsConfirmation;
        p.message = QStringLiteral("这次校准已经处理过，是否用新的结果替换原有记录？");
        return p;
    }
    const base::Result<int> count = storage::countHeaders();
    if (!count)
        return failed(count.error);
    const base::Result<storage::Ambient> ambient = storage::readAmbient();
    if (!ambient)
        return failed(ambient.error);
    // A replaced header keeps its number.
    if (exists.value) {
        const base::Result<QString> number = storage::headerNumber(h.dtbegin);
        if (!number)
            return failed(number.error);
        h.num = number.value;
    } else {
        h.num = QString::number(count.value + 1);
    }
    h.envtem = ambient.value.tem;
    h.envhum = ambient.value.hum;
    h.equiptype = type.value;
    const base::Status st = exists.value ? storage::replaceHeader(h) : storage::insertHeader(h);
    if (!st)
        return failed(st.error);
    m_processed = true;
    setRunActive(this, isActive());
    p.outcome = Processing::Done;
    p.message = QStringLiteral("处理完成！");
    return p;
}

} // namespace acquisition
