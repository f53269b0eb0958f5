// The sections of bench-chat. Each is one source file with one entry point,
// listed in main.cpp's table; it gets the arguments after "--section NAME" and
// returns the program's exit code.
#pragma once

namespace benchchat {

// TransferBench.cpp: libferrum against the curl program on the same file and URLs.
int runTransfer(int argc, char** argv);
// ChatBench.cpp: a text until the last of --members N shows it; a 3 MB photo
// until a receiver shows its thumbnail.
int runText(int argc, char** argv);
int runPhoto(int argc, char** argv);

}  // namespace benchchat
