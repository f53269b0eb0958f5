// The client's log file: every Qt log message becomes one line of
// "MsgOutput.txt" in the per-user data folder.
#pragma once

#include <QString>
#include <QtGlobal>

namespace MessageLog {

// "<level word> File:<file> Line:<line> <text> <yyyy-MM-dd hh:mm:ss.zzz>"
// without the line end.
QString formatLine(QtMsgType type, const char* file, int line, const QString& text);

// The handler given to qInstallMessageHandler. Callable from any thread.
void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text);

void install();

}  // namespace MessageLog
