// Releases are signed (Ed25519): the updater runs only an installer whose
// signature checks against the public key built into it.
#pragma once

#include <QByteArray>
#include <QString>

namespace UpdateSignature {

inline constexpr int kSignatureBytes = 64;
inline constexpr int kPublicKeyBytes = 32;

// The signature as the version answer carries it (standard base64 of the 64
// bytes); empty when the text is anything else.
QByteArray decode(const QString& text);

// Whether signature (64 bytes) signs data under publicKey (32 bytes).
bool verify(const QByteArray& data, const QByteArray& signature, const QByteArray& publicKey);

// The release key this updater was built with.
QByteArray builtInPublicKey();

}  // namespace UpdateSignature
