// A media library that records what the classroom asks of it and answers with
// chosen results, for tests of the classroom's parts without a media server.
#pragma once

#include <QList>
#include <QStringList>
#include <QVector>

#include "libpavo/libpavo.h"

struct MediaCall {
  unsigned cmd = 0;
  quint32 userId = 0;  // for the {user, kind} commands
  int kind = 0;
  bool operator==(const MediaCall& o) const {
    return cmd == o.cmd && userId == o.userId && kind == o.kind;
  }
};

class FakeLibpavo : public Libpavo {
public:
  // Result of every media_ctrl call (0 done, -1 refused).
  int result = 0;
  QVector<MediaCall> calls;
  QList<uint8_t*> freed;
  int startClassCalls = 0;
  QList<uint32_t> stopClassCalls;
  // Tag calls in order: 0 for start_tag, the user id for stop_tag.
  QList<int64_t> tagCalls;
  int getTagUsersCalls = 0;
  // Share calls in order: 0 for start_share, the user id for stop_share.
  QList<int64_t> shareCalls;
  // Teaching-tool calls in order: "apply", "cancel", "reply USER REPLY", "take USER".
  QStringList toolCalls;
  // The sources given to the screen sender (command 14), in order.
  QList<int32_t> shareSources;

  // The calls with a {user, kind} argument of one command.
  QVector<MediaCall> callsOf(unsigned cmd) const {
    QVector<MediaCall> found;
    for (const MediaCall& c : calls)
      if (c.cmd == cmd)
        found.append(c);
    return found;
  }

  int media_ctrl(unsigned cmd, void* arg) override {
    MediaCall call{cmd, 0, 0};
    switch (cmd) {
      case media_cmd_open_media:
      case media_cmd_close_media:
      case media_cmd_subscribe:
      case media_cmd_unsubscribe: {
        const auto* stream = static_cast<const user_media_kind_t*>(arg);
        call.userId = stream->user_id;
        call.kind = stream->kind;
        break;
      }
      case media_cmd_free_frame:
        freed.append(static_cast<uint8_t*>(arg));
        break;
      case media_cmd_share_source:
        shareSources.append(static_cast<const share_source_t*>(arg)->source);
        break;
      default:
        break;
    }
    calls.append(call);
    return result;
  }
  int start_class() override {
    ++startClassCalls;
    return 0;
  }
  int stop_class(uint32_t user_id) override {
    stopClassCalls.append(user_id);
    return 0;
  }
  int get_class_state() override { return 0; }
  int application_share() override {
    toolCalls << QStringLiteral("apply");
    return 0;
  }
  int cancel_application() override {
    toolCalls << QStringLiteral("cancel");
    return 0;
  }
  int reply_share(uint32_t user_id, int reply) override {
    toolCalls << QStringLiteral("reply %1 %2").arg(user_id).arg(reply);
    return 0;
  }
  int start_share() override {
    shareCalls.append(0);
    return 0;
  }
  int stop_share(uint32_t user_id) override {
    shareCalls.append(user_id);
    return 0;
  }
  int get_share_users() override { return 0; }
  int start_tag() override {
    tagCalls.append(0);
    return 0;
  }
  int stop_tag(uint32_t user_id) override {
    tagCalls.append(user_id);
    return 0;
  }
  int get_tag_users() override {
    ++getTagUsersCalls;
    return 0;
  }
  int cancel_share(uint32_t user_id) override {
    toolCalls << QStringLiteral("take %1").arg(user_id);
    return 0;
  }
  int send_p2p_msg(uint32_t, const uint8_t*, unsigned) override { return 0; }
  int send_p2all_msg(const uint8_t*, unsigned) override { return 0; }
  int get_classing_user() override { return 0; }
};
