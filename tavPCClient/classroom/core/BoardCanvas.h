// The whiteboard canvas as the shared area reaches it: the canvas lies over
// the shown picture, so it follows the picture's place, and a new picture,
// page or rotation clears what was drawn (for everybody, as the drawing
// toolbar's clear does).
#pragma once

class BoardCanvas {
public:
  virtual ~BoardCanvas() = default;
  // The picture moved or changed size in the shared area: the canvas follows.
  virtual void placeCanvas() = 0;
  // Clears the board here and in every member's board.
  virtual void clearBoard() = 0;
  virtual bool canvasShown() const = 0;
  // Whether anything is drawn on it.
  virtual bool hasShapes() const = 0;
};
