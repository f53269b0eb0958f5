// One lesson-plan conversion (libfalco), its reports brought to the GUI
// thread. The client reports on its own thread; the reports are relayed to
// this object's thread, and none arrives once the conversion was stopped.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "ThreadRelay.h"
#include "libfalco/libfalco.h"

class Convert2UI : public QObject, public fc_observer {
  Q_OBJECT

public:
  // How conversion clients are made and ended (tests put their own in; empty
  // restores libfalco's).
  using ClientMaker = std::function<void*(const char* host, unsigned short port, const char* src,
                                          const char* outFolder, unsigned userId, unsigned roomId,
                                          fc_observer* observer)>;
  using ClientEnder = std::function<void(void*)>;
  static void setClientMaker(ClientMaker maker, ClientEnder ender);

  struct Job {
    QString host;
    quint16 port = 0;
    QString source;     // the document
    QString outFolder;  // where the pages go
    quint32 userId = 0;
    quint32 roomId = 0;
    QString credential;  // the room credential the server asks for
  };

  explicit Convert2UI(QObject* parent = nullptr);
  ~Convert2UI() override;

  // Starts converting, ending a conversion that ran before; false when no
  // client could be made.
  bool start(const Job& job);
  void stop();
  bool isRunning() const { return client_ != nullptr; }

  // fc_observer, on the client's thread.
  void on_progress(int curr, int total, const char* pageFile) override;
  void on_error(int err) override;
  void on_complete() override;
  void on_upload_progress(unsigned curr, unsigned total) override;

signals:
  void pageConverted(int curr, int total, QString pageFile);
  void failed(int err);
  void completed();
  void documentSent(unsigned curr, unsigned total);

private:
  void* client_ = nullptr;
  std::unique_ptr<ThreadRelay> relay_;  // one per conversion
};
