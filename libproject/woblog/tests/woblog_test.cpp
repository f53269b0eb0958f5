#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "woblog/woblog.h"

namespace fs = std::filesystem;

namespace {

class WoblogTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("woblog_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    qn::log_close();
    fs::remove_all(dir_);
  }

  std::string path(const char* name) const { return (dir_ / name).string(); }

  static std::string read(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }

  static std::vector<std::string> lines(const std::string& file) {
    std::vector<std::string> result;
    std::istringstream in(read(file));
    for (std::string line; std::getline(in, line);)
      result.push_back(line);
    return result;
  }

  fs::path dir_;
};

const std::regex kStamp(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )");

TEST_F(WoblogTest, WritesOneStampedLinePerCall) {
  const std::string file = path("wobl.log");
  ASSERT_EQ(qn::log_init(file.c_str()), 0);
  qn::log("libpavo userid:%u roomid:%u, mcuip:%s port:%hu", 7u, 42u, "127.0.0.1",
          static_cast<unsigned short>(27802));
  qn::log("start_capture error\n");  // its own newline is not doubled
  qn::log("two\nparts");             // inner breaks do not split the line
  const std::string text = read(file);
  const auto got = lines(file);
  ASSERT_EQ(got.size(), 3u) << text;
  EXPECT_EQ(text.back(), '\n');
  for (const auto& line : got)
    EXPECT_TRUE(std::regex_search(line, kStamp)) << line;
  EXPECT_EQ(got[0].substr(24), "libpavo userid:7 roomid:42, mcuip:127.0.0.1 port:27802");
  EXPECT_EQ(got[1].substr(24), "start_capture error");
  EXPECT_EQ(got[2].substr(24), "two parts");
}

TEST_F(WoblogTest, HugeLineIsCutToTheBuffer) {
  const std::string file = path("wobl.log");
  ASSERT_EQ(qn::log_init(file.c_str()), 0);
  const std::string huge(100000, 'x');
  qn::log("%s", huge.c_str());
  qn::log("after");
  const std::string text = read(file);
  const auto got = lines(file);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].size() + 1, qn::log_line_max);  // the newline completes the buffer
  EXPECT_TRUE(std::regex_search(got[0], kStamp));
  EXPECT_EQ(got[0].find_first_not_of('x', 24), std::string::npos);
  EXPECT_EQ(got[1].substr(24), "after");
  EXPECT_EQ(text.size(), qn::log_line_max + got[1].size() + 1);
}

TEST_F(WoblogTest, LinesBeforeInitGoNowhere) {
  qn::log_close();
  qn::log("lost %d", 1);  // must not crash or create anything
  EXPECT_TRUE(fs::is_empty(dir_));
  EXPECT_EQ(qn::log_init(nullptr), -1);
  EXPECT_EQ(qn::log_init(""), -1);
  qn::log(nullptr);
}

TEST_F(WoblogTest, ReinitSwitchesFilesAndAppends) {
  const std::string a = path("a.log"), b = path("b.log");
  { std::ofstream(a) << "kept from before\n"; }
  ASSERT_EQ(qn::log_init(a.c_str()), 0);
  qn::log("one");
  ASSERT_EQ(qn::log_init(b.c_str()), 0);
  qn::log("two");
  ASSERT_EQ(qn::log_init(a.c_str()), 0);
  qn::log("three");
  // A path that cannot be opened keeps the current file.
  EXPECT_EQ(qn::log_init(path("missing/dir/c.log").c_str()), -1);
  qn::log("four");
  qn::log_close();
  qn::log("five");

  const auto in_a = lines(a);
  ASSERT_EQ(in_a.size(), 4u);
  EXPECT_EQ(in_a[0], "kept from before");
  EXPECT_EQ(in_a[1].substr(24), "one");
  EXPECT_EQ(in_a[2].substr(24), "three");
  EXPECT_EQ(in_a[3].substr(24), "four");
  const auto in_b = lines(b);
  ASSERT_EQ(in_b.size(), 1u);
  EXPECT_EQ(in_b[0].substr(24), "two");
}

TEST_F(WoblogTest, ConcurrentWritersKeepLinesWhole) {
  const std::string file = path("wobl.log");
  ASSERT_EQ(qn::log_init(file.c_str()), 0);
  constexpr int kThreads = 6, kLines = 400;
  const std::string padding(300, 'p');  // long lines make torn writes likely if unguarded
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i)
        qn::log("writer %d line %d %s end", t, i, padding.c_str());
    });
  }
  for (auto& t : threads)
    t.join();

  const auto got = lines(file);
  ASSERT_EQ(got.size(), size_t(kThreads) * kLines);
  const std::regex whole(
      R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} writer (\d+) line (\d+) p{300} end$)");
  std::vector<int> next(kThreads, 0);
  for (const auto& line : got) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, whole)) << line.substr(0, 80);
    const int t = std::stoi(m[1]), i = std::stoi(m[2]);
    ASSERT_LT(t, kThreads);
    EXPECT_EQ(i, next[t]) << "writer " << t << " out of order";
    next[t] = i + 1;
  }
}

}  // namespace
