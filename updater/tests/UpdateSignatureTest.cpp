// Installers are run only under a good signature of the release key.
#include <gtest/gtest.h>
#include <sodium.h>

#include <QFile>

#include "updater/UpdateSignature.h"

namespace {
struct KeyPair {
  QByteArray publicKey{crypto_sign_PUBLICKEYBYTES, '\0'};
  QByteArray secretKey{crypto_sign_SECRETKEYBYTES, '\0'};
  KeyPair() {
    crypto_sign_keypair(reinterpret_cast<unsigned char*>(publicKey.data()),
                        reinterpret_cast<unsigned char*>(secretKey.data()));
  }
  QByteArray sign(const QByteArray& data) const {
    QByteArray sig(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char*>(sig.data()), nullptr,
                         reinterpret_cast<const unsigned char*>(data.constData()),
                         static_cast<unsigned long long>(data.size()),
                         reinterpret_cast<const unsigned char*>(secretKey.constData()));
    return sig;
  }
};
}  // namespace

TEST(UpdateSignature, OnlyTheSignedBytesUnderTheirKeyPass) {
  ASSERT_GE(sodium_init(), 0);
  const KeyPair release, other;
  const QByteArray installer = "#!/bin/sh\necho installing\n";
  const QByteArray sig = release.sign(installer);
  using UpdateSignature::verify;
  EXPECT_TRUE(verify(installer, sig, release.publicKey));

  QByteArray tampered = installer;
  tampered[tampered.size() - 2] = '!';
  EXPECT_FALSE(verify(tampered, sig, release.publicKey));
  EXPECT_FALSE(verify(installer + " ", sig, release.publicKey));
  EXPECT_FALSE(verify(installer, other.sign(installer), release.publicKey));
  EXPECT_FALSE(verify(installer, sig, other.publicKey));
  EXPECT_FALSE(verify(installer, QByteArray(), release.publicKey));
  EXPECT_FALSE(verify(installer, sig.left(63), release.publicKey));
  EXPECT_FALSE(verify(installer, sig, release.publicKey.left(31)));
}

TEST(UpdateSignature, DecodeTakesBase64OfSixtyFourBytesOnly) {
  const QByteArray sig(64, '\x5a');
  const QString text = QString::fromLatin1(sig.toBase64());
  EXPECT_EQ(UpdateSignature::decode(text), sig);
  EXPECT_TRUE(UpdateSignature::decode("").isEmpty());
  EXPECT_TRUE(UpdateSignature::decode(text.left(87)).isEmpty());
  EXPECT_TRUE(UpdateSignature::decode(text + "=").isEmpty());
  EXPECT_TRUE(UpdateSignature::decode(QString(88, '!')).isEmpty());
  EXPECT_TRUE(UpdateSignature::decode(QString::fromLatin1(QByteArray(63, 'a').toBase64()) + "AAAA")
                  .isEmpty());
  QString wide = text;
  wide[3] = QChar(0x4e2d);
  EXPECT_TRUE(UpdateSignature::decode(wide).isEmpty());
}

TEST(UpdateSignature, TheBuiltInKeyIsTheBuildsReleaseKey) {
  QFile file(QStringLiteral(TAV_UPDATE_PUBLIC_KEY));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(UpdateSignature::builtInPublicKey().toHex(), file.readAll().trimmed().toLower());
}
