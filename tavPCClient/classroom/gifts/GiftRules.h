// The gift rules without widgets: the count box's entries and how a count is
// read, the price as the consume call sends it, the chat line, and the effect
// a count earns.
#pragma once

#include <QString>
#include <QStringList>

namespace gifts {

// The count box's entries, exactly as shown (1, 10, 17, 66, 178 pieces).
const QStringList& countEntries();
// The pieces a count text stands for: an entry's number, else the text read
// as a decimal integer; 0 when it is neither or not positive.
int countOf(const QString& text);

// Price per piece in the general number format with six significant digits.
QString priceText(double money);

// "“sender”送给“target”礼物“gift”count个"
QString chatLine(const QString& sender, const QString& target, const QString& gift, int count);

// Counts above 9 get an effect.
inline bool earnsEffect(int count) { return count > 9; }
// The effect's style sheet by count: up to 65 blue, above 177 red, else purple.
QString effectStyle(int count);

}  // namespace gifts
