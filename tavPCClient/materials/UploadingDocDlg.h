// Uploading a lesson plan: the conversion (a Convert2UI) turns the document
// into one picture per page (reported page by page), each page is scaled like
// a shared picture when it is large and put in the room's files; when every
// page is there the document is finished. A failed conversion starts again by
// itself a few times. Closing early asks first and stops everything.
#pragma once

#include <QDialog>
#include <QSet>
#include <QString>
#include <functional>

#include "FileServer.h"

class ClassroomContext;
class Convert2UI;
class QLabel;
class QProgressBar;

class UploadingDocDlg : public QDialog {
  Q_OBJECT

public:
  // How often a failed conversion is started again.
  static constexpr int kRetries = 3;
  static constexpr int kRetryDelayMs = 2000;
  static constexpr int kCloseDelayMs = 2000;

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
  bool failed() const { return failed_; }
  // What the member is told when a conversion ends with err for good; empty
  // for a network failure, which is tried again.
  static QString failureText(int err);

  // Starts the conversion; again with a new client for the same document.
  void start();
  void restart(const QString& srcPath);

signals:
  void signal_uploadDocFinished(QString strDocFileBaseName, int iTotalPageCount);
  void _close();
  void _retry(QString path);

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
  void fail(const QString& why);
  transfer::FileServer fileServer() const;

  ClassroomContext& context_;
  QString srcPath_;
  QString baseName_;
  QString outFolder_;
  Convert2UI* conversion_;
  int totalPages_ = 0;
  int retries_ = kRetries;
  QSet<QString> uploaded_;
  QSet<QString> uploading_;
  bool finished_ = false;
  bool failed_ = false;  // ended for good
  bool closing_ = false;
  QLabel* status_;
  QProgressBar* progress_;
};
