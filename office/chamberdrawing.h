#pragma once

// The layout drawing a certificate carries (布点示意图): the working space
// as an isometric box with its planes, every location a numbered dot, the
// centre ringed. A PNG, drawn without a window.

#include "results/chamber.h"

#include <QByteArray>
#include <QSize>

namespace office {

QByteArray layoutDrawingPng(const results::ChamberLayout &layout, const QSize &size);

} // namespace office
