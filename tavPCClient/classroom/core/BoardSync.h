// The whiteboard as the class control reaches it: a member entering a running
// class (or coming back to it) asks the member who started it for the board.
#pragma once

#include <QtGlobal>

class BoardSync {
public:
  virtual ~BoardSync() = default;
  // Replaces the own board with the starter's: asks for it and takes what comes.
  virtual void askForBoard(quint32 starterId) = 0;
};
