// "选择要共享的应用": the desktop's windows worth sharing by their titles; OK
// with one chosen accepts, OK with none says "请选择一个应用！" and stays.
#pragma once

#include <QDialog>
#include <functional>
#include <vector>

#include "platform/desktop_windows.h"

class QListWidget;

class SelSharedWndDlg : public QDialog {
  Q_OBJECT

public:
  SelSharedWndDlg(const std::vector<platform::DesktopWindow>& windows,
                  std::function<void(const QString&)> toast, QWidget* parent = nullptr);

  // The visible titled windows, without the classroom ("互动教室"), the
  // desktop's own ("开始", "Program Manager") and this program's other windows.
  static std::vector<platform::DesktopWindow> shareable(
      const std::vector<platform::DesktopWindow>& windows, long ownPid);

  // The chosen window (handle 0 when none was).
  platform::DesktopWindow chosen() const { return chosen_; }
  QListWidget* list() const { return list_; }

public slots:
  void slot_btnOk_clicked();

private:
  std::vector<platform::DesktopWindow> windows_;
  std::function<void(const QString&)> toast_;
  QListWidget* list_;
  platform::DesktopWindow chosen_;
};
