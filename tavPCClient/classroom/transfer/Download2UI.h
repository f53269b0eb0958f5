// One download of a file another member put in the room (a chat file, a
// shared picture or page), its progress brought to the GUI thread as a
// percentage with the local path (100 done, -1 failed). A refused or
// unwritable download ends at once; a network failure is tried again with a
// new transfer, a few times with a pause between. The adapter
// deletes itself once it has reported the end.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "FileServer.h"
#include "ThreadRelay.h"
#include "libferrum/libferrum.h"

class Download2UI : public QObject, public trans_observer {
  Q_OBJECT

public:
  static constexpr int kMaxRetries = 5;
  static constexpr int kRetryPauseMs = 1000;

  Download2UI(const transfer::FileServer& server, quint32 senderId, const QString& localPath,
              QObject* parent = nullptr);
  ~Download2UI() override;

  // Starts the download; false when it cannot be made (then report -1 and
  // delete yourself is left to the caller).
  bool start();
  QString localPath() const { return path_; }

  void progress(unsigned curr, unsigned total) override;
  void trans_error(int code) override;
  void complete() override;

signals:
  void signalDownloadProgress(int percent, QString path);

private slots:
  void __progress(quint32 curr, quint32 total);
  void __trans_error(int code);
  void __complete();

private:
  void releaseTransfer();
  void finish(int percent);

  const transfer::FileServer server_;
  const quint32 senderId_;
  const QString path_;
  veldownload* transfer_ = nullptr;
  std::unique_ptr<ThreadRelay> relay_;  // one per transfer: a retry hears only its own
  int retries_ = 0;
  int lastPercent_ = -2;
  bool ended_ = false;
};
