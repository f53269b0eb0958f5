// What the shared area shows, as every member holds it alike once it is
// synchronised: the mode (template, picture, document page), the file, its
// uploader, the rotation, the page, the display mode and the visible part.
// The state changes only through the room's share messages (72-77, 63), which
// this model checks and applies, and builds for the sharer. What the sharer
// asked to share waits here until the sharing right is granted. No widgets:
// the view reads the state and is told what changed.
#pragma once

#include <QJsonObject>
#include <QObject>
#include <QRect>
#include <QSize>
#include <QString>
#include <optional>

class ShareState : public QObject {
  Q_OBJECT

public:
  struct State {
    int mode = 0;          // "fileType": 1 template, 2 picture, 3 document page
    QString fileName;      // template, picture file or document name
    quint32 uploader = 0;  // "fileUploaderUserId"
    int rotation = 0;      // "curRotateAngle"
    int page = 1;          // "curPage"
    int pages = 0;         // "totalPageCount"
    int displayMode = 0;   // "picDispMode": 0 fit, 1 actual size
    QRect rect;            // the visible part in actual-size mode, picture pixels
    int docId = -1;        // "id" of a shared document
  };

  // What this member asked to share, waiting for the sharing right.
  struct Pending {
    int mode = 0;
    QString path;  // template or prepared picture
    int docId = -1;
    QString document;
    int pages = 0;
    quint32 uploader = 0;
  };

  // What a change means for the view: nothing, another file to show (or the
  // same file again, for a new page), or the same picture placed anew.
  enum Change { kNothing, kNewFile, kNewPlacement };

  static constexpr int kMaxPages = 10000;

  explicit ShareState(quint32 ownUserId, QObject* parent = nullptr);

  const State& state() const { return state_; }
  bool showsPicture() const;  // a picture or a document page

  // A share message from the room (or the sharer's own, applied as sent).
  // inSession: whether a class runs (share states count only then).
  Change apply(const QJsonObject& msg, bool inSession);
  // Back to the blank board, or to nothing when the class is over.
  void showBlankBoard(const QString& blankBoardFile);
  void clear();

  // The sharer's share, once the right is granted: the state it starts from.
  void startOwnTemplate(const QString& fileName);
  void startOwnPicture(const QString& fileName);
  void startOwnDocument(const Pending& document);

  void setPending(const Pending& pending) { pending_ = pending; }
  std::optional<Pending> takePending();
  bool hasPending() const { return pending_.has_value(); }
  void dropPending() { pending_.reset(); }

  // Messages the sharer sends (and applies itself).
  QJsonObject stateMessage() const;
  QJsonObject pictureUploadedMessage(const QString& fileName) const;
  QJsonObject rotateMessage(bool forward) const;
  // The page turn to page; nullopt when page is outside the document or the
  // page shown.
  std::optional<QJsonObject> pageTurnMessage(int page) const;
  std::optional<QJsonObject> nextPageMessage() const;
  std::optional<QJsonObject> previousPageMessage() const;
  // Between fit and actual size; the visible part starts where rotated (the
  // picture as turned) fits area.
  QJsonObject fitMessage(const QSize& rotated, const QSize& area) const;
  // The visible part dragged by (dx, dy); nullopt when it would leave the picture.
  std::optional<QJsonObject> dragMessage(int dx, int dy, const QSize& rotated) const;
  // The visible part after the area was resized; nullopt when it stays.
  std::optional<QJsonObject> resizeMessage(const QSize& rotated, const QSize& area) const;
  // A newcomer's question to the sharer.
  QJsonObject queryMessage() const;
  // The asker of a question this member (the sharer) should answer; 0 for none.
  quint32 askerToAnswer(const QJsonObject& query, bool isSharer) const;

  // A file name that stays inside its folder.
  static bool isPlainFileName(const QString& name);

signals:
  // A document began (its id) or stopped (-1) being shown.
  void sharedDocumentChanged(int docId);

private:
  Change applyShareState(const QJsonObject& msg);
  void replace(const State& state);

  const quint32 ownUserId_;
  State state_;
  std::optional<Pending> pending_;
};
