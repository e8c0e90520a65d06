#pragma once

// The layout drawing a certificate carries (布点示意图): the working space
// as an isometric box with its planes, every location a numbered dot, the
// centre ringed. A PNG, drawn without a window.

#include "results/chamber.h"

#include <QByteArray>
#include <QPen>
#include <QSize>

class QPainter;

namespace office {

QByteArray layoutDrawingPng(const results::ChamberLayout &layout, const QSize &size);

// The working space's twelve edges with `edges`, and the planes the
// locations lie on, dashed, with `planes`: what every layout drawing
// starts from.
void drawWorkingSpace(QPainter &p, const results::ChamberProjection &at,
                      const results::ChamberLayout &layout, const QPen &edges, QPen planes);

} // namespace office
