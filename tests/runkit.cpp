#include "tests/runkit.h"

#include "pages/prompts.h"
#include "storage/spool.h"

namespace testkit {

static storage::Row channelRow(const QString &number, rtu::Family family, bool humidity)
{
    storage::Row r{number, "铂电阻", "PT100-385", "四线制", "1", "0", "100",
                   "",     "",       "",          "",       "",  "",  ""};
    if (family == rtu::Family::M701TC)
        r[1] = "TC", r[2] = "K";
    else if (family == rtu::Family::M701RTD)
        r[1] = "RTD", r[2] = "RTD";
    else if (humidity)
        r[1] = "直流电压-H", r[2] = "", r[3] = "";
    return r;
}

static bool storeLayout(storage::Device device, const QStringList &channels, rtu::Family family,
                        QString flags, const QString &sec)
{
    if (flags.isEmpty())
        flags = QString(channels.size(), QLatin1Char('0'));
    QList<storage::ChannelRow> rows;
    int humidity = 0;
    for (int i = 0; i < channels.size(); ++i) {
        const bool h = i < flags.size() && flags.at(i) == QLatin1Char('1');
        humidity += h;
        rows << storage::ChannelRow::fromRow(channelRow(channels[i], family, h));
    }
    const QString road =
        family == rtu::Family::M702
            ? QStringLiteral("%1;%2;0;").arg(channels.size() - humidity).arg(humidity)
            : QStringLiteral("0;0;%1").arg(channels.size());
    return storage::storeChannelLayout(
               device, rows, sec.isEmpty() ? QString::number(channels.size()) : sec, road, flags)
        .ok;
}

bool RunRig::build(const Setup &setup)
{
    if (!db.ok())
        return false;
    const storage::Equipment equipment =
        equipmentRow({"Chamber", "Client", "Addr", "温湿度", "M", "E", "<2立方米", "9", "3",
                      "Maker", "2020-01", "20", "40", "50", "70", "3"},
                     {"20", "30", "40"}, {"50", "60", "70"});
    if (!storage::insertEquipment(equipment).ok ||
        !storage::selectEquipment("Chamber", "23", "55").ok)
        return false;

    real = setup.realSerial;
    sim::Options opt = setup.options;
    opt.family = setup.family;
    if (!real)
        opt.clock = &clock;
    if (setup.exactValues) {
        opt.noise = 0;
        opt.spread = 0;
        opt.driftPerMinute = 0;
    }
    opt.serial = "SIM0000001";
    auto make = [&]() -> std::unique_ptr<sim::CollectorSim> {
        if (real)
            return startSim(opt);
        return std::make_unique<sim::CollectorSim>(opt);
    };
    sim1 = make();
    if (!sim1)
        return false;
    const bool two = !setup.channelsB.isEmpty();
    if (two) {
        opt.serial = "SIM0000002";
        sim2 = make();
        if (!sim2)
            return false;
    }
    const QString port1 = real ? sim1->portPath() : QStringLiteral("sim1");
    const QString port2 = !two ? QString() : real ? sim2->portPath() : QStringLiteral("sim2");
    acquisition::SessionParts parts;
    parts.writer = setup.writer;
    if (!real) {
        parts.clock = &clock;
        parts.ports = sim::DirectPort::factory([this](const QString &name) {
            return name == QLatin1String("sim1")   ? sim1.get()
                   : name == QLatin1String("sim2") ? sim2.get()
                                                   : nullptr;
        });
    }
    auto configure = [&](sim::CollectorSim *s, const QStringList &channels) {
        QList<int> numbers;
        for (const QString &c : channels)
            numbers << c.toInt();
        s->setEnabledChannels(numbers);
        if (setup.exactValues)
            for (int ch = 101; ch <= 164; ++ch)
                s->setCorrection(ch, 0, ch / 4.0f);
    };
    configure(sim1.get(), setup.channelsA);
    if (two)
        configure(sim2.get(), setup.channelsB);

    if (!storeLayout(storage::Device::A, setup.channelsA, setup.family, setup.flagsA, setup.secA))
        return false;
    if (two &&
        !storeLayout(storage::Device::B, setup.channelsB, setup.family, setup.flagsB, QString()))
        return false;
    storage::Row c1{"1", "One", "M702", port1, "SIM0000001", "", "",          "",
                    "",  "",    "",     "",    "",           "", "2030-01-01"};
    if (!storage::insertCollector(storage::Collector::fromRow(c1)).ok)
        return false;
    QStringList ports{port1};
    if (two) {
        storage::Row c2 = c1;
        c2[0] = "2", c2[3] = port2, c2[4] = "SIM0000002";
        if (!storage::insertCollector(storage::Collector::fromRow(c2)).ok)
            return false;
        ports << port2;
    }
    if (!storage::selectCollector("SIM0000001").ok)
        return false;
    setExtraPorts(ports);

    if (!setup.withPage) {
        session = std::make_unique<acquisition::RunSession>(nullptr, parts);
        return session->loadSelection().ok;
    }
    page = std::make_unique<shoudata>(nullptr, parts);
    child<QLineEdit>(page.get(), "lineEdit")->setText("1");
    if (two) {
        child<QCheckBox>(page.get(), "checkBox_2")->setChecked(true);
        auto *serial2 = child<QComboBox>(page.get(), "comboBox_6");
        serial2->setCurrentIndex(serial2->findText("SIM0000002"));
    }
    return child<QComboBox>(page.get(), "comboBox_3")->currentText() == port1;
}

QString RunRig::portName(int collector) const
{
    const sim::CollectorSim *sim = collector == 1 ? sim1.get() : sim2.get();
    if (!sim)
        return QString();
    return real ? sim->portPath() : QStringLiteral("sim%1").arg(collector);
}

void RunRig::advance(qint64 ms)
{
    if (real) {
        waitUntil([] { return false; }, int(ms));
        return;
    }
    clock.advance(ms, [] { QCoreApplication::processEvents(); });
    QCoreApplication::processEvents();
}

bool RunRig::advanceUntil(const std::function<bool()> &done, qint64 ms, qint64 stepMs)
{
    if (real)
        return waitUntil(done, int(ms));
    for (qint64 t = 0; t < ms && !done(); t += stepMs)
        advance(stepMs);
    return done();
}

int RunRig::samples() const
{
    return page ? page->session()->samples().size() : session->samples().size();
}

void RunRig::start()
{
    click(page.get(), "pushButton");
    advanceUntil([&] { return page->session()->state() != acquisition::RunState::Starting; }, 5000,
                 50);
}

void RunRig::stop()
{
    // Stopping a point without a sample asks first; the rig means it.
    if (page->isRunning() && page->monitor()->state().pointSamples == 0)
        prompts::queueAnswer(true);
    click(page.get(), "pushButton_2");
    advanceUntil([&] { return page->session()->state() != acquisition::RunState::Stopping; }, 5000,
                 50);
    sent();
}

void RunRig::sent()
{
    // On a server the samples go through the spool, sent by a thread of
    // its own: what the run stored is read once they are there.
    storage::flushSpool();
}

bool RunRig::startSession(const QString &point, bool two)
{
    acquisition::StartRequest r;
    r.two = two;
    r.port1 = real ? sim1->portPath() : QStringLiteral("sim1");
    r.port2 = !sim2 ? QString() : real ? sim2->portPath() : QStringLiteral("sim2");
    r.point = acquisition::pointOfLabel(point);
    r.intervalSeconds = 1;
    r.collectorSerial = QStringLiteral("SIM0000001");
    r.collectorSerial2 = two ? QStringLiteral("SIM0000002") : QString();
    bool failed = false;
    QObject context;
    QObject::connect(session.get(), &acquisition::RunSession::startFailed, &context,
                     [&](const acquisition::StartFailure &why) {
                         qWarning() << "start failed:" << int(why.kind) << why.detail;
                         failed = true;
                     });
    session->start(r);
    advanceUntil([&] { return session->state() != acquisition::RunState::Starting; }, 5000, 50);
    return !failed && session->state() == acquisition::RunState::Running;
}

void RunRig::stopSession()
{
    session->stop();
    advanceUntil([&] { return session->state() == acquisition::RunState::Idle; }, 5000, 50);
    sent();
}

bool RunRig::waitRows(int rows, int ms)
{
    return advanceUntil([&] { return liveRows() >= rows; }, ms);
}

QStringList RunRig::row(int r) const
{
    QStringList cells;
    const QAbstractItemModel *m = live()->model();
    for (int c = 0; c < m->columnCount(); ++c)
        cells << m->data(m->index(r, c)).toString();
    return cells;
}

} // namespace testkit
