// Limits on what a board holds. Shapes arrive from other members and from the
// phone, so every value is bounded where it enters the canvas.
#pragma once

#include <QPointF>
#include <optional>

#include "VWShapeProperty.h"

namespace vw {

// Points one free-hand or eraser stroke keeps; later points are dropped.
// A long stroke at mouse rate (about 100 events a second) lasts well over a minute.
constexpr int kMaxPointsPerShape = 10000;
// Finished shapes one board keeps; further shapes are not kept.
constexpr int kMaxShapesPerBoard = 1000;
// Points all finished shapes of a board keep together (about 6 MB with the
// pixel caches); a shape or point beyond it is not kept.
constexpr int kMaxPointsPerBoard = 200000;
// Shapes undo keeps for redo; the oldest one is forgotten beyond it.
constexpr int kMaxUndoneShapes = 64;
// A normalised coordinate lies within [-16, 16] (sixteen canvas sizes off the
// canvas): larger values are clamped, so pixel values always fit an int.
constexpr double kMaxNormalisedCoordinate = 16.0;
// Widest pen in pixels; wider pens are drawn at this width.
constexpr int kMaxPenWidth = 100;

// The point with each coordinate clamped to the limit above; nothing when a
// coordinate is NaN or infinite.
std::optional<QPointF> boundedPoint(const QPointF& p);

// The style with colour channels clamped to 0-255 and the width to 0-kMaxPenWidth.
VWShapeProperty boundedProperty(const VWShapeProperty& p);

// Truncation towards zero that stays defined for any value (clamped to int).
int truncToInt(double v);

}  // namespace vw
