#include "PasswordCodec.h"

#include <QByteArray>
#include <array>

namespace PasswordCodec {

namespace {
// The code table: its non-zero entries, in table order, are numbered 1, 2, 3, ...
// A byte equal to an entry is stored as that entry's number.
constexpr std::array<unsigned char, 256> kTable = {
    0,   0,   0,   0,   0,   85,  41,  101, 91, 59, 0,   0,   0,   89, 77, 0,   0,  0,  0,   0,
    0,   75,  43,  0,   60,  0,   0,   0,   0,  0,  124, 0,   104, 0,  0,  125, 0,  93, 54,  0,
    81,  0,   0,   79,  97,  82,  0,   0,   0,  0,  0,   0,   34,  0,  66, 0,   0,  0,  0,   0,
    0,   126, 44,  67,  0,   47,  0,   0,   0,  0,  0,   96,  0,   0,  69, 0,   0,  0,  0,   0,
    0,   0,   118, 108, 52,  53,  0,   0,   63, 0,  37,  0,   76,  0,  36, 0,   0,  0,  106, 56,
    32,  0,   64,  0,   0,   39,  0,   55,  0,  0,  0,   0,   0,   0,  0,  46,  0,  0,  0,   113,
    90,  0,   0,   0,   0,   0,   115, 0,   0,  68, 0,   0,   99,  0,  88, 0,   0,  38, 0,   98,
    0,   120, 116, 86,  0,   103, 0,   0,   0,  0,  73,  111, 119, 0,  0,  49,  78, 95, 0,   112,
    0,   84,  40,  0,   105, 0,   65,  94,  0,  0,  0,   92,  0,   0,  0,  80,  0,  0,  62,  102,
    0,   0,   58,  48,  0,   87,  83,  57,  33, 61, 110, 100, 0,   0,  0,  0,   0,  0,  0,   0,
    0,   122, 0,   72,  107, 0,   109, 0,   0,  0,  0,   0,   117, 35, 0,  0,   0,  0,  0,   42,
    0,   70,  0,   0,   0,   0,   0,   71,  0,  0,  0,   0,   0,   0,  0,  0,   74, 0,  114, 0,
    123, 50,  0,   0,   121, 45,  0,   0,   0,  0,  0,   51,  0,   0,  0,  0,
};

struct Maps {
  std::array<unsigned char, 256> toNumber{};  // byte -> number, 0 = not in the table
  std::array<unsigned char, 256> toByte{};    // number -> byte, 0 = no such number
};

const Maps& maps() {
  static const Maps m = [] {
    Maps built;
    unsigned number = 0;
    for (unsigned char entry : kTable) {
      if (entry == 0)
        continue;
      ++number;
      built.toNumber[entry] = static_cast<unsigned char>(number);
      built.toByte[number] = entry;
    }
    return built;
  }();
  return m;
}

QString substitute(const QString& text, const std::array<unsigned char, 256>& map) {
  const QByteArray in = text.toLocal8Bit();
  QByteArray out;
  out.reserve(in.size());
  for (char c : in) {
    const unsigned char mapped = map[static_cast<unsigned char>(c)];
    if (mapped != 0)
      out.append(static_cast<char>(mapped));
  }
  return QString::fromLocal8Bit(out);
}
}  // namespace

QString encode(const QString& password) {
  return substitute(password, maps().toNumber);
}

QString decode(const QString& stored) {
  return substitute(stored, maps().toByte);
}

}  // namespace PasswordCodec
