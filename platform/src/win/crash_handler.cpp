#include "platform/platform.h"

#include <windows.h>

#include <dbghelp.h>
#include <direct.h>
#include <mmsystem.h>
#include <shlobj.h>

#include <cwchar>

namespace platform {
namespace {

// "<local app data>\TavPcClient\", resolved at install time: by the time the
// filter runs the heap may be corrupt, so it should do as little as possible.
wchar_t g_dumpDir[MAX_PATH + 16];

LONG WINAPI writeMiniDump(EXCEPTION_POINTERS* exception) {
  if (IsDebuggerPresent())
    return EXCEPTION_CONTINUE_SEARCH;  // Let the debugger see the exception.
  if (g_dumpDir[0] == L'\0')
    return EXCEPTION_EXECUTE_HANDLER;

  _wmkdir(g_dumpDir);  // Usually exists already; the file open decides.
  wchar_t path[MAX_PATH + 32];
  swprintf(path, sizeof path / sizeof path[0], L"%ls%u.dmp", g_dumpDir,
           static_cast<unsigned>(timeGetTime()));

  HANDLE file =
      CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    MINIDUMP_EXCEPTION_INFORMATION info{};
    info.ThreadId = GetCurrentThreadId();
    info.ExceptionPointers = exception;
    info.ClientPointers = TRUE;
    MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal, &info,
                      nullptr, nullptr);
    CloseHandle(file);
  }
  return EXCEPTION_EXECUTE_HANDLER;  // Ends the process without the system error dialog.
}

}  // namespace

void installCrashHandler() {
  wchar_t base[MAX_PATH] = {};
  g_dumpDir[0] = L'\0';
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base)))
    swprintf(g_dumpDir, sizeof g_dumpDir / sizeof g_dumpDir[0], L"%ls\\TavPcClient\\", base);
  SetUnhandledExceptionFilter(writeMiniDump);
}

}  // namespace platform
