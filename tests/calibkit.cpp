#include "tests/calibkit.h"

#include "storage/spool.h"
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

storage::RunHeader insertCalibration(const CalibrationFixture &fixture)
{
    storage::RunHeader h;
    h.dtbegin = fixture.begin;
    h.dtend = timeAfter(fixture.begin, qMax(0, fixture.samples.size() - 1) * fixture.stepSeconds);
    h.pointnum = QString::number(fixture.tem.size());
    h.temset = storage::listText(fixture.tem);
    h.humset = storage::listText(fixture.hum);
    h.kindsA = fixture.kindsA;
    h.kindsB = fixture.kindsB;
    h.collector = fixture.collector;
    h.equipname = fixture.equipment;
    h.channum = QString::number(fixture.channels.size());
    h.samplenum =
        QString::number(fixture.sampleCount >= 0 ? fixture.sampleCount : fixture.samples.size());
    h.chanlist = storage::listText(fixture.channels);
    h.envtem = QStringLiteral("23");
    h.envhum = QStringLiteral("55");
    h.equiptype = fixture.equipType;
    h.typesA = fixture.typesA;
    h.typesB = fixture.typesB;
    const base::Result<int> count = storage::countHeaders();
    h.num = QString::number(count.value + 1);
    // On a server the samples go through the spool; the header follows
    // once they are there (it takes their run).
    base::Status st = storage::inTransaction([&] {
        base::Status s;
        for (int i = 0; s && i < fixture.samples.size(); ++i)
            s = storage::insertSample(
                storage::Sample{fixture.equipment, fixture.samples[i].point,
                                timeAfter(fixture.begin, i * fixture.stepSeconds), h.chanlist,
                                fixture.samples[i].values});
        return s;
    });
    if (st)
        st = storage::flushSpool();
    if (st)
        st = storage::insertHeader(h);
    if (!st)
        qWarning() << "insertCalibration:" << st.error;
    return h;
}

} // namespace testkit
