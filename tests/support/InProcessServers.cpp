#include "InProcessServers.h"

#include <string>

#include "TestCredentials.h"
#include "mcu/server.h"
#include "msgserver/Server.h"
#include "service/Service.h"

namespace testsupport {

InProcessServers::InProcessServers(Media media, Chat chat, Moderation moderation, MsgNodes nodes) {
  const bool enforced = moderation == kModerationEnforced;
  // One secret for all three, as the launcher gives them: the credentials the service signs
  // are believed by the message server and the MCU (and tests can sign their own with it).
  msgserver::Config msg;
  msg.listen_port = 0;
  msg.internal_token = kTestSecret;
  msg_ = std::make_unique<msgserver::Server>(msg);
  msgPort_ = msg_->start();
  if (nodes == kTwoMsgNodes) {
    msg2_ = std::make_unique<msgserver::Server>(msg);
    msgPort2_ = msg2_->start();
  }
  if (chat == kChatStored || enforced) {
    // The message server that stores chat or follows removals needs the service's
    // address, and the service hands out the message server's: the port found free
    // above is given back and taken again once the service runs. The same for the MCU.
    msg_.reset();
    msg2_.reset();
  }

  if (media != kNoMcu) {
    mcu::Config mcuConfig;
    mcuConfig.listen_port = 0;
    mcuConfig.media_port_base = 0;
    mcuConfig.internal_token = kTestSecret;
    mcu_ = std::make_unique<mcu::Server>(mcuConfig);
    mcuPort_ = mcu_->start();
    if (enforced)
      mcu_->stop();
    if (media == kWithTwoMcus) {  // (removals left to the clients there)
      mcu2_ = std::make_unique<mcu::Server>(mcuConfig);
      mcu2Port_ = mcu2_->start();
    }
  }

  tavsvc::ServiceConfig config;
  config.port = 0;
  config.dataDir = (dir_.path() + "/service").toStdString();
  config.msgServer = {"127.0.0.1", msgPort_};
  if (nodes == kTwoMsgNodes)
    config.msgServers = {{"127.0.0.1", msgPort_}, {"127.0.0.1", msgPort2_}};
  if (mcu_)
    config.mcus = {{"127.0.0.1", mcuPort_}};
  if (mcu2_) {
    config.mcus.push_back({"127.0.0.1", mcu2Port_});
    config.healthIntervalMs = 100;
  }
  config.demoVideos = false;
  config.passwordStrength = tavsvc::PasswordStrength::Minimum;
  config.internalToken = kTestSecret;
  config.requestObserver = [this](const std::string&, const std::string& path) {
    QMutexLocker lock(&requestsMutex_);
    ++requests_[QString::fromStdString(path)];
  };
  service_ = std::make_unique<tavsvc::Service>(config);
  std::string error;
  started_ = msgPort_ != 0 && (nodes == kOneMsgNode || msgPort2_ != 0) &&
             (!mcu_ || mcuPort_ != 0) && (!mcu2_ || mcu2Port_ != 0) && service_->start(&error);
  const std::string serviceUrl =
      started_ ? "http://127.0.0.1:" + std::to_string(service_->port()) : std::string();
  if (started_ && (chat == kChatStored || enforced)) {
    msg.listen_port = msgPort_;
    if (chat == kChatStored)
      msg.service_url = serviceUrl;
    if (enforced)
      msg.moderation_url = serviceUrl;
    msg_ = std::make_unique<msgserver::Server>(msg);
    started_ = msg_->start() == msgPort_;
    if (started_ && nodes == kTwoMsgNodes) {
      msg.listen_port = msgPort2_;
      msg2_ = std::make_unique<msgserver::Server>(msg);
      started_ = msg2_->start() == msgPort2_;
    }
  }
  if (started_ && mcu_ && enforced) {
    mcu::Config mcuConfig;
    mcuConfig.listen_port = mcuPort_;
    mcuConfig.media_port_base = 0;
    mcuConfig.internal_token = kTestSecret;
    mcuConfig.service_url = serviceUrl;
    mcu_ = std::make_unique<mcu::Server>(mcuConfig);
    started_ = mcu_->start() == mcuPort_;
  }
}

InProcessServers::~InProcessServers() {
  // The followers of the service first, so that they do not ask a service already gone.
  msg_.reset();
  msg2_.reset();
  mcu_.reset();
  mcu2_.reset();
}

void InProcessServers::stopMsgNode(int node) {
  if (node == 0 && msg_)
    msg_->stop();
  else if (node == 1 && msg2_)
    msg2_->stop();
}

int InProcessServers::requestCount(const QString& path) const {
  QMutexLocker lock(&requestsMutex_);
  return requests_.value(path);
}

QString InProcessServers::uploadsDir() const {
  return dir_.path() + "/service/uploads";
}

QString InProcessServers::host() const {
  return QStringLiteral("127.0.0.1:%1").arg(service_->port());
}

quint64 InProcessServers::relayed() const {
  return msg_->stats().messages;
}

void InProcessServers::stopMcu(int which) {
  (which == 0 ? mcu_ : mcu2_)->stop();
}

void InProcessServers::stopService() {
  service_->stop();
}

}  // namespace testsupport
