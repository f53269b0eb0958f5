// The library's own log, "wobl/wobl.log" below the local application-data folder.
#pragma once

namespace pavo {

// Creates the folder and starts logging there; nothing when the folder is unknown.
void start_log();

}  // namespace pavo
