// main() of the libpavo tests: the library reads "videoparam.conf" from the working
// directory once per process, so the tests run in a folder that has a valid one.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "pavo_test_params.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::string dir = "/tmp/pavo-test-XXXXXX";
  if (!mkdtemp(&dir[0])) {
    std::perror("mkdtemp");
    return 1;
  }
  std::filesystem::current_path(dir);
  std::ofstream(dir + "/videoparam.conf") << pavo_test::valid_video_param;
  const int result = RUN_ALL_TESTS();
  std::filesystem::current_path("/");
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return result;
}
