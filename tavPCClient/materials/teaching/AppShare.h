// Sharing another program's window with the class: the holder of the
// teaching tool picks a window of the desktop, which is embedded into the
// teaching area (the live program, to work in) while the media library
// captures it for everybody else's screen-share picture. The share ends when
// the member ends it, loses the sharing right or the tool, leaves, or when
// the program's window closes or disappears; the window then goes back to
// the desktop where it was, never destroyed.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include "AppWindowHost.h"
#include "ClassroomComponent.h"
#include "SelSharedWndDlg.h"
#include "platform/desktop_windows.h"

class ClassroomContext;

class AppShare : public QObject, public ClassroomComponent {
  Q_OBJECT

public:
  // How often the shared window is looked at (closed, hidden).
  static constexpr int kWatchMs = 500;

  explicit AppShare(ClassroomContext& context, QObject* parent = nullptr);
  ~AppShare() override;

  // The share-content menu's entry: the window list, then the share.
  void chooseApplication();
  // Shares that window (as the menu's entry does once it is chosen).
  bool shareWindow(const platform::DesktopWindow& window);
  // Ends the own share: the window goes back to the desktop, the capture and
  // the sharing right end.
  void endShare();
  bool sharing() const { return host_ != nullptr; }
  quint64 sharedWindow() const { return window_.handle; }
  SelSharedWndDlg* dialog() const;
  // Where the desktop's windows come from (tests bring their own list).
  void setWindowSource(std::function<std::vector<platform::DesktopWindow>()> source) {
    windowSource_ = std::move(source);
  }

  // ClassroomComponent
  void classStopping() override;
  void leaving() override;

public slots:
  // The own tool ended or went to another student: an open choice closes,
  // a running share ends.
  void ownToolEnded();

private:
  void watch();
  // While the own member writes on the board over its program, the capture
  // holds the program's last picture (the stage shows that picture with the
  // board over it); live again when the writing ends.
  void followWriting();
  // Takes the embedded window out; stopRight: also end the sharing right
  // (not when the media server moved it already).
  void finish(bool stopRight);

  ClassroomContext& context_;
  std::function<std::vector<platform::DesktopWindow>()> windowSource_;
  QPointer<SelSharedWndDlg> dialog_;
  QPointer<AppWindowHost> host_;
  platform::DesktopWindow window_;
  bool still_ = false;
  QTimer watch_;
};
