#include "platform/platform.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace platform {
namespace {

const char kAppFolder[] = "TavPcClient";

// The XDG base-directory rules ignore unset, empty and relative values.
std::string absoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  if (!value || value[0] != '/')
    return {};
  return value;
}

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  return path;
}

std::string homeDir() {
  return withoutTrailingSlashes(absoluteEnv("HOME"));
}

std::string dataHome() {
  std::string dir = absoluteEnv("XDG_DATA_HOME");
  if (!dir.empty())
    return withoutTrailingSlashes(dir);
  const std::string home = homeDir();
  if (home.empty())
    return {};
  return (home == "/" ? "" : home) + "/.local/share";
}

// Reads one entry of user-dirs.dirs, whose lines look like
//   XDG_PICTURES_DIR="$HOME/Pictures"
// Values are either "$HOME/..." or absolute; a backslash quotes the next character.
std::string userDirsEntry(const std::string& file, const std::string& key,
                          const std::string& home) {
  std::ifstream in(file);
  std::string line;
  std::string found;
  while (std::getline(in, line)) {
    size_t pos = line.find_first_not_of(" \t");
    if (pos == std::string::npos || line[pos] == '#')
      continue;
    if (line.compare(pos, key.size(), key) != 0)
      continue;
    pos = line.find_first_not_of(" \t", pos + key.size());
    if (pos == std::string::npos || line[pos] != '=')
      continue;
    pos = line.find_first_not_of(" \t", pos + 1);
    if (pos == std::string::npos)
      continue;

    const bool quoted = line[pos] == '"';
    if (quoted)
      ++pos;
    std::string value;
    for (; pos < line.size(); ++pos) {
      const char c = line[pos];
      if (quoted && c == '"')
        break;
      if (!quoted && (c == ' ' || c == '\t'))
        break;
      if (c == '\\' && pos + 1 < line.size())
        value += line[++pos];
      else
        value += c;
    }

    std::string path;
    if (value.compare(0, 5, "$HOME") == 0 && (value.size() == 5 || value[5] == '/')) {
      if (home.empty())
        continue;
      path = home + value.substr(5);
    } else if (value.compare(0, 7, "${HOME}") == 0 && (value.size() == 7 || value[7] == '/')) {
      if (home.empty())
        continue;
      path = home + value.substr(7);
    } else if (!value.empty() && value[0] == '/') {
      path = value;
    } else {
      continue;
    }
    // Like the shell that normally sources this file, the last assignment wins.
    found = withoutTrailingSlashes(path);
  }
  return found;
}

}  // namespace

std::string userDataDir() {
  const std::string base = dataHome();
  if (!base.empty())
    return base + "/" + kAppFolder + "/";

  // Started without HOME (e.g. from a bare service environment): fall back to
  // the account's home, and never to a path relative to the working folder.
  passwd entry{};
  passwd* result = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &result) == 0 && result &&
      result->pw_dir && result->pw_dir[0] == '/') {
    std::string home = withoutTrailingSlashes(result->pw_dir);
    return (home == "/" ? "" : home) + "/.local/share/" + kAppFolder + "/";
  }
  return "/tmp/" + std::string(kAppFolder) + "-" + std::to_string(getuid()) + "/";
}

std::string localAppDataDir() {
  return dataHome();
}

std::string picturesDir() {
  std::string dir = absoluteEnv("XDG_PICTURES_DIR");
  if (!dir.empty())
    return withoutTrailingSlashes(dir);

  const std::string home = homeDir();
  std::string config = withoutTrailingSlashes(absoluteEnv("XDG_CONFIG_HOME"));
  if (config.empty() && !home.empty())
    config = (home == "/" ? "" : home) + "/.config";
  if (!config.empty()) {
    dir = userDirsEntry(config + "/user-dirs.dirs", "XDG_PICTURES_DIR", home);
    if (!dir.empty())
      return dir;
  }

  if (home.empty())
    return {};
  return (home == "/" ? "" : home) + "/Pictures";
}

}  // namespace platform
