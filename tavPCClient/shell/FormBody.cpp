#include "FormBody.h"

#include <QUrl>

FormBody& FormBody::arg(const QString& value) {
  values_ << QString::fromLatin1(QUrl::toPercentEncoding(value));
  return *this;
}

QString FormBody::toString() const {
  QString out;
  out.reserve(pattern_.size() + 16 * values_.size());
  for (int i = 0; i < pattern_.size(); ++i) {
    const QChar c = pattern_[i];
    if (c == '%' && i + 1 < pattern_.size() && pattern_[i + 1].isDigit()) {
      int j = i + 1;
      int number = 0;
      while (j < pattern_.size() && pattern_[j].isDigit() && j - i <= 2)
        number = number * 10 + pattern_[j++].digitValue();
      if (number >= 1 && number <= values_.size()) {
        out += values_[number - 1];
        i = j - 1;
        continue;
      }
    }
    out += c;
  }
  return out;
}
