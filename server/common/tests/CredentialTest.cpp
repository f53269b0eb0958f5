#include "tavsrv/Credential.h"

#include <gtest/gtest.h>

#include "tavsrv/Random.h"

namespace {

using tavsrv::Credential;
using tavsrv::signCredential;
using tavsrv::verifyCredential;

const std::string kSecret = "0123456789abcdef0123456789abcdef";
constexpr int64_t kNow = 1'700'000'000'000;

Credential sample() {
  Credential c;
  c.user = 10003;
  c.room = 1001;
  c.roleCode = 2;
  c.expiresMs = kNow + 60'000;
  return c;
}

TEST(Credential, WhatIsSignedIsReadBackUntilItExpires) {
  ASSERT_TRUE(tavsrv::initCrypto());
  const std::string text = signCredential(kSecret, sample());
  ASSERT_FALSE(text.empty());
  EXPECT_LE(text.size(), tavsrv::kMaxCredentialLength);
  const auto read = verifyCredential(kSecret, text, kNow);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->user, 10003u);
  EXPECT_EQ(read->room, 1001u);
  EXPECT_EQ(read->roleCode, 2);
  EXPECT_EQ(read->expiresMs, kNow + 60'000);
  EXPECT_FALSE(verifyCredential(kSecret, text, kNow + 60'000));
  // The largest values still fit the length bound.
  Credential big{0xffffffffu, 0xffffffffu, 5, INT64_MAX};
  const std::string bigText = signCredential(kSecret, big);
  EXPECT_LE(bigText.size(), tavsrv::kMaxCredentialLength);
  EXPECT_TRUE(verifyCredential(kSecret, bigText, kNow));
}

TEST(Credential, NothingIsBelievedThatWasNotSignedWithTheSecret) {
  ASSERT_TRUE(tavsrv::initCrypto());
  const std::string text = signCredential(kSecret, sample());
  EXPECT_FALSE(verifyCredential("another secret", text, kNow));
  EXPECT_FALSE(verifyCredential("", text, kNow));
  EXPECT_TRUE(signCredential("", sample()).empty());

  // Any field changed, keeping the MAC, is refused.
  const size_t firstDot = text.find('.');
  const size_t userEnd = text.find('.', firstDot + 1);
  std::string otherUser = text;
  otherUser.replace(firstDot + 1, userEnd - firstDot - 1, "10001");
  EXPECT_FALSE(verifyCredential(kSecret, otherUser, kNow));
  std::string flipped = text;
  flipped.back() = flipped.back() == '0' ? '1' : '0';
  EXPECT_FALSE(verifyCredential(kSecret, flipped, kNow));
}

TEST(Credential, MalformedTextIsRefusedWithoutReadingPastIt) {
  ASSERT_TRUE(tavsrv::initCrypto());
  const std::string text = signCredential(kSecret, sample());
  for (const std::string& bad :
       {std::string(), std::string("."), std::string("1.2.3.4.5"), text.substr(0, text.size() - 1),
        text + "0", "2" + text.substr(1), text + ".", std::string(500, '1'),
        std::string("1.-3.1001.2.9999999999999.") + std::string(64, 'a'),
        std::string("1.010003.1001.2.9999999999999.") + std::string(64, 'a')}) {
    EXPECT_FALSE(verifyCredential(kSecret, bad, kNow)) << bad;
  }
}

}  // namespace
