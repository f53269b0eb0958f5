#include "updater/UpdateSignature.h"

#include <sodium.h>

// Generated at build time from the release's public key.
extern const unsigned char kTavUpdatePublicKey[UpdateSignature::kPublicKeyBytes];

namespace UpdateSignature {

QByteArray decode(const QString& text) {
  // 64 bytes are 88 base64 characters with their padding; nothing else is a signature.
  const QByteArray ascii = text.toLatin1();
  if (text.size() != 88 || QString::fromLatin1(ascii) != text)
    return QByteArray();
  unsigned char bytes[kSignatureBytes];
  size_t length = 0;
  if (sodium_base642bin(bytes, sizeof bytes, ascii.constData(), static_cast<size_t>(ascii.size()),
                        nullptr, &length, nullptr, sodium_base64_VARIANT_ORIGINAL) != 0 ||
      length != sizeof bytes)
    return QByteArray();
  return QByteArray(reinterpret_cast<const char*>(bytes), kSignatureBytes);
}

bool verify(const QByteArray& data, const QByteArray& signature, const QByteArray& publicKey) {
  if (signature.size() != kSignatureBytes || publicKey.size() != kPublicKeyBytes)
    return false;
  if (sodium_init() < 0)
    return false;
  return crypto_sign_verify_detached(
             reinterpret_cast<const unsigned char*>(signature.constData()),
             reinterpret_cast<const unsigned char*>(data.constData()),
             static_cast<unsigned long long>(data.size()),
             reinterpret_cast<const unsigned char*>(publicKey.constData())) == 0;
}

QByteArray builtInPublicKey() {
  return QByteArray(reinterpret_cast<const char*>(kTavUpdatePublicKey), kPublicKeyBytes);
}

}  // namespace UpdateSignature
