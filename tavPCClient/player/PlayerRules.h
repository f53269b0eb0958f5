// The playback window's arithmetic, without widgets: which rendition of a
// courseware video is played, where it is cached, how times read, and where a
// click on the progress bar seeks to.
#pragma once

#include <QString>

namespace player {

// The address to play from a courseware's "filePath" (itself a JSON text with
// PlayInfoList.PlayInfo renditions). Only "mp4" renditions count: the first
// "OD" ends the search, otherwise an "LD" is taken, an "FD" only while no "LD"
// has been. Empty when nothing usable is there, the text is not JSON, or the
// address is not http(s).
QString choosePlayUrl(const QString& filePathJson);

// "HH:MM:SS", each part at least two digits.
QString formatPlayTime(int seconds);

// The cache file of a courseware: folder + name + ".mp4". The name is what a
// teacher typed: characters a file name cannot hold, and leading dots, become
// '_', so the file always lands directly in the folder.
QString cacheFileName(const QString& folder, const QString& coursewareName);

// The percentage a left-button release at x on a slider of that width and
// range seeks to: x clamped to the slider, value = minimum + x / width x
// (maximum - minimum), percent = int(value) x 100 / maximum. -1 when the
// slider has no range yet (nothing to seek in).
int seekPercent(int x, int width, int minimum, int maximum);

}  // namespace player
