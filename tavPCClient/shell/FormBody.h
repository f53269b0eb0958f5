// Builds a form body from a template such as "userName=%1&userPwd=%2".
// Every value is percent-encoded and all places are filled in one pass, so a
// value holding '&', '=', '+', '%' or a "%1" of its own arrives intact.
#pragma once

#include <QString>
#include <QStringList>

class FormBody {
 public:
  explicit FormBody(const QString& pattern) : pattern_(pattern) {}

  FormBody& arg(const QString& value);
  FormBody& arg(qlonglong value) { return arg(QString::number(value)); }
  FormBody& arg(qulonglong value) { return arg(QString::number(value)); }
  FormBody& arg(int value) { return arg(QString::number(value)); }
  FormBody& arg(uint value) { return arg(QString::number(value)); }
  FormBody& arg(const char* value) { return arg(QString::fromUtf8(value)); }

  // The filled body; %N without a value stays as it is.
  QString toString() const;
  operator QString() const { return toString(); }

 private:
  QString pattern_;
  QStringList values_;
};
