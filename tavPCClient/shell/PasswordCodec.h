// Reversible byte substitution for the remembered passwords of "tavQN".
// Only printable ASCII survives the round trip; other bytes are dropped.
#pragma once

#include <QString>

namespace PasswordCodec {
QString encode(const QString& password);
QString decode(const QString& stored);
}  // namespace PasswordCodec
