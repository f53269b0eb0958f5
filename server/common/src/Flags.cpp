#include "tavsrv/Flags.h"

#include <fstream>
#include <sstream>

namespace tavsrv {

namespace {
std::string trim(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos)
    return std::string();
  const auto end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}
}  // namespace

void Flags::define(const std::string& name, const std::string& defaultValue,
                   const std::string& help) {
  if (!definitions_.count(name))
    order_.push_back(name);
  definitions_[name] = Definition{defaultValue, help, false};
}

void Flags::defineSwitch(const std::string& name, const std::string& help) {
  if (!definitions_.count(name))
    order_.push_back(name);
  definitions_[name] = Definition{"false", help, true};
}

void Flags::defineList(const std::string& name, const std::string& help) {
  if (!definitions_.count(name))
    order_.push_back(name);
  definitions_[name] = Definition{"", help, false, true};
}

bool Flags::assign(const std::string& name, const std::string& value, bool fromFile,
                   std::string* error) {
  auto found = definitions_.find(name);
  if (found == definitions_.end()) {
    *error = "unknown flag --" + name;
    return false;
  }
  if (found->second.isSwitch && value != "true" && value != "false") {
    *error = "--" + name + " takes true or false";
    return false;
  }
  // Values from the command line are not overwritten by the file read later.
  if (fromFile && fromCommandLine_[name])
    return true;
  auto& held = values_[name];
  held = found->second.isList && !held.empty() ? held + "," + value : value;
  if (!fromFile)
    fromCommandLine_[name] = true;
  return true;
}

bool Flags::parse(int argc, const char* const* argv, std::string* error) {
  std::string configPath;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      help_ = true;
      continue;
    }
    if (arg.rfind("--", 0) != 0) {
      *error = "unexpected argument " + arg;
      return false;
    }
    arg = arg.substr(2);
    std::string name = arg;
    std::string value;
    bool hasValue = false;
    const auto eq = arg.find('=');
    if (eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      hasValue = true;
    }
    if (name == "config") {
      if (!hasValue) {
        if (i + 1 >= argc) {
          *error = "--config needs a file";
          return false;
        }
        value = argv[++i];
      }
      configPath = value;
      continue;
    }
    auto found = definitions_.find(name);
    if (found == definitions_.end()) {
      *error = "unknown flag --" + name;
      return false;
    }
    if (!hasValue) {
      if (found->second.isSwitch) {
        value = "true";
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        *error = "--" + name + " needs a value";
        return false;
      }
    }
    if (!assign(name, value, false, error))
      return false;
  }
  if (!configPath.empty())
    return parseConfigFile(configPath, error);
  return true;
}

bool Flags::parseConfigFile(const std::string& path, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read config file " + path;
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    line = trim(line);
    if (line.empty() || line[0] == '#')
      continue;
    auto split = line.find('=');
    if (split == std::string::npos)
      split = line.find_first_of(" \t");
    std::string name = trim(line.substr(0, split));
    std::string value = split == std::string::npos ? "true" : trim(line.substr(split + 1));
    if (name.rfind("--", 0) == 0)
      name = name.substr(2);
    std::string why;
    if (!assign(name, value, true, &why)) {
      *error = path + ":" + std::to_string(number) + ": " + why;
      return false;
    }
  }
  return true;
}

bool Flags::isSet(const std::string& name) const {
  return values_.count(name) != 0;
}

std::string Flags::get(const std::string& name) const {
  auto value = values_.find(name);
  if (value != values_.end())
    return value->second;
  auto found = definitions_.find(name);
  return found == definitions_.end() ? std::string() : found->second.defaultValue;
}

bool Flags::getInt(const std::string& name, long long min, long long max, long long* out) const {
  const std::string text = get(name);
  if (text.empty() || text.size() > 18)
    return false;
  size_t i = 0;
  bool negative = false;
  if (text[0] == '-') {
    negative = true;
    i = 1;
  }
  if (i == text.size())
    return false;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9')
      return false;
    value = value * 10 + (text[i] - '0');
  }
  if (negative)
    value = -value;
  if (value < min || value > max)
    return false;
  *out = value;
  return true;
}

bool Flags::getSwitch(const std::string& name) const {
  return get(name) == "true";
}

std::vector<std::string> Flags::getList(const std::string& name) const {
  std::vector<std::string> items;
  std::istringstream in(get(name));
  std::string item;
  while (std::getline(in, item, ','))
    if (!trim(item).empty())
      items.push_back(trim(item));
  return items;
}

std::string Flags::usage(const std::string& program, const std::string& summary) const {
  std::ostringstream out;
  out << "usage: " << program << " [flags]\n" << summary << "\n\nflags:\n";
  for (const auto& name : order_) {
    const Definition& d = definitions_.at(name);
    out << "  --" << name
        << (d.isSwitch ? ""
            : d.isList ? " VALUE[,VALUE...]"
                       : " VALUE")
        << "\n      " << d.help;
    if (!d.isSwitch && !d.defaultValue.empty())
      out << " (default: " << d.defaultValue << ")";
    out << "\n";
  }
  out << "  --config FILE\n      read further flags from FILE, one \"name = value\" a line\n";
  return out.str();
}

}  // namespace tavsrv
