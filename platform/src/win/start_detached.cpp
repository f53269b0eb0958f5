#include "platform/platform.h"

#include <windows.h>

#include "utf8.h"

namespace platform {
namespace {

// Quotes one argument so CommandLineToArgvW (and the C runtime) split it back
// out unchanged: backslashes only need doubling before a quote.
void appendQuoted(std::wstring& commandLine, const std::wstring& arg) {
  if (!commandLine.empty())
    commandLine += L' ';
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    commandLine += arg;
    return;
  }
  commandLine += L'"';
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"')
      commandLine.append(backslashes * 2 + 1, L'\\');
    else
      commandLine.append(backslashes, L'\\');
    backslashes = 0;
    commandLine += c;
  }
  commandLine.append(backslashes * 2, L'\\');
  commandLine += L'"';
}

}  // namespace

bool startDetached(const std::string& program, const std::vector<std::string>& args) {
  if (program.empty())
    return false;
  std::wstring commandLine;
  appendQuoted(commandLine, win::toWide(program));
  for (const std::string& arg : args)
    appendQuoted(commandLine, win::toWide(arg));

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  // No application name: CreateProcessW then searches the usual folders and
  // appends ".exe" itself. The command line buffer must be writable.
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE,
                      DETACHED_PROCESS | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup,
                      &info))
    return false;
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

}  // namespace platform
