// The client's start-up sequence, from the application object to the event
// loop. The steps that touch files are separate so they can be exercised alone.
#pragma once

#include <QString>

class QApplication;

class ClientStartup {
public:
  // The whole program: returns the process exit code.
  static int run(int argc, char** argv);

  // An updater dropped "NewUpdate" next to the program: the old per-user data
  // is cleared and the welcome pages are shown. Then the data folder is made
  // when missing. Returns true when the update path was taken.
  static bool prepareDataFolder(const QString& appDir, const QString& dataFolder);

  // The client's style sheet and palette.
  static void applyLook(QApplication& app);
  // Qt's own texts in Chinese (qtbase_zh_CN from the system's Qt translations).
  static void loadTranslations(QApplication& app);

  // Opens "<dataFolder>tavQN" with its tables; false when it cannot be opened.
  static bool openDatabase(const QString& dataFolder);
};
