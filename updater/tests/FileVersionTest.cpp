// Versions: the comparison, and reading the one a program carries.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "TestSupport.h"
#include "updater/FileVersion.h"

namespace {
QString writeFile(const QTemporaryDir& dir, const QByteArray& bytes) {
  static int n = 0;
  const QString path = dir.filePath(QStringLiteral("file%1").arg(++n));
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
  return path;
}
}  // namespace

TEST(FileVersion, LargerComparesPartsAsNumbersThenCountsThem) {
  using FileVersion::larger;
  // (installed a, server b) -> the larger
  EXPECT_EQ(larger("1.0.0.19", "1.0.0.20"), "1.0.0.20");
  EXPECT_EQ(larger("1.0.0.20", "1.0.0.19"), "1.0.0.20");
  EXPECT_EQ(larger("1.0.0.19", "1.0.1"), "1.0.1");   // the third part decides
  EXPECT_EQ(larger("1.0.0.1", "1.0.0"), "1.0.0.1");  // more parts win when equal
  EXPECT_EQ(larger("1.0.0", "1.0.0.1"), "1.0.0.1");
  EXPECT_EQ(larger("1.0.0.9", "1.0.0.10"), "1.0.0.10");  // numbers, not text
  EXPECT_EQ(larger("1.0.0.9", "1.0.0.09"), "1.0.0.9");   // equal: a is returned
  EXPECT_EQ(larger("1.0.0.09", "1.0.0.9"), "1.0.0.09");
  EXPECT_EQ(larger("2", "10"), "10");
  EXPECT_EQ(larger("", "1.0"), "");
  EXPECT_EQ(larger("1.0", ""), "");
}

TEST(FileVersion, OnlyNumbersJoinedByDotsAreVersions) {
  for (const char* good : {"1", "1.0.0.19", "123456789.0", "1.2.3.4.5.6.7.8"})
    EXPECT_TRUE(FileVersion::isValid(good)) << good;
  for (const char* bad : {"", ".", "1.", ".1", "1..0", "1.0.x", "v1.0", "1,0", "1.0 ",
                          "1234567890.0", "1.2.3.4.5.6.7.8.9", "-1.0"})
    EXPECT_FALSE(FileVersion::isValid(bad)) << bad;
}

TEST(FileVersion, ReadsTheVersionAProgramCarries) {
  // Both programs were stamped by the build.
  EXPECT_EQ(FileVersion::read(testsupport::binDir() + "/TavPcClient"), TAV_PROJECT_VERSION);
  EXPECT_EQ(FileVersion::read(TAV_TEST_CLIENT), "1.0.0");
  EXPECT_EQ(FileVersion::read(testsupport::binDir() + "/TavUpdate"), "");
  EXPECT_EQ(FileVersion::read(testsupport::binDir() + "/no-such-program"), "");
}

TEST(FileVersion, MalformedOrUnterminatedRecordsAreNoVersion) {
  QTemporaryDir dir;
  const QByteArray m = FileVersion::kMarker;
  EXPECT_EQ(FileVersion::read(writeFile(dir,
                                        "\x7f"
                                        "ELF no version here")),
            "");
  EXPECT_EQ(FileVersion::read(writeFile(dir, "")), "");
  EXPECT_EQ(FileVersion::read(writeFile(dir, "xx" + m + "1.0.1")), "");  // cut off at the end
  EXPECT_EQ(FileVersion::read(writeFile(dir, m + "1.0.x" + QByteArray(1, '\0'))), "");
  EXPECT_EQ(FileVersion::read(writeFile(dir, m + "1..1\n")), "");
  EXPECT_EQ(FileVersion::read(writeFile(dir, m + QByteArray(200, '1') + '\n')), "");
  EXPECT_EQ(FileVersion::read(writeFile(dir, m + m + "2.0\n")), "2.0");
  // A broken record does not hide a good one after it.
  EXPECT_EQ(FileVersion::read(writeFile(dir, m + "bad\n" + m + "1.0.2" + QByteArray(1, '\0'))),
            "1.0.2");
  EXPECT_EQ(FileVersion::read(writeFile(dir, "#!/bin/sh\n# " + m + "1.0.3\r\n")), "1.0.3");
  EXPECT_EQ(FileVersion::fromBytes("# " + m + "1.0.4\n"), "1.0.4");
}
