#include "link/trace.h"

Q_LOGGING_CATEGORY(lcTrace, "orven.trace", QtInfoMsg)
