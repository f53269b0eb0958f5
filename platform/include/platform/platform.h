// Operating-system services the client, the updater and the libraries need.
// Everything here is plain C++ (no Qt) so the media libraries can use it too.
// The POSIX implementation is used on Linux; the Win32 one is compiled only on
// Windows. All paths are UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Per-user folder below which the client keeps everything it writes:
// Linux "$XDG_DATA_HOME/TavPcClient/" (or "~/.local/share/TavPcClient/"),
// Windows "<home>/AppData/Local/TavPcClient/". Always ends in '/'.
std::string userDataDir();

// The system's local application-data folder (no trailing separator):
// Linux $XDG_DATA_HOME or ~/.local/share, Windows CSIDL_LOCAL_APPDATA.
// Empty when it cannot be determined.
std::string localAppDataDir();

// The user's Pictures folder; empty when it cannot be determined.
std::string picturesDir();

// Platform file name of a program: "TavUpdate" -> "TavUpdate.exe" on Windows.
std::string executableName(const std::string& baseName);

// Milliseconds from a monotonic clock; wraps around like a 32-bit tick count.
uint32_t tickMs();

// A named, process-lifetime guard against a second copy of a program.
// Linux: an flock()ed file named after it in $XDG_RUNTIME_DIR (or the temp
// folder); Windows: a named mutex. The guard is released when the object dies
// or the process ends, however it ends.
class SingleInstance {
public:
  explicit SingleInstance(const std::string& name);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // True when a guard of the same name is already held: by another process,
  // or (POSIX) by another live SingleInstance object in this one.
  bool alreadyRunning() const { return alreadyRunning_; }

private:
  bool alreadyRunning_ = false;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// Installs the crash writer: on a fatal signal (Linux) or an unhandled
// exception (Windows) it writes one "<tick>.dmp" into
// localAppDataDir() + "/TavPcClient/" and lets the process end. Nothing is
// written when a debugger is attached. Safe to call more than once.
void installCrashHandler();

// Makes the heap give memory back: a program whose threads come and go with
// every class (media senders, receivers, decoders) and that passes large
// buffers between them would otherwise keep freed memory in per-thread pools
// and grow class by class. Call once at start-up, before threads exist.
void returnFreedMemory();

// Ends this user's processes that run the program file at exePath (the same
// file, not another copy of the same name, and never another user's process
// or the caller): each is asked to quit first (SIGTERM; on Windows the close
// message) and killed when it still runs after graceMs. Returns the process
// ids ended (empty when none ran), or nullopt when the process list cannot be
// read.
std::optional<std::vector<int>> endProcessesOf(const std::string& exePath, int graceMs = 3000);

// A file descriptor that becomes readable when the process is asked to quit
// (SIGTERM, SIGINT, SIGHUP), so an event loop can end cleanly; -1 where there
// is no such request (Windows: the close message reaches the windows).
int quitRequests();
// Takes the pending requests off that descriptor (after it became readable).
void drainQuitRequests();

// Starts a program detached from this process (it outlives us). Returns false
// when it could not be started.
bool startDetached(const std::string& program, const std::vector<std::string>& args = {});

// Opens a web address or a file with the desktop's default handler.
bool openUrl(const std::string& url);

}  // namespace platform
