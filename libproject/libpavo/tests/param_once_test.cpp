// A process whose first "videoparam.conf" is invalid keeps refusing to create instances,
// even after the file is fixed: the table is read once.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "libpavo/libpavo.h"
#include "pavo_test_params.h"
#include "pavo_test_support.h"

namespace {

TEST(VideoParamOnce, SeventeenLinesRefuseEveryCreateOfTheProcess) {
  std::string dir = "/tmp/pavo-once-XXXXXX";
  ASSERT_NE(mkdtemp(&dir[0]), nullptr);
  std::filesystem::current_path(dir);
  const std::string full = pavo_test::valid_video_param;
  std::ofstream(dir + "/videoparam.conf") << full.substr(0, full.rfind("share max"));

  pavo_test::recording_observer observer;
  EXPECT_EQ(Libpavo::create(&observer, 1, 2, "127.0.0.1", 27802, user_role_student), nullptr);

  std::ofstream(dir + "/videoparam.conf", std::ios::trunc) << full;
  EXPECT_EQ(Libpavo::create(&observer, 1, 2, "127.0.0.1", 27802, user_role_student), nullptr);
  EXPECT_EQ(observer.count("event7"), 0u);  // nothing else happened
  Libpavo::destory(nullptr);                // accepted

  std::filesystem::current_path("/");
  std::filesystem::remove_all(dir);
}

}  // namespace
