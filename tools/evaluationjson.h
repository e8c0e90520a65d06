#pragma once

// The JSON of `orven-report evaluate`: per point and kind every figure of
// the method, as computed (three decimals) and as a certificate rounds it,
// with its budget and every component.

#include "results/evaluation.h"

#include <QString>

namespace report {

QString evaluationJson(const storage::RunHeader &header, const results::Evaluation &evaluation);

} // namespace report
