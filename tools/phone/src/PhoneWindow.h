// The phone assistant's window: pairing first, then the class. It joins the
// link to the PC with the pages and says what happens to the link.
#pragma once

#include <QJsonObject>
#include <QWidget>

class ClassPage;
class PairingPage;
class PhoneLinkClient;
class QStackedWidget;
class SharedView;

class PhoneWindow : public QWidget {
  Q_OBJECT
public:
  explicit PhoneWindow(QWidget* parent = nullptr);
  ~PhoneWindow() override;

  PhoneLinkClient* link() const { return link_; }
  PairingPage* pairingPage() const { return pairing_; }
  ClassPage* classPage() const { return class_; }
  SharedView* sharedView() const;
  bool showsClass() const;

  // Pairs with the PC a QR code names; false when the text names none.
  bool pair(const QString& text);
  // Sends a chat line; empty or overlong lines are refused with a word to the user.
  bool sendChat(const QString& text);
  // Sends a picture file as the photo for the class.
  bool sendPhotoFile(const QString& path);

signals:
  // A share message (state, rotation, page turn) arrived; emitted before it is applied.
  void shareMessageReceived(const QJsonObject& msg);

private:
  // On a phone this is the camera; here a picture file. Empty when cancelled.
  QString takePhoto();
  void backToPairing(const QString& why);
  void onRoomJson(const QJsonObject& msg);

  PhoneLinkClient* link_;
  QStackedWidget* stack_;
  PairingPage* pairing_;
  ClassPage* class_;
  bool reconnecting_ = false;
};
