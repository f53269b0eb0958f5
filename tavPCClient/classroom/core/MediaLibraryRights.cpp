#include "MediaLibraryRights.h"

#include <QByteArray>
#include <cstdint>

#include "libpavo/libpavo.h"

int MediaLibraryRights::control(unsigned cmd, void* arg) {
  return library_ ? library_->media_ctrl(cmd, arg) : -1;
}

int MediaLibraryRights::userControl(unsigned cmd, quint32 userId, int kind) {
  user_media_kind_t arg{userId, kind};
  return control(cmd, &arg);
}

int MediaLibraryRights::startClass() {
  return library_ ? library_->start_class() : -1;
}
int MediaLibraryRights::stopClass(quint32 stopperId) {
  return library_ ? library_->stop_class(stopperId) : -1;
}
int MediaLibraryRights::askClassState() {
  return library_ ? library_->get_class_state() : -1;
}
int MediaLibraryRights::askClassingUser() {
  return library_ ? library_->get_classing_user() : -1;
}

int MediaLibraryRights::startShare() {
  return library_ ? library_->start_share() : -1;
}
int MediaLibraryRights::stopShare(quint32 sharerId) {
  return library_ ? library_->stop_share(sharerId) : -1;
}

int MediaLibraryRights::applyForTool() {
  return library_ ? library_->application_share() : -1;
}
int MediaLibraryRights::cancelApplication() {
  return library_ ? library_->cancel_application() : -1;
}
int MediaLibraryRights::replyToApplication(quint32 userId, int reply) {
  return library_ ? library_->reply_share(userId, reply) : -1;
}
int MediaLibraryRights::takeBackTool(quint32 userId) {
  return library_ ? library_->cancel_share(userId) : -1;
}
int MediaLibraryRights::askShareUsers() {
  return library_ ? library_->get_share_users() : -1;
}

int MediaLibraryRights::shareSource(qint64 window, bool live) {
  share_source_t source{static_cast<int32_t>(window), live ? 1 : 0};
  return control(media_cmd_share_source, &source);
}
int MediaLibraryRights::stopScreenShare() {
  return control(media_cmd_stop_share);
}

int MediaLibraryRights::startTag() {
  return library_ ? library_->start_tag() : -1;
}
int MediaLibraryRights::stopTag(quint32 holderId) {
  return library_ ? library_->stop_tag(holderId) : -1;
}
int MediaLibraryRights::askTagUsers() {
  return library_ ? library_->get_tag_users() : -1;
}

int MediaLibraryRights::pauseFrames() {
  return control(media_cmd_video_off);
}
int MediaLibraryRights::resumeFrames() {
  return control(media_cmd_video_on);
}

int MediaLibraryRights::openMedia(quint32 userId, int kind) {
  return userControl(media_cmd_open_media, userId, kind);
}
int MediaLibraryRights::closeMedia(quint32 userId, int kind) {
  return userControl(media_cmd_close_media, userId, kind);
}
int MediaLibraryRights::subscribe(quint32 userId, int kind) {
  return userControl(media_cmd_subscribe, userId, kind);
}
int MediaLibraryRights::unsubscribe(quint32 userId, int kind) {
  return userControl(media_cmd_unsubscribe, userId, kind);
}

int MediaLibraryRights::deviceCount(int kind) {
  return control(media_cmd_device_count, reinterpret_cast<void*>(static_cast<intptr_t>(kind)));
}

int MediaLibraryRights::clipSeconds(const QString& path) {
  QByteArray local = path.toLocal8Bit();
  return control(media_cmd_clip_seconds, local.data());
}
