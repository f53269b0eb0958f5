// Reading the values of board messages and shape objects, which come from
// other members and the phone: each reader gives nothing for a missing or
// wrongly typed value, and points come bounded (VWBounds.h).
#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QPointF>
#include <optional>

namespace vw {

// A whole number from a finite JSON number (truncated, clamped to int).
std::optional<int> intOf(const QJsonValue& v);
// A coordinate as a JSON number or as a string holding one.
std::optional<double> coordinateOf(const QJsonValue& v);
// The bounded point of an object's "x" and "y".
std::optional<QPointF> pointOf(const QJsonObject& o);

}  // namespace vw
