#include "ShareState.h"

#include <QJsonValue>

#include "RoomMessage.h"
#include "RoomMessageTypes.h"
#include "ShareRules.h"

namespace {

int intOf(const QJsonObject& msg, const char* key, int fallback = 0) {
  const QJsonValue v = msg.value(QLatin1String(key));
  if (v.isString()) {
    bool ok = false;
    const int n = v.toString().toInt(&ok);
    return ok ? n : fallback;
  }
  return v.isDouble() ? v.toInt(fallback) : fallback;
}

int validAngle(int angle) {
  return angle == 90 || angle == 180 || angle == 270 ? angle : 0;
}

int displayModeOf(const QJsonObject& msg) {
  return intOf(msg, "picDispMode") == share::kActual ? share::kActual : share::kFit;
}

}  // namespace

ShareState::ShareState(quint32 ownUserId, QObject* parent)
    : QObject(parent), ownUserId_(ownUserId) {}

bool ShareState::isPlainFileName(const QString& name) {
  return !name.isEmpty() && name.size() <= 200 && !name.contains(QLatin1Char('/')) &&
         !name.contains(QLatin1Char('\\')) && name != QLatin1String(".") &&
         name != QLatin1String("..");
}

bool ShareState::showsPicture() const {
  return state_.mode == share::kPicture || state_.mode == share::kDocument;
}

void ShareState::replace(const State& state) {
  state_ = state;
  // Told at every new share state: the document list keeps the shown one.
  emit sharedDocumentChanged(state_.mode == share::kDocument ? state_.docId : -1);
}

void ShareState::showBlankBoard(const QString& blankBoardFile) {
  State blank;
  blank.mode = share::kTemplate;
  blank.fileName = blankBoardFile;
  replace(blank);
}

void ShareState::clear() {
  state_ = State();
  pending_.reset();
}

std::optional<ShareState::Pending> ShareState::takePending() {
  std::optional<Pending> taken = pending_;
  pending_.reset();
  return taken;
}

// ---- the sharer's own share ----

void ShareState::startOwnTemplate(const QString& fileName) {
  State own;
  own.mode = share::kTemplate;
  own.uploader = ownUserId_;
  own.fileName = fileName;
  replace(own);
}

void ShareState::startOwnPicture(const QString& fileName) {
  State own;
  own.mode = share::kPicture;
  own.uploader = ownUserId_;
  own.fileName = fileName;
  replace(own);
}

void ShareState::startOwnDocument(const Pending& document) {
  State own;
  own.mode = share::kDocument;
  own.docId = document.docId;
  own.fileName = document.document;
  own.uploader = document.uploader;
  own.page = 1;
  own.pages = document.pages;
  replace(own);
}

// ---- applying ----

ShareState::Change ShareState::apply(const QJsonObject& msg, bool inSession) {
  const int type = roommsg::typeIdOf(msg).value_or(-1);
  if (type == MSG_SHARE_STATE)
    return inSession ? applyShareState(msg) : kNothing;
  if (!showsPicture())
    return kNothing;
  switch (type) {
    case MSG_PIC_ROTATE: {
      const int angle = intOf(msg, "curRotateAngle");
      if (angle != 0 && angle != 90 && angle != 180 && angle != 270)
        return kNothing;
      state_.rotation = angle;
      state_.displayMode = share::kFit;
      return kNewPlacement;
    }
    case MSG_PAGE_TURN: {
      const int page = intOf(msg, "curPage", -1);
      if (state_.mode != share::kDocument || page < 1 || page > state_.pages)
        return kNothing;
      state_.page = page;
      state_.rotation = 0;
      if (state_.displayMode == share::kActual) {
        const QRect r = share::rectOf(msg);
        state_.rect = QRect(r.x(), 0, r.width(), r.height());
      }
      return kNewFile;
    }
    case MSG_PIC_DRAG:
      state_.rect = share::rectOf(msg);
      return state_.displayMode == share::kActual ? kNewPlacement : kNothing;
    case MSG_PIC_FIT:
      state_.displayMode = displayModeOf(msg);
      if (state_.displayMode == share::kActual)
        state_.rect = share::rectOf(msg);
      return kNewPlacement;
    case MSG_PIC_RESIZE:
      if (state_.displayMode != share::kActual)
        return kNothing;
      state_.rect = share::rectOf(msg);
      return kNewPlacement;
    default:
      return kNothing;
  }
}

ShareState::Change ShareState::applyShareState(const QJsonObject& msg) {
  const int mode = intOf(msg, "fileType");
  const QString fileName = msg.value(QStringLiteral("fileName")).toString();
  if (!isPlainFileName(fileName))
    return kNothing;
  State next;
  next.mode = mode;
  next.fileName = fileName;
  next.uploader = quint32(intOf(msg, "fileUploaderUserId"));
  switch (mode) {
    case share::kTemplate:
      if (!share::templatePaths().contains(QStringLiteral("./wbtemplete/") + fileName))
        return kNothing;
      break;
    case share::kPicture:
      next.rotation = validAngle(intOf(msg, "curRotateAngle"));
      next.displayMode = displayModeOf(msg);
      if (next.displayMode == share::kActual)
        next.rect = share::rectOf(msg);
      break;
    case share::kDocument: {
      const int pages = intOf(msg, "totalPageCount");
      const int page = intOf(msg, "curPage", 1);
      if (pages < 1 || pages > kMaxPages || page < 1 || page > pages)
        return kNothing;
      next.docId = intOf(msg, "id", -1);
      next.rotation = validAngle(intOf(msg, "curRotateAngle"));
      next.page = page;
      next.pages = pages;
      next.displayMode = displayModeOf(msg);
      if (next.displayMode == share::kActual)
        next.rect = share::rectOf(msg);
      break;
    }
    default:
      return kNothing;
  }
  replace(next);
  return kNewFile;
}

// ---- building ----

QJsonObject ShareState::stateMessage() const {
  QJsonObject msg = roommsg::newMessage(MSG_SHARE_STATE);
  msg.insert(QStringLiteral("fileType"), QString::number(state_.mode));
  msg.insert(QStringLiteral("fileName"), state_.fileName);
  msg.insert(QStringLiteral("fileUploaderUserId"), double(state_.uploader));
  msg.insert(QStringLiteral("curRotateAngle"), state_.rotation);
  msg.insert(QStringLiteral("picDispMode"), state_.displayMode);
  if (state_.mode == share::kDocument) {
    msg.insert(QStringLiteral("id"), state_.docId);
    msg.insert(QStringLiteral("curPage"), state_.page);
    msg.insert(QStringLiteral("totalPageCount"), state_.pages);
  }
  if (state_.displayMode == share::kActual)
    msg.insert(QStringLiteral("rect"), share::rectJson(state_.rect));
  return msg;
}

QJsonObject ShareState::pictureUploadedMessage(const QString& fileName) const {
  QJsonObject msg = roommsg::newMessage(MSG_SHARE_STATE);
  msg.insert(QStringLiteral("fileType"), QStringLiteral("2"));
  msg.insert(QStringLiteral("fileName"), fileName);
  msg.insert(QStringLiteral("curRotateAngle"), state_.rotation);
  msg.insert(QStringLiteral("fileUploaderUserId"), double(ownUserId_));
  msg.insert(QStringLiteral("picDispMode"), 0);
  return msg;
}

QJsonObject ShareState::rotateMessage(bool forward) const {
  QJsonObject msg = roommsg::newMessage(MSG_PIC_ROTATE);
  msg.insert(QStringLiteral("curRotateAngle"), forward ? share::rotatedForward(state_.rotation)
                                                       : share::rotatedBack(state_.rotation));
  return msg;
}

std::optional<QJsonObject> ShareState::pageTurnMessage(int page) const {
  if (state_.mode != share::kDocument || page < 1 || page > state_.pages || page == state_.page)
    return std::nullopt;
  QJsonObject msg = roommsg::newMessage(MSG_PAGE_TURN);
  msg.insert(QStringLiteral("curPage"), page);
  msg.insert(QStringLiteral("rect"),
             share::rectJson(QRect(state_.rect.x(), 0, state_.rect.width(), state_.rect.height())));
  return msg;
}

std::optional<QJsonObject> ShareState::nextPageMessage() const {
  const share::PageTurn turn = share::nextPage(state_.page, state_.pages);
  return turn.send ? pageTurnMessage(turn.page) : std::nullopt;
}

std::optional<QJsonObject> ShareState::previousPageMessage() const {
  const share::PageTurn turn = share::previousPage(state_.page);
  return turn.send ? pageTurnMessage(turn.page) : std::nullopt;
}

QJsonObject ShareState::fitMessage(const QSize& rotated, const QSize& area) const {
  QJsonObject msg = roommsg::newMessage(MSG_PIC_FIT);
  if (state_.displayMode == share::kActual) {
    msg.insert(QStringLiteral("picDispMode"), share::kFit);
  } else {
    msg.insert(QStringLiteral("picDispMode"), share::kActual);
    msg.insert(QStringLiteral("rect"), share::rectJson(share::visibleRect(rotated, area)));
  }
  return msg;
}

std::optional<QJsonObject> ShareState::dragMessage(int dx, int dy, const QSize& rotated) const {
  if (state_.displayMode != share::kActual)
    return std::nullopt;
  const std::optional<QRect> moved = share::dragged(state_.rect, dx, dy, rotated);
  if (!moved)
    return std::nullopt;
  QJsonObject msg = roommsg::newMessage(MSG_PIC_DRAG);
  msg.insert(QStringLiteral("mouseEvent"), 1);
  msg.insert(QStringLiteral("rect"), share::rectJson(*moved));
  return msg;
}

std::optional<QJsonObject> ShareState::resizeMessage(const QSize& rotated,
                                                     const QSize& area) const {
  if (state_.displayMode != share::kActual)
    return std::nullopt;
  const QRect resized = share::visibleRect(rotated, area, state_.rect.topLeft());
  if (resized == state_.rect)
    return std::nullopt;
  QJsonObject msg = roommsg::newMessage(MSG_PIC_RESIZE);
  msg.insert(QStringLiteral("sendUserId"), double(ownUserId_));
  msg.insert(QStringLiteral("rect"), share::rectJson(resized));
  return msg;
}

QJsonObject ShareState::queryMessage() const {
  QJsonObject query = roommsg::newMessage(MSG_SHARE_STATE_QUERY);
  query.insert(QStringLiteral("sendUserId"), double(ownUserId_));
  return query;
}

quint32 ShareState::askerToAnswer(const QJsonObject& query, bool isSharer) const {
  // Ids are unsigned 32-bit (a class recorder's has the top bit).
  const quint32 asker = roommsg::senderOf(query).value_or(0);
  if (!isSharer || asker == 0 || asker == ownUserId_ || state_.mode == share::kNone)
    return 0;
  return asker;
}
