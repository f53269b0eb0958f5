// Damaged input ends quietly: either it does not open (no picture, no report) or it plays
// what can be decoded and reaches its end.
#include <fstream>
#include <memory>
#include <random>

#include <gtest/gtest.h>

#include "eventually.h"
#include "test_media.h"
#include "vidora_impl.h"

using namespace vidora_test;

namespace {

void write_file(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

TEST(Robustness, FilesThatDoNotOpenEndTheReaderWithoutReports) {
  temp_folder dir;
  std::vector<unsigned char> noise(4096);
  std::mt19937 rng(7);
  for (unsigned char& b : noise)
    b = static_cast<unsigned char>(rng());
  write_file(dir.file("noise.mp4"), noise);
  write_file(dir.file("empty.mp4"), {});
  write_file(dir.file("text.mp4"), std::vector<unsigned char>(100, 'x'));
  for (const char* name : {"noise.mp4", "empty.mp4", "text.mp4", "missing.mp4"}) {
    const core_run_result result = run_core(dir.file(name));
    EXPECT_FALSE(result.opened) << name;
    EXPECT_FALSE(result.ended) << name;
    EXPECT_EQ(result.frames, 0) << name;
  }
}

TEST(Robustness, DamagedFilesPlayWhatTheyCanAndEnd) {
  temp_folder dir;
  const std::string good = dir.file("good.mp4");
  ASSERT_TRUE(
      ffmpeg("-f lavfi -i testsrc=s=96x64:r=25 -f lavfi -i sine=f=440:r=48000 -t 2 -c:v libx264 "
             "-preset ultrafast -g 10 -c:a aac -movflags +faststart",
             good));
  const std::vector<unsigned char> bytes = read_file(good);
  ASSERT_GT(bytes.size(), 1000u);

  std::vector<std::pair<std::string, std::vector<unsigned char>>> variants;
  for (int percent : {3, 30, 60, 95})
    variants.push_back(
        {"cut at " + std::to_string(percent) + "%",
         std::vector<unsigned char>(bytes.begin(), bytes.begin() + bytes.size() * percent / 100)});
  for (unsigned seed = 1; seed <= 4; seed++) {
    std::vector<unsigned char> damaged = bytes;
    std::mt19937 rng(seed);
    for (int burst = 0; burst < 12; burst++) {
      const size_t at = rng() % damaged.size();
      for (size_t i = at; i < std::min(damaged.size(), at + 48); i++)
        damaged[i] = static_cast<unsigned char>(rng());
    }
    variants.push_back({"damaged with seed " + std::to_string(seed), damaged});
  }

  for (const auto& [label, content] : variants) {
    const std::string file = dir.file("variant.mp4");
    write_file(file, content);
    const core_run_result result = run_core(file);
    // Quiet either way: no crash, no hang; what opens reaches the end.
    if (result.opened)
      EXPECT_TRUE(result.ended) << label;
    else
      EXPECT_EQ(result.frames, 0) << label;
    for (int position : result.positions)
      EXPECT_LE(position, 3) << label;
  }
}

TEST(Robustness, AnUnopenableFileThroughThePlayerGivesNoObserverCall) {
  temp_folder dir;
  write_file(dir.file("bad.mp4"), std::vector<unsigned char>(64, 0));
  recording_observer observer;
  std::unique_ptr<vidora_impl> player(
      static_cast<vidora_impl*>(vidora::create(dir.file("bad.mp4").c_str(), &observer, 0)));
  player->start();
  player->seek(50);  // dropped: nothing is open
  player->set_pause(true);
  ASSERT_TRUE(testsupport::eventually([&] { return player->queued_commands().empty(); }));
  EXPECT_TRUE(player->is_running()) << "the control thread waits for stop";
  player.reset();
  EXPECT_EQ(observer.frame_count, 0);
  EXPECT_TRUE(observer.progress.empty());
}

}  // namespace
