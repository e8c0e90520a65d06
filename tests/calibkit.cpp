#include "tests/calibkit.h"

#include "storage/transaction.h"

#include <QtDebug>

namespace testkit {

static const char *const kTime = "yyyy-MM-dd HH:mm:ss";

QString timeAfter(const QString &begin, int seconds)
{
    return QDateTime::fromString(begin, QLatin1String(kTime))
        .addSecs(seconds)
        .toString(QLatin1String(kTime));
}

storage::RunHeader insertCalibration(const CalibrationSpec &spec)
{
    storage::RunHeader h;
    h.dtbegin = spec.begin;
    h.dtend = timeAfter(spec.begin, qMax(0, spec.samples.size() - 1) * spec.stepSeconds);
    h.pointnum = QString::number(spec.tem.size());
    h.temset = storage::listText(spec.tem);
    h.humset = storage::listText(spec.hum);
    h.kindsA = spec.kindsA;
    h.kindsB = spec.kindsB;
    h.collector = spec.collector;
    h.equipname = spec.equipment;
    h.channum = QString::number(spec.channels.size());
    h.samplenum = QString::number(spec.sampleCount >= 0 ? spec.sampleCount : spec.samples.size());
    h.chanlist = storage::listText(spec.channels);
    h.envtem = QStringLiteral("23");
    h.envhum = QStringLiteral("55");
    h.equiptype = spec.equipType;
    h.typesA = spec.typesA;
    h.typesB = spec.typesB;
    const storage::Result<int> count = storage::countHeaders();
    h.num = QString::number(count.value + 1);
    const storage::Status st = storage::inTransaction([&] {
        storage::Status s;
        for (int i = 0; s && i < spec.samples.size(); ++i)
            s = storage::insertSample(storage::Sample{spec.equipment, spec.samples[i].point,
                                                      timeAfter(spec.begin, i * spec.stepSeconds),
                                                      h.chanlist, spec.samples[i].values});
        if (s)
            s = storage::insertHeader(h);
        return s;
    });
    if (!st)
        qWarning() << "insertCalibration:" << st.error;
    return h;
}

} // namespace testkit
