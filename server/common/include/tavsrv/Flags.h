// Command-line flags of the server programs: "--name value" or "--name=value",
// switches "--name", "--help", and "--config FILE" reading "name = value" lines
// (blank lines and lines starting with '#' ignored). The command line wins over
// the file.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tavsrv {

class Flags {
public:
  // A flag taking a value, with its default and a line of help.
  void define(const std::string& name, const std::string& defaultValue, const std::string& help);
  // A switch: "--name" sets it, "--name=false" clears it.
  void defineSwitch(const std::string& name, const std::string& help);
  // A list: "--name A,B", or the flag given again ("--name A --name B"), in a
  // config file too; the command line's values replace the file's.
  void defineList(const std::string& name, const std::string& help);

  // False with *error set on an unknown flag, a missing value or an unreadable
  // config file. "--help" is accepted and reported by helpRequested().
  bool parse(int argc, const char* const* argv, std::string* error);
  bool parseConfigFile(const std::string& path, std::string* error);

  bool helpRequested() const { return help_; }
  bool isSet(const std::string& name) const;  // given on the command line or in the file
  std::string get(const std::string& name) const;
  // False when the value is not a whole number in [min, max].
  bool getInt(const std::string& name, long long min, long long max, long long* out) const;
  bool getSwitch(const std::string& name) const;
  // A list's values, blanks around them trimmed, empty ones left out.
  std::vector<std::string> getList(const std::string& name) const;

  std::string usage(const std::string& program, const std::string& summary) const;

private:
  struct Definition {
    std::string defaultValue;
    std::string help;
    bool isSwitch = false;
    bool isList = false;
  };
  bool assign(const std::string& name, const std::string& value, bool fromFile, std::string* error);

  std::map<std::string, Definition> definitions_;
  std::vector<std::string> order_;
  std::map<std::string, std::string> values_;
  std::map<std::string, bool> fromCommandLine_;
  bool help_ = false;
};

}  // namespace tavsrv
