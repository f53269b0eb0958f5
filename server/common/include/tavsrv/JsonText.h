// Writing JSON text directly, for the few answers that are built often enough
// for a JSON tree to cost more than the work behind them. The text is what
// tavsrv::dumpJson would write for the same values.
#pragma once

#include <string>
#include <string_view>

namespace tavsrv {

// Appends text as a JSON string (quotes included): '"' and '\' escaped, control
// characters as \b \f \n \r \t or \u00xx, everything else as it is. The caller
// makes sure text is valid UTF-8 (isValidUtf8).
void appendJsonString(std::string& out, std::string_view text);

}  // namespace tavsrv
