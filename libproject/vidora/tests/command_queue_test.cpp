// The caller's operations on a player that is not started: they only queue commands.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "test_media.h"
#include "vidora_impl.h"

namespace {

std::unique_ptr<vidora_impl> make_player(const char* path = "/nonexistent.mp4") {
  return std::unique_ptr<vidora_impl>(static_cast<vidora_impl*>(vidora::create(path, nullptr, 3)));
}

TEST(CommandQueue, PauseQueuesAToggleOnlyWhenTheStateChanges) {
  auto player = make_player();
  ASSERT_TRUE(player);
  player->set_pause(false);  // a fresh player is playing already
  EXPECT_TRUE(player->queued_commands().empty());
  player->set_pause(true);
  player->set_pause(true);
  auto commands = player->queued_commands();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].kind, player_command::toggle_pause);
  EXPECT_EQ(commands[0].payload, nullptr);
  player->set_pause(false);
  commands = player->queued_commands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[1].kind, player_command::toggle_pause);
}

TEST(CommandQueue, SeekCarriesItsPercentInOrder) {
  auto player = make_player();
  player->seek(30);
  player->seek(100);
  const auto commands = player->queued_commands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].kind, player_command::seek);
  EXPECT_EQ(*static_cast<int*>(commands[0].payload), 30);
  EXPECT_EQ(*static_cast<int*>(commands[1].payload), 100);
  // The player frees the queued payloads when it goes (checked under the sanitizers).
}

TEST(CommandQueue, StopOnAPlayerNeverStartedQueuesNothing) {
  auto player = make_player();
  player->stop();
  EXPECT_TRUE(player->queued_commands().empty());
}

TEST(CommandQueue, PathIsCopiedAndCutAt259Bytes) {
  std::string path = "/tmp/video.mp4";
  auto player = make_player(path.c_str());
  path[1] = 'X';
  EXPECT_STREQ(player->path(), "/tmp/video.mp4");

  const std::string long_path(400, 'a');
  auto long_player = make_player(long_path.c_str());
  EXPECT_EQ(std::string(long_player->path()), long_path.substr(0, 259));
}

TEST(CommandQueue, StartTwiceStartsOnceAndStopQueuesQuit) {
  // A file that does not open: the reader ends quietly and the control thread waits for
  // commands until it is stopped.
  vidora_test::recording_observer observer;
  std::unique_ptr<vidora_impl> player(
      static_cast<vidora_impl*>(vidora::create("/nonexistent/file.mp4", &observer, 0)));
  EXPECT_EQ(player->start(), 0);
  EXPECT_EQ(player->start(), 0);
  EXPECT_TRUE(player->is_running());
  player->stop();
  EXPECT_FALSE(player->is_running());
  std::lock_guard<std::mutex> lock(observer.mutex);
  EXPECT_TRUE(observer.progress.empty());
  EXPECT_EQ(observer.frame_count, 0);
}

}  // namespace
