#pragma once

// The protocol traces ("send:", "sone:", "qs1 OK!" ...). Off unless enabled,
// for example with QT_LOGGING_RULES="orven.trace.debug=true".

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcTrace)
