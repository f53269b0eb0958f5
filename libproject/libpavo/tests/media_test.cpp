// media_ctrl commands and the MCU messages that open, close and route media, against the
// scripted MCU with a media factory that records what it is asked.
#include <cstdio>
#include <fstream>
#include <string>

#include "client_fixture.h"
#include "device_query.h"
#include "frame_buffer.h"

namespace pavo_test {
namespace {

using entry = recording_factory::log_entry;

std::vector<entry> named(recording_factory& factory, const std::string& what) {
  std::vector<entry> out;
  for (const auto& e : factory.log())
    if (e.what == what)
      out.push_back(e);
  return out;
}

TEST_F(ClientTest, DeviceCommandsWorkWithoutAConnection) {
  mcu.set_answer_login(false);
  start_client();
  const int cameras = client->media_ctrl(media_cmd_device_count, reinterpret_cast<void*>(1));
  EXPECT_EQ(cameras, pavo::camera_count());
  EXPECT_GE(cameras, 1) << "the tests run with the synthetic camera";
  EXPECT_EQ(client->media_ctrl(media_cmd_device_count, reinterpret_cast<void*>(2)),
            pavo::microphone_count());
  EXPECT_EQ(client->media_ctrl(media_cmd_device_count, reinterpret_cast<void*>(7)), -1);
  EXPECT_EQ(client->media_ctrl(media_cmd_speaker_count, nullptr), pavo::speaker_count());

  device_name_t name{1, 0, {}};
  EXPECT_EQ(client->media_ctrl(media_cmd_device_name, &name), 0);
  EXPECT_GT(std::string(name.name).size(), 0u);
  name.index = static_cast<uint16_t>(cameras);
  EXPECT_EQ(client->media_ctrl(media_cmd_device_name, &name), -1);

  // Selecting index == count is refused.
  device_select_t select{1, static_cast<uint16_t>(cameras)};
  EXPECT_EQ(client->media_ctrl(media_cmd_select_device, &select), -1);
  select.index = static_cast<uint16_t>(cameras - 1);
  EXPECT_EQ(client->media_ctrl(media_cmd_select_device, &select), 0);
  int speaker = -1;
  EXPECT_EQ(client->media_ctrl(media_cmd_select_speaker, &speaker), -1);
  speaker = pavo::speaker_count();
  EXPECT_EQ(client->media_ctrl(media_cmd_select_speaker, &speaker), -1);
  EXPECT_EQ(client->media_ctrl(media_cmd_select_speaker, nullptr), -1);
}

TEST_F(ClientTest, ClipLengthIsTheBigEndianWordAtByteFive) {
  mcu.set_answer_login(false);
  start_client();
  {
    std::ofstream clip("clip.bin", std::ios::binary);
    const char head[9] = {'#', '!', 'A', 'M', 'R', 0, 0, 1, 2};
    clip.write(head, 9);
    clip << "more";
  }
  EXPECT_EQ(client->media_ctrl(media_cmd_clip_seconds, const_cast<char*>("clip.bin")), 258);
  {
    std::ofstream shorter("short.bin", std::ios::binary);
    shorter << "12345678";
  }
  EXPECT_EQ(client->media_ctrl(media_cmd_clip_seconds, const_cast<char*>("short.bin")), -1);
  EXPECT_EQ(client->media_ctrl(media_cmd_clip_seconds, const_cast<char*>("missing.bin")), -1);
  EXPECT_EQ(client->media_ctrl(media_cmd_clip_seconds, nullptr), -1);
  std::remove("clip.bin");
  std::remove("short.bin");
}

TEST_F(ClientTest, OpenSenderStartsOnceWithTheTableValuesAndReportsTheMinimum) {
  log_in();
  const int cameras = pavo::camera_count();
  device_select_t select{1, static_cast<uint16_t>(cameras - 1)};
  ASSERT_EQ(client->media_ctrl(media_cmd_select_device, &select), 0);
  select.index = static_cast<uint16_t>(cameras);  // refused: keeps cameras - 1
  ASSERT_EQ(client->media_ctrl(media_cmd_select_device, &select), -1);

  mcu.send(9, be32({0, 1}) + be16(4321));
  auto started = mcu.next(18);
  ASSERT_TRUE(started);
  EXPECT_EQ(started->payload, be32({own_id, 1, 100}));
  auto open = observer.next_event(pavo_event_media_open);
  ASSERT_TRUE(open);
  EXPECT_EQ(open->args, (std::vector<int64_t>{own_id, 1}));
  auto camera = named(factory, "camera");
  ASSERT_EQ(camera.size(), 1u);
  EXPECT_EQ(camera[0].index, cameras - 1);
  auto capture = named(factory, "capture:camera");
  ASSERT_EQ(capture.size(), 1u);
  EXPECT_EQ(capture[0].kind, 320);   // student width
  EXPECT_EQ(capture[0].index, 240);  // student height
  EXPECT_EQ(capture[0].port, 15);    // teacher fps
  EXPECT_EQ(capture[0].user, 300u);  // student start bitrate
  auto start = named(factory, "start:camera");
  ASSERT_EQ(start.size(), 1u);
  EXPECT_EQ(start[0].ip, "127.0.0.1");
  EXPECT_EQ(start[0].port, 4321);
  EXPECT_EQ(start[0].user, own_id);
  EXPECT_EQ(start[0].kind, 500);   // max
  EXPECT_EQ(start[0].index, 100);  // min

  // The same kind again: nothing.
  mcu.send(9, be32({0, 1}) + be16(4322));
  // Kinds out of range and the document camera start nothing.
  mcu.send(9, be32({0, 0}) + be16(4323));
  mcu.send(9, be32({0, 33}) + be16(4323));
  mcu.send(9, be32({0, 32}) + be16(4323));
  sync();
  sync_sent();
  EXPECT_TRUE(mcu.received(18).empty());
  EXPECT_EQ(observer.count("event2"), 0u);
  EXPECT_EQ(named(factory, "camera").size(), 1u);

  // The screen share takes the share values.
  mcu.send(9, be32({0, 4}) + be16(4400));
  auto screen = mcu.next(18);
  ASSERT_TRUE(screen);
  EXPECT_EQ(screen->payload, be32({own_id, 4, 301}));
  auto screen_capture = named(factory, "capture:screen");
  ASSERT_EQ(screen_capture.size(), 1u);
  EXPECT_EQ(screen_capture[0].kind, 1280);
  EXPECT_EQ(screen_capture[0].user, 800u);
}

TEST_F(ClientTest, AudioSenderReportsWithoutMinimumAndFailedVideoReportsNothing) {
  log_in();
  mcu.send(9, be32({0, 2}) + be16(5000));
  auto open = observer.next_event(pavo_event_media_open);
  ASSERT_TRUE(open);
  EXPECT_EQ(open->args, (std::vector<int64_t>{own_id, 2}));
  ASSERT_EQ(named(factory, "start:audio").size(), 1u);

  factory.video_start_fails = true;
  mcu.send(9, be32({0, 1}) + be16(5001));
  sync();
  sync_sent();
  EXPECT_TRUE(mcu.received(18).empty());
  EXPECT_EQ(observer.count("event2"), 0u);
  EXPECT_EQ(named(factory, "stop:camera").size(), 1u);  // the failed sender is cleaned up
}

TEST_F(ClientTest, OpenAndCloseOwnMedia) {
  log_in();
  user_media_kind_t camera = stream(own_id, 1);
  // Closing what is not open is refused and sends nothing.
  EXPECT_EQ(client->media_ctrl(media_cmd_close_media, &camera), -1);
  ASSERT_EQ(client->media_ctrl(media_cmd_open_media, &camera), 0);
  auto request = mcu.next(4);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->payload, be32({own_id, 1}));
  mcu.send(9, be32({0, 1}) + be16(4321));
  ASSERT_TRUE(observer.next_event(pavo_event_media_open));
  // Open again while open: refused.
  EXPECT_EQ(client->media_ctrl(media_cmd_open_media, &camera), -1);
  // Close: own sender stopped, event 3 at once, 5 to the MCU.
  ASSERT_EQ(client->media_ctrl(media_cmd_close_media, &camera), 0);
  auto closed = observer.next_event(pavo_event_media_close);
  ASSERT_TRUE(closed);
  EXPECT_EQ(closed->args, (std::vector<int64_t>{own_id, 1}));
  auto close = mcu.next(5);
  ASSERT_TRUE(close);
  EXPECT_EQ(close->payload, be32({own_id, 1}));
  EXPECT_EQ(named(factory, "stop:camera").size(), 1u);
  // Another user's media: only the request goes out.
  user_media_kind_t other = stream(55, 2);
  EXPECT_EQ(client->media_ctrl(media_cmd_open_media, &other), 0);
  EXPECT_EQ(client->media_ctrl(media_cmd_close_media, &other), 0);
  ASSERT_TRUE(mcu.next(4));
  ASSERT_TRUE(mcu.next(5));
  EXPECT_EQ(client->media_ctrl(media_cmd_open_media, nullptr), -1);
}

TEST_F(ClientTest, McuStopsTheOwnSender) {
  log_in();
  mcu.send(9, be32({0, 1}) + be16(4321));
  ASSERT_TRUE(observer.next_event(pavo_event_media_open));
  mcu.send(10, be32({own_id, 1}));
  auto closed = observer.next_event(pavo_event_media_close);
  ASSERT_TRUE(closed);
  EXPECT_EQ(closed->args, (std::vector<int64_t>{own_id, 1}));
  mcu.send(10, be32({own_id, 1}));  // not open any more: no event
  sync();
  EXPECT_EQ(observer.count("event3"), 0u);
}

TEST_F(ClientTest, SubscribeIsRefusedForOwnStreamsAudioAndStreamsAlreadyReceived) {
  log_in();
  user_media_kind_t own = stream(own_id, 1), audio = stream(55, 2), video = stream(55, 1);
  EXPECT_EQ(client->media_ctrl(media_cmd_subscribe, &own), -1);
  EXPECT_EQ(client->media_ctrl(media_cmd_subscribe, &audio), -1);
  ASSERT_EQ(client->media_ctrl(media_cmd_subscribe, &video), 0);
  auto request = mcu.next(19);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->payload, be32({55, 1}));
  mcu.send(21, be32({55, 1}) + be16(6000) + bytes(16, 7));
  sync();
  ASSERT_EQ(factory.live_video_receivers(), 1);
  EXPECT_EQ(client->media_ctrl(media_cmd_subscribe, &video), -1);
  sync_sent();
  EXPECT_TRUE(mcu.received(19).empty());
  // Unsubscribing own or audio streams does nothing; a video stream stops and says so.
  EXPECT_EQ(client->media_ctrl(media_cmd_unsubscribe, &own), 0);
  EXPECT_EQ(client->media_ctrl(media_cmd_unsubscribe, &audio), 0);
  ASSERT_EQ(client->media_ctrl(media_cmd_unsubscribe, &video), 0);
  EXPECT_EQ(factory.live_video_receivers(), 0);
  auto stop = mcu.next(20);
  ASSERT_TRUE(stop);
  EXPECT_EQ(stop->payload, be32({55, 1}));
  sync_sent();
  EXPECT_TRUE(mcu.received(20).empty());
}

TEST_F(ClientTest, TheRoomAudioIsSubscribedOnceForTheFirstPublisher) {
  log_in();
  mcu.send(11, be32({55, 2}));
  mcu.send(11, be32({56, 2}));
  auto request = mcu.next(19);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->payload, be32({55, 2}));
  auto first = observer.next_event(pavo_event_media_open);
  auto second = observer.next_event(pavo_event_media_open);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->args, (std::vector<int64_t>{55, 2}));
  EXPECT_EQ(second->args, (std::vector<int64_t>{56, 2}));
  mcu.send(21, be32({55, 2}) + be16(7000) + bytes(16, 7));
  sync();
  EXPECT_EQ(factory.live_audio_receivers(), 1);
  sync_sent();
  EXPECT_TRUE(mcu.received(19).empty());

  mcu.send(12, be32({55, 2}));
  ASSERT_TRUE(observer.next_event(pavo_event_media_close));
  sync();
  EXPECT_EQ(factory.live_audio_receivers(), 1);  // 56 still publishes
  mcu.send(12, be32({56, 2}));
  ASSERT_TRUE(observer.next_event(pavo_event_media_close));
  sync();
  EXPECT_EQ(factory.live_audio_receivers(), 0);
  // A new first publisher subscribes again.
  mcu.send(29, be32({57, 3, 58, 1}));
  auto again = mcu.next(19);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->payload, be32({57, 2}));
  auto existing = observer.next_event(pavo_event_existing_media);
  ASSERT_TRUE(existing);
  EXPECT_EQ(existing->args, (std::vector<int64_t>{57, 3, 58, 1}));
}

TEST_F(ClientTest, UserLeavingClosesItsStreamsThenLeaves) {
  log_in();
  mcu.send(11, be32({55, 1}));
  mcu.send(11, be32({55, 2}));
  mcu.send(21, be32({55, 1}) + be16(6000) + bytes(16, 7));
  mcu.send(21, be32({55, 4}) + be16(6001) + bytes(16, 7));
  sync();
  ASSERT_EQ(factory.live_video_receivers(), 2);
  while (observer.next_any(std::chrono::milliseconds(0))) {
  }
  mcu.send(1, be32({55}));
  const std::vector<std::pair<std::string, std::vector<int64_t>>> expected = {
      {"event3", {55, 1}}, {"event3", {55, 4}}, {"event3", {55, 2}}, {"event5", {55}}};
  for (const auto& e : expected) {
    auto call = observer.next_any();
    ASSERT_TRUE(call);
    EXPECT_EQ(call->name, e.first);
    EXPECT_EQ(call->args, e.second);
  }
  EXPECT_EQ(factory.live_video_receivers(), 0);
  EXPECT_EQ(factory.live_audio_receivers(), 0);
}

TEST_F(ClientTest, ClassStopStopsEveryStreamAndOwnSender) {
  log_in();
  mcu.send(9, be32({0, 1}) + be16(4321));
  mcu.send(11, be32({55, 2}));
  mcu.send(21, be32({55, 2}) + be16(7000) + bytes(16, 7));
  mcu.send(21, be32({55, 1}) + be16(6000) + bytes(16, 7));
  sync();
  ASSERT_EQ(factory.live_video_receivers(), 1);
  ASSERT_EQ(factory.live_audio_receivers(), 1);
  mcu.send(34, be32({9}));
  auto stopped = observer.next("ss_stop_class");
  ASSERT_TRUE(stopped);
  EXPECT_EQ(stopped->args[0], 9);
  EXPECT_EQ(factory.live_video_receivers(), 0);
  EXPECT_EQ(factory.live_audio_receivers(), 0);
  EXPECT_EQ(named(factory, "stop:camera").size(), 1u);
  // The teacher's own stop does the same before asking the MCU.
  mcu.send(21, be32({56, 4}) + be16(6002) + bytes(16, 7));
  sync();
  ASSERT_EQ(factory.live_video_receivers(), 1);
  ASSERT_EQ(client->stop_class(own_id), 0);
  EXPECT_EQ(factory.live_video_receivers(), 0);
  ASSERT_TRUE(mcu.next(34));
}

TEST_F(ClientTest, FeedbackGoesToTheSenderOfItsKind) {
  log_in();
  mcu.send(9, be32({0, 1}) + be16(4321));
  ASSERT_TRUE(observer.next_event(pavo_event_media_open));
  mcu.send(14, be32({1, 2}) + be16(5) + be16(6));
  mcu.send(16, be32({2, 99}));  // audio: ignored
  mcu.send(16, be32({1, 99}));
  mcu.send(17, be32({1, 12}) + bytes{0});
  mcu.send(17, be32({4, 12}));  // no screen sender
  sync();
  auto retransmit = named(factory, "retransmit:camera");
  ASSERT_EQ(retransmit.size(), 1u);
  EXPECT_EQ(retransmit[0].user, 2u);
  auto bandwidth = named(factory, "bandwidth:camera");
  ASSERT_EQ(bandwidth.size(), 1u);
  EXPECT_EQ(bandwidth[0].user, 99u);
  auto quality = named(factory, "quality:camera");
  ASSERT_EQ(quality.size(), 1u);
  EXPECT_EQ(quality[0].user, 12u);
}

TEST_F(ClientTest, ScreenShareCommands) {
  log_in();
  share_source_t source{1234, 0};
  // No screen sender yet: the source is kept and the MCU asked to open one.
  ASSERT_EQ(client->media_ctrl(media_cmd_share_source, &source), 0);
  auto open = mcu.next(4);
  ASSERT_TRUE(open);
  EXPECT_EQ(open->payload, be32({own_id, 4}));
  EXPECT_EQ(client->media_ctrl(media_cmd_pause_grab, nullptr), -1);
  mcu.send(9, be32({0, 4}) + be16(4400));
  ASSERT_TRUE(observer.next_event(pavo_event_media_open));
  auto first_source = named(factory, "source:screen");
  ASSERT_EQ(first_source.size(), 1u);
  EXPECT_EQ(first_source[0].user, 1234u);
  // Running: the sender switches, nothing is sent.
  source.source = 5678;
  ASSERT_EQ(client->media_ctrl(media_cmd_share_source, &source), 0);
  EXPECT_EQ(named(factory, "source:screen").size(), 2u);
  ASSERT_EQ(client->media_ctrl(media_cmd_pause_grab, nullptr), 0);
  ASSERT_EQ(client->media_ctrl(media_cmd_record_source, nullptr), 0);
  auto grabber = named(factory, "grabber:screen");
  ASSERT_EQ(grabber.size(), 2u);
  EXPECT_EQ(grabber[0].kind, 3);
  EXPECT_EQ(grabber[1].kind, 2);
  sync_sent();
  EXPECT_TRUE(mcu.received(4).empty());
  ASSERT_EQ(client->media_ctrl(media_cmd_stop_share, nullptr), 0);
  EXPECT_EQ(named(factory, "stop:screen").size(), 1u);
  auto close = mcu.next(5);
  ASSERT_TRUE(close);
  EXPECT_EQ(close->payload, be32({own_id, 4}));
}

// The layout is chosen before connecting (the client does it as it creates the library) and
// is what the media threads make their pictures in.
TEST_F(ClientTest, TheFrameLayoutIsChosenWithoutAConnection) {
  mcu.set_answer_login(false);
  start_client();
  sendmsg2ui* ui = client.get();
  EXPECT_EQ(ui->frame_format(), pavo_frame_rgb24);
  EXPECT_EQ(client->media_ctrl(media_cmd_frame_format, reinterpret_cast<void*>(4)), 0);
  EXPECT_EQ(ui->frame_format(), pavo_frame_rgb32);
  for (intptr_t refused : {0, 1, 2, 5, 24, 32, -4})
    EXPECT_EQ(client->media_ctrl(media_cmd_frame_format, reinterpret_cast<void*>(refused)), -1)
        << refused;
  EXPECT_EQ(ui->frame_format(), pavo_frame_rgb32);
  EXPECT_EQ(client->media_ctrl(media_cmd_frame_format, reinterpret_cast<void*>(3)), 0);
  EXPECT_EQ(ui->frame_format(), pavo_frame_rgb24);
}

TEST_F(ClientTest, FramesAreDeliveredOnlyWhileVideoIsOn) {
  log_in();
  sendmsg2ui* ui = client.get();
  ui->deliver_frame(2, 2, pavo::frame_alloc(12), 55, 1);
  auto frame = observer.next_event(pavo_event_video_frame);
  ASSERT_TRUE(frame);
  ASSERT_EQ(client->media_ctrl(media_cmd_video_off, nullptr), 0);
  ui->deliver_frame(2, 2, pavo::frame_alloc(12), 55, 1);  // freed by the library
  ASSERT_EQ(client->media_ctrl(media_cmd_video_on, nullptr), 0);
  ui->deliver_frame(2, 2, pavo::frame_alloc(12), 55, 1);
  ASSERT_TRUE(observer.next_event(pavo_event_video_frame));
  EXPECT_EQ(observer.count("event12"), 0u);
}

}  // namespace
}  // namespace pavo_test
