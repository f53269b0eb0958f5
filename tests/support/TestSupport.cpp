#include "TestSupport.h"

#include <QLabel>
#include <QTextDocument>

#include <QDir>
#include <QFile>
#include <cstdlib>

namespace testsupport {

namespace {
const char* const kVars[4] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"};
}

TempHome::TempHome() {
  for (int i = 0; i < 4; ++i)
    saved_[i] = qgetenv(kVars[i]);
  QDir().mkpath(dataHome());
  QDir().mkpath(runtimeDir());
  QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  QDir().mkpath(dir_.path() + "/.config");
  qputenv("HOME", dir_.path().toUtf8());
  qputenv("XDG_DATA_HOME", dataHome().toUtf8());
  qputenv("XDG_CONFIG_HOME", (dir_.path() + "/.config").toUtf8());
  qputenv("XDG_RUNTIME_DIR", runtimeDir().toUtf8());
}

TempHome::~TempHome() {
  for (int i = 0; i < 4; ++i) {
    if (saved_[i].isNull())
      qunsetenv(kVars[i]);
    else
      qputenv(kVars[i], saved_[i]);
  }
}

QString binDir() {
  const QByteArray fromEnv = qgetenv("TAV_BIN_DIR");
  if (!fromEnv.isEmpty())
    return QString::fromUtf8(fromEnv);
  return QCoreApplication::applicationDirPath() + "/../bin";
}

bool showsAsPlainText(const QWidget& owner, const QString& text) {
  bool found = false;
  for (const QLabel* label : owner.findChildren<QLabel*>()) {
    if (label->text() != text)
      continue;
    QTextDocument tip;
    tip.setHtml(label->toolTip());
    if (label->textFormat() != Qt::PlainText || tip.toPlainText() != text)
      return false;
    found = true;
  }
  return found;
}

}  // namespace testsupport
