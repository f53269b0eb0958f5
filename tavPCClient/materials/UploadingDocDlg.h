// Uploading a lesson plan: the conversion client turns the document into one
// picture per page (reported page by page), each page is scaled like a shared
// picture when it is large and put in the room's files; when every page is
// there the document is finished. A failed conversion starts again by itself
// a few times. Closing early asks first and stops everything.
#pragma once

#include <QDialog>
#include <QSet>
#include <QString>
#include <functional>

#include "FileServer.h"
#include "libfalco/libfalco.h"

class ClassroomContext;
class QLabel;
class QProgressBar;

class UploadingDocDlg : public QDialog, public fc_observer {
  Q_OBJECT

public:
  // How often a failed conversion is started again.
  static constexpr int kRetries = 3;
  static constexpr int kRetryDelayMs = 2000;
  static constexpr int kCloseDelayMs = 2000;

  // The conversion client as made (tests put their own in).
  using ClientMaker = std::function<void*(const char* host, unsigned short port, const char* src,
                                          const char* outFolder, unsigned userId, unsigned roomId,
                                          fc_observer* observer)>;
  using ClientEnder = std::function<void(void*)>;
  static void setClientMaker(ClientMaker maker, ClientEnder ender);

  UploadingDocDlg(ClassroomContext& context, const QString& dataFolder, const QString& srcPath,
                  QWidget* parent = nullptr);
  ~UploadingDocDlg() override;

  QString baseName() const { return baseName_; }
  QString outFolder() const { return outFolder_; }
  int totalPages() const { return totalPages_; }
  int uploadedPages() const { return uploaded_.size(); }
  int retriesLeft() const { return retries_; }
  QString statusText() const;
  bool finished() const { return finished_; }
  // For tests: what the question answers.
  void setConfirm(std::function<bool(const QString&)> confirm) { confirm_ = std::move(confirm); }

  // Starts the conversion; again with a new client for the same document.
  void start();
  void restart(const QString& srcPath);

  // fc_observer, on the client's thread: each only emits its signal.
  void on_progress(int curr, int total, const char* pageFile) override;
  void on_error(int err) override;
  void on_complete() override;
  void on_upload_progress(unsigned curr, unsigned total) override;

signals:
  void signal_uploadDocFinished(QString strDocFileBaseName, int iTotalPageCount);
  void _close();
  void _retry(QString path);

  void _fc_progress(int curr, int total, QString pageFile);
  void _fc_error(int err);
  void _fc_complete();
  void _fc_upload_progress(unsigned curr, unsigned total);

public slots:
  void __fc_progress(int curr, int total, QString pageFile);
  void __fc_error(int err);
  void __fc_complete();
  void __fc_upload_progress(unsigned curr, unsigned total);
  void slot_onePageUploadComplete(QString path, bool ok);

protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

private:
  void endClient();
  void setStatus(const QString& text);
  transfer::FileServer fileServer() const;

  ClassroomContext& context_;
  QString srcPath_;
  QString baseName_;
  QString outFolder_;
  void* client_ = nullptr;
  int totalPages_ = 0;
  int retries_ = kRetries;
  QSet<QString> uploaded_;
  QSet<QString> uploading_;
  bool finished_ = false;
  bool closing_ = false;
  QLabel* status_;
  QProgressBar* progress_;
  std::function<bool(const QString&)> confirm_;
};
