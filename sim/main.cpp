// orven-sim: a simulated collector on a pseudo-terminal, for running the
// workstation without hardware. Prints the port path, then serves until
// interrupted.

#include "sim/collectorsim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

static int signalPipe[2];

static void onSignal(int)
{
    const char c = 1;
    (void)!::write(signalPipe[1], &c, 1);
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated M702 / M701-TC / M701-RTD collector"));
    parser.addHelpOption();
    const QCommandLineOption model({"m", "model"}, "M702, M701-TC or M701-RTD.", "model", "M702");
    const QCommandLineOption serial({"s", "serial"}, "Ten-character serial number.", "serial",
                                    "ORV7020001");
    const QCommandLineOption link({"l", "link"}, "Create a symlink to the port at this path.",
                                  "path");
    const QCommandLineOption temp("temp", "Chamber temperature, degC.", "value", "25");
    const QCommandLineOption hum("hum", "Chamber humidity, %RH.", "value", "60");
    const QCommandLineOption humid("humidity-channels", "Channels reading humidity, e.g. 103,104.",
                                   "list");
    const QCommandLineOption channels(
        "channels", "Channels already set up, as a collector keeps its layout, e.g. 101,102.",
        "list");
    const QCommandLineOption seed("seed", "Noise seed.", "n", "1");
    const QCommandLineOption chamber(
        "chamber",
        "Behave like a chamber following the run in this workstation database (read only): "
        "the channels settle to the set values of the point being run.",
        "database");
    const QCommandLineOption readingFunction(
        "reading-function", "Function code of the M702 reading reply: 03 or 06.", "code", "03");
    const QCommandLineOption writeReplies(
        "write-replies",
        "How register-block writes are answered: counted (a byte count, then the address, "
        "count and data) or echo (the request echoed whole).",
        "layout", "counted");
    const QCommandLineOption chunks("chunks", "Split every reply into N pieces.", "n", "1");
    const QCommandLineOption gap("chunk-gap", "Milliseconds between pieces.", "ms", "30");
    const QCommandLineOption delay("delay", "Milliseconds before each reply.", "ms", "0");
    const QCommandLineOption corrupt("corrupt-every", "Corrupt every K-th reply.", "k", "0");
    const QCommandLineOption silent("silent-after", "Stop answering after K replies.", "k", "-1");
    const QCommandLineOption exception("exception", "Answer every request with an exception.");
    const QCommandLineOption baud("baud", "Pace replies at this line speed (0: at once).", "n",
                                  "0");
    parser.addOptions({model, serial, link, temp, hum, humid, channels, seed, readingFunction,
                       writeReplies, chamber, chunks, gap, delay, corrupt, silent, exception, baud});
    parser.process(app);

    sim::Options opt;
    if (!rtu::familyFromModel(parser.value(model), &opt.family)) {
        std::fprintf(stderr, "unknown model %s\n", qPrintable(parser.value(model)));
        return 2;
    }
    opt.serial = parser.value(serial);
    opt.temperature = parser.value(temp).toDouble();
    opt.humidity = parser.value(hum).toDouble();
    for (const QString &ch : parser.value(humid).split(QLatin1Char(','), Qt::SkipEmptyParts))
        opt.humidityChannels.insert(ch.trimmed().toInt());
    opt.seed = parser.value(seed).toUInt();
    if (parser.isSet(chamber)) {
        opt.chamberDatabase = parser.value(chamber);
        opt.driftPerMinute = 0; // a chamber holds its point
    }
    const QString function = parser.value(readingFunction);
    if (function == QLatin1String("03") || function == QLatin1String("3"))
        opt.readingFunction = 0x03;
    else if (function == QLatin1String("06") || function == QLatin1String("6"))
        opt.readingFunction = 0x06;
    else {
        std::fprintf(stderr, "--reading-function must be 03 or 06\n");
        return 2;
    }
    const QString layout = parser.value(writeReplies);
    if (layout == QLatin1String("counted"))
        opt.writeReplies = sim::Options::WriteReplies::Counted;
    else if (layout == QLatin1String("echo"))
        opt.writeReplies = sim::Options::WriteReplies::Echo;
    else {
        std::fprintf(stderr, "--write-replies must be counted or echo\n");
        return 2;
    }
    opt.chunks = parser.value(chunks).toInt();
    opt.chunkGapMs = parser.value(gap).toInt();
    opt.delayMs = parser.value(delay).toInt();
    opt.corruptEvery = parser.value(corrupt).toInt();
    opt.silentAfter = parser.value(silent).toInt();
    opt.exceptionReplies = parser.isSet(exception);
    opt.baud = parser.value(baud).toInt();

    sim::CollectorSim collector(opt);
    QString error;
    if (!collector.start(&error, parser.value(link))) {
        std::fprintf(stderr, "cannot start: %s\n", qPrintable(error));
        return 1;
    }
    if (parser.isSet(channels)) {
        QList<int> enabled;
        for (const QString &ch : parser.value(channels).split(QLatin1Char(','), Qt::SkipEmptyParts))
            enabled << ch.trimmed().toInt();
        collector.setEnabledChannels(enabled);
    }
    std::printf("%s\n", qPrintable(parser.isSet(link) ? parser.value(link) : collector.portPath()));
    std::fflush(stdout);

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return 1;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    QSocketNotifier stop(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    QObject::connect(&collector, &sim::CollectorSim::frameReceived,
                     [](const QString &hex) { std::fprintf(stderr, "rx %s\n", qPrintable(hex)); });
    return app.exec();
}
