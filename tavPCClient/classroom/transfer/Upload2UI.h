// One upload of a classroom file (a chat file, a shared picture or page), its
// progress brought to the GUI thread. The library reports on its own thread;
// each report is relayed to the adapter's own slots in the thread the adapter
// lives in, and what an ended transfer still had on its way is dropped.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "FileServer.h"
#include "ThreadRelay.h"
#include "libferrum/libferrum.h"

class Upload2UI : public QObject, public trans_observer {
  Q_OBJECT

public:
  Upload2UI(const transfer::FileServer& server, const QString& localPath,
            QObject* parent = nullptr);
  ~Upload2UI() override;

  // Starts the upload; false (and nothing reported) when it cannot be made.
  bool start();
  QString localPath() const { return path_; }

  // trans_observer, on the library's thread.
  void progress(unsigned curr, unsigned total) override;
  void trans_error(int code) override;
  void complete() override;

signals:
  // 0-99 while bytes move, 100 once the server has the whole file, -1 failed.
  void signalUploadProgress(int percent);
  void signalUploadComplete(QString path, bool ok);

private slots:
  void __progress(quint32 curr, quint32 total);
  void __trans_error(int code);
  void __complete();

private:
  void releaseTransfer();

  const transfer::FileServer server_;
  const QString path_;
  velupload* transfer_ = nullptr;
  std::unique_ptr<ThreadRelay> relay_;  // one per transfer
  int lastPercent_ = -2;
};
