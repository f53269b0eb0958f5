#include "video_param.h"

#include <cctype>
#include <cstdio>
#include <mutex>
#include <string>

#include "woblog/woblog.h"

namespace pavo {
namespace {

const char* const group_names[] = {"teacher", "student", "share"};
const char* const value_names[] = {"width",         "height",      "fps",
                                   "start bitrate", "min bitrate", "max bitrate"};

// The file is tiny; anything bigger is not ours.
constexpr long max_file_size = 64 * 1024;

// scanf's rules for "<name> : %d\n": format blanks skip any white space, other characters
// must match one for one, %d skips white space and reads an optional sign and digits.
class line_matcher {
public:
  line_matcher(const char* text, std::size_t length) : p_(text), end_(text + length) {}

  bool literal(const std::string& format) {
    for (char c : format) {
      if (std::isspace(static_cast<unsigned char>(c))) {
        skip_space();
      } else {
        if (p_ == end_ || *p_ != c)
          return false;
        ++p_;
      }
    }
    return true;
  }

  bool number(int32_t* out) {
    skip_space();
    bool negative = false;
    if (p_ != end_ && (*p_ == '-' || *p_ == '+'))
      negative = *p_++ == '-';
    if (p_ == end_ || !std::isdigit(static_cast<unsigned char>(*p_)))
      return false;
    int64_t value = 0;
    while (p_ != end_ && std::isdigit(static_cast<unsigned char>(*p_))) {
      value = value * 10 + (*p_++ - '0');
      if (value > int64_t(INT32_MAX) + 1)
        return false;
    }
    value = negative ? -value : value;
    if (value > INT32_MAX || value < INT32_MIN)
      return false;
    *out = static_cast<int32_t>(value);
    return true;
  }

private:
  void skip_space() {
    while (p_ != end_ && std::isspace(static_cast<unsigned char>(*p_)))
      ++p_;
  }
  const char* p_;
  const char* end_;
};

}  // namespace

bool parse_video_param(const char* text, std::size_t length, video_param_t* out) {
  if (!text || !out)
    return false;
  line_matcher matcher(text, length);
  video_param_set_t* sets[] = {&out->teacher, &out->student, &out->share};
  for (int g = 0; g < 3; ++g) {
    int32_t* fields[] = {&sets[g]->width,         &sets[g]->height,      &sets[g]->fps,
                         &sets[g]->start_bitrate, &sets[g]->min_bitrate, &sets[g]->max_bitrate};
    for (int v = 0; v < 6; ++v) {
      const std::string label = std::string(group_names[g]) + " " + value_names[v] + " : ";
      if (!matcher.literal(label) || !matcher.number(fields[v]) || !matcher.literal("\n"))
        return false;
    }
  }
  return true;
}

const video_param_t* video_param() {
  static std::once_flag once;
  static video_param_t table;
  static bool valid = false;
  std::call_once(once, [] {
    std::FILE* file = std::fopen("videoparam.conf", "rb");
    if (!file) {
      qn::log("videoparam.conf: cannot open");
      return;
    }
    std::string text(max_file_size, '\0');
    const std::size_t got = std::fread(&text[0], 1, text.size(), file);
    std::fclose(file);
    text.resize(got);
    valid = parse_video_param(text.data(), text.size(), &table);
    if (!valid)
      qn::log("videoparam.conf: not the 18 expected lines");
  });
  return valid ? &table : nullptr;
}

}  // namespace pavo
