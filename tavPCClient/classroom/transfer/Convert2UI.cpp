#include "Convert2UI.h"

namespace {
Convert2UI::ClientMaker& clientMaker() {
  static Convert2UI::ClientMaker maker;
  return maker;
}
Convert2UI::ClientEnder& clientEnder() {
  static Convert2UI::ClientEnder ender;
  return ender;
}
}  // namespace

void Convert2UI::setClientMaker(ClientMaker maker, ClientEnder ender) {
  clientMaker() = std::move(maker);
  clientEnder() = std::move(ender);
}

Convert2UI::Convert2UI(QObject* parent) : QObject(parent) {}

Convert2UI::~Convert2UI() {
  stop();
}

bool Convert2UI::start(const Job& job) {
  stop();
  relay_ = std::make_unique<ThreadRelay>(this);
  const QByteArray host = job.host.toLocal8Bit();
  const QByteArray src = job.source.toLocal8Bit();
  const QByteArray out = job.outFolder.toLocal8Bit();
  if (clientMaker()) {
    client_ = clientMaker()(host.constData(), job.port, src.constData(), out.constData(),
                            job.userId, job.roomId, this);
  } else {
    qn::set_falco_credential(job.credential.toUtf8().constData());
    client_ = qn::create_falco_client(host.constData(), job.port, src.constData(), out.constData(),
                                      job.userId, job.roomId, this);
  }
  if (!client_)
    relay_.reset();
  return client_ != nullptr;
}

void Convert2UI::stop() {
  if (void* client = client_) {
    client_ = nullptr;
    // No report is running or follows once the client is ended.
    if (clientEnder())
      clientEnder()(client);
    else
      qn::destory_falco_client(client);
  }
  relay_.reset();
}

void Convert2UI::on_progress(int curr, int total, const char* pageFile) {
  const QString page = QString::fromLocal8Bit(pageFile ? pageFile : "");
  relay_->post([this, curr, total, page] { emit pageConverted(curr, total, page); });
}

void Convert2UI::on_error(int err) {
  relay_->post([this, err] { emit failed(err); });
}

void Convert2UI::on_complete() {
  relay_->post([this] { emit completed(); });
}

void Convert2UI::on_upload_progress(unsigned curr, unsigned total) {
  relay_->post([this, curr, total] { emit documentSent(curr, total); });
}
