// The look the whiteboard's floating bars share: a dark rounded frame of flat
// tool buttons, the chosen one in the accent colour.
#pragma once

#include <QString>

namespace vw {

// The style sheet of a bar whose object name is frameName, with extra rules appended.
inline QString floatingBarStyle(const char* frameName, const char* extra = "") {
  return QStringLiteral(
             "QFrame#%1 { background: #2b3039; border: 1px solid #3c434c; border-radius: 6px; }\n"
             "QToolButton { background: transparent; border: 1px solid transparent;"
             " border-radius: 4px; }\n"
             "QToolButton:hover { background: #3a414a; }\n"
             "QToolButton:checked { background: #1a73e8; border-color: #1a73e8; }\n")
             .arg(QLatin1String(frameName)) +
         QString::fromUtf8(extra);
}

}  // namespace vw
