#include <gtest/gtest.h>

#include "platform/platform.h"
#include "test_support.h"

using namespace testing_support;

namespace {

class PathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env.set("HOME", tmp / "home");
    env.unset("XDG_DATA_HOME");
    env.unset("XDG_CONFIG_HOME");
    env.unset("XDG_PICTURES_DIR");
  }

  TempDir tmp;
  ScopedEnv env;
};

TEST_F(PathsTest, DataFoldersFollowXdgDataHomeWithoutCreatingThem) {
  env.set("XDG_DATA_HOME", tmp / "data/");
  EXPECT_EQ(platform::userDataDir(), tmp / "data/TavPcClient/");
  EXPECT_EQ(platform::localAppDataDir(), tmp / "data");
  EXPECT_FALSE(exists(tmp / "data"));
}

TEST_F(PathsTest, DataFoldersFallBackToHome) {
  const std::string expected = tmp / "home/.local/share";
  EXPECT_EQ(platform::localAppDataDir(), expected);
  EXPECT_EQ(platform::userDataDir(), expected + "/TavPcClient/");

  // Empty and relative values are invalid under the XDG rules.
  for (const char* ignored : {"", "relative/data"}) {
    env.set("XDG_DATA_HOME", ignored);
    EXPECT_EQ(platform::localAppDataDir(), expected) << "XDG_DATA_HOME=" << ignored;
  }
}

TEST_F(PathsTest, WithoutHomeOnlyUserDataDirHasAnAnswer) {
  env.unset("HOME");
  EXPECT_EQ(platform::localAppDataDir(), "");
  EXPECT_EQ(platform::picturesDir(), "");
  const std::string dir = platform::userDataDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.front(), '/');
  EXPECT_EQ(dir.substr(dir.size() - 13), "/TavPcClient/");
}

TEST_F(PathsTest, PicturesDirFromUserDirsFile) {
  env.set("XDG_CONFIG_HOME", tmp / "config");
  makeDirs(tmp / "config");
  EXPECT_EQ(platform::picturesDir(), tmp / "home/Pictures");  // No file yet.

  writeFile(tmp / "config/user-dirs.dirs",
            "# written by xdg-user-dirs-update\n"
            "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
            "#XDG_PICTURES_DIR=\"$HOME/Commented\"\n"
            "XDG_PICTURESQUE_DIR=\"$HOME/Wrong\"\n"
            "XDG_PICTURES_DIR=\"$HOME/Old\"\n"
            "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
  EXPECT_EQ(platform::picturesDir(), tmp / "home/Bilder");

  writeFile(tmp / "config/user-dirs.dirs", "XDG_PICTURES_DIR=\"/srv/My \\\"Pics\\\"/\"\n");
  EXPECT_EQ(platform::picturesDir(), "/srv/My \"Pics\"");

  // A relative entry is invalid; the default applies.
  writeFile(tmp / "config/user-dirs.dirs", "XDG_PICTURES_DIR=\"Pictures\"\n");
  EXPECT_EQ(platform::picturesDir(), tmp / "home/Pictures");

  env.set("XDG_PICTURES_DIR", tmp / "direct");
  EXPECT_EQ(platform::picturesDir(), tmp / "direct");
}

TEST_F(PathsTest, PicturesDirReadsConfigBelowHomeByDefault) {
  makeDirs(tmp / "home/.config");
  writeFile(tmp / "home/.config/user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Fotos\"\n");
  EXPECT_EQ(platform::picturesDir(), tmp / "home/Fotos");
}

TEST(ExecutableNameTest, HasNoSuffixOnLinux) {
  EXPECT_EQ(platform::executableName("TavUpdate"), "TavUpdate");
}

TEST(TickTest, NeverGoesBackwards) {
  uint32_t previous = platform::tickMs();
  for (int i = 0; i < 1000; ++i) {
    const uint32_t now = platform::tickMs();
    // Unsigned difference, so a wrap-around between two calls is not a step back.
    EXPECT_LT(static_cast<uint32_t>(now - previous), 0x80000000u);
    previous = now;
  }
}

}  // namespace
