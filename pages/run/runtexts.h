#pragma once

// What the run page says about the engine's values: refusals, start
// failures, stability, alarms and the outcome of processing.

#include "acquisition/poller.h"
#include "acquisition/runmonitor.h"
#include "acquisition/runsession.h"

#include <QString>

namespace runtexts {

QString collectorName(int collector); // "设备一", "设备二"
QString refusal(acquisition::Refusal refusal, int exceptionCode = -1);
QString startFailure(const acquisition::StartFailure &failure);
QString stability(const acquisition::Stability &stability);
QString alarm(const acquisition::Alarm &alarm);
// While a point settles: how many readings were shown and the range of the
// last one by kind ("已读 3 次（不保存）；温度 24.8…25.3 ℃").
QString settling(int readings, const QVector<float> &last, const QVector<bool> &humidity);
QString processing(const acquisition::RunSession::Processing &p);

} // namespace runtexts
