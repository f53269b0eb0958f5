#include "Package.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <vector>

namespace convert {

using falco::wire::ErrorCode;

namespace {

// A zip's central directory is at most this big (a real one has a few hundred bytes per
// entry) and holds at most this many entries; the type entries we read are far smaller.
constexpr std::uint64_t kMaxDirectoryBytes = 16u << 20;
constexpr std::uint64_t kMaxEntries = 100000;
constexpr std::size_t kMaxTypeEntryBytes = 1u << 20;

struct Entry {
  std::string name;
  std::uint16_t method = 0;
  std::uint64_t packed = 0, size = 0, offset = 0;
};

std::uint64_t le(const std::string& bytes, std::size_t at, int width) {
  std::uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i)
    v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  return v;
}

class Zip {
public:
  explicit Zip(const std::string& path) : in_(path, std::ios::binary) {
    in_.seekg(0, std::ios::end);
    size_ = in_ ? static_cast<std::uint64_t>(in_.tellg()) : 0;
  }

  // `length` bytes at `offset`, only when all of them are inside the file.
  bool read(std::uint64_t offset, std::uint64_t length, std::string* out) {
    if (offset > size_ || length > size_ - offset)
      return false;
    out->assign(static_cast<std::size_t>(length), '\0');
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    in_.read(out->data(), static_cast<std::streamsize>(length));
    return static_cast<std::uint64_t>(in_.gcount()) == length;
  }

  bool directory(std::vector<Entry>* entries, std::string* why) {
    // The end record is in the last 64 KiB + 22 bytes (its comment is at most 64 KiB).
    const std::uint64_t tail_size = std::min<std::uint64_t>(size_, 65535 + 22);
    std::string tail;
    if (size_ < 22 || !read(size_ - tail_size, tail_size, &tail))
      return *why = "not a zip", false;
    std::size_t end = std::string::npos;
    for (std::size_t at = tail.size() - 22 + 1; at-- > 0;)
      if (le(tail, at, 4) == 0x06054b50) {
        end = at;
        break;
      }
    if (end == std::string::npos)
      return *why = "no zip directory", false;
    std::uint64_t count = le(tail, end + 10, 2), bytes = le(tail, end + 12, 4),
                  start = le(tail, end + 16, 4);
    if (count == 0xffff || bytes == 0xffffffff || start == 0xffffffff) {
      // Zip64: the locator just before the end record points at the larger record.
      const std::uint64_t end_at = size_ - tail_size + end;
      std::string locator, record;
      if (end_at < 20 || !read(end_at - 20, 20, &locator) || le(locator, 0, 4) != 0x07064b50 ||
          !read(le(locator, 8, 8), 56, &record) || le(record, 0, 4) != 0x06064b50)
        return *why = "broken zip64 directory", false;
      count = le(record, 32, 8);
      bytes = le(record, 40, 8);
      start = le(record, 48, 8);
    }
    if (count > kMaxEntries || bytes > kMaxDirectoryBytes)
      return *why = "zip directory too large", false;
    std::string dir;
    if (!read(start, bytes, &dir))
      return *why = "zip directory outside the file", false;
    std::size_t at = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
      if (dir.size() - at < 46 || le(dir, at, 4) != 0x02014b50)
        return *why = "broken zip directory", false;
      Entry e;
      e.method = static_cast<std::uint16_t>(le(dir, at + 10, 2));
      e.packed = le(dir, at + 20, 4);
      e.size = le(dir, at + 24, 4);
      const std::size_t name_len = le(dir, at + 28, 2), extra_len = le(dir, at + 30, 2),
                        comment_len = le(dir, at + 32, 2);
      e.offset = le(dir, at + 42, 4);
      if (dir.size() - at - 46 < name_len + extra_len + comment_len)
        return *why = "broken zip directory", false;
      e.name = dir.substr(at + 46, name_len);
      // Zip64 sizes and offset, each present only where the 32-bit field is saturated.
      for (std::size_t x = at + 46 + name_len, x_end = x + extra_len; x + 4 <= x_end;) {
        const std::size_t id = le(dir, x, 2), len = le(dir, x + 2, 2);
        if (x_end - x - 4 < len)
          return *why = "broken zip directory", false;
        if (id == 1) {
          std::size_t f = x + 4;
          for (std::uint64_t* field : {&e.size, &e.packed, &e.offset}) {
            if (*field != 0xffffffff)
              continue;
            if (f + 8 > x + 4 + len)
              return *why = "broken zip64 entry", false;
            *field = le(dir, f, 8);
            f += 8;
          }
        }
        x += 4 + len;
      }
      entries->push_back(std::move(e));
      at += 46 + name_len + extra_len + comment_len;
    }
    return true;
  }

  // At most `limit` bytes of an entry's content (stored or deflated).
  std::optional<std::string> content(const Entry& e, std::size_t limit) {
    std::string local;
    if (!read(e.offset, 30, &local) || le(local, 0, 4) != 0x04034b50)
      return std::nullopt;
    const std::uint64_t data_at = e.offset + 30 + le(local, 26, 2) + le(local, 28, 2);
    std::string packed;
    if (e.method == 0) {
      return read(data_at, std::min<std::uint64_t>(e.packed, limit), &packed)
                 ? std::optional<std::string>(packed)
                 : std::nullopt;
    }
    if (e.method != 8 || !read(data_at, std::min<std::uint64_t>(e.packed, limit + 1024), &packed))
      return std::nullopt;
    std::string out(limit, '\0');
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
      return std::nullopt;
    z.next_in = reinterpret_cast<Bytef*>(packed.data());
    z.avail_in = static_cast<uInt>(packed.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&z, Z_FINISH);
    out.resize(z.total_out);
    inflateEnd(&z);
    if (status != Z_STREAM_END && status != Z_BUF_ERROR && status != Z_OK)
      return std::nullopt;
    return out;
  }

private:
  std::ifstream in_;
  std::uint64_t size_ = 0;
};

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The families of the main parts an OOXML package's content types name.
enum Family : unsigned { kText = 1, kSlides = 2, kSheet = 4, kOther = 8 };

unsigned ooxml_families(const std::string& content_types) {
  const std::string text = lower(content_types);
  unsigned found = 0;
  for (std::size_t at = 0; (at = text.find("contenttype=", at)) != std::string::npos;) {
    at += 12;
    if (at >= text.size() || (text[at] != '"' && text[at] != '\''))
      continue;
    const std::size_t close = text.find(text[at], at + 1);
    if (close == std::string::npos)
      break;
    const std::string type = text.substr(at + 1, close - at - 1);
    at = close;
    if (type.size() < 9 || type.compare(type.size() - 9, 9, ".main+xml") != 0)
      continue;
    const auto has = [&](const char* part) { return type.find(part) != std::string::npos; };
    if (has("wordprocessingml.") || has("application/vnd.ms-word."))
      found |= kText;
    else if (has("presentationml.") || has("application/vnd.ms-powerpoint."))
      found |= kSlides;
    else if (has("spreadsheetml.") || has("application/vnd.ms-excel."))
      found |= kSheet;
    else
      found |= kOther;
  }
  return found;
}

}  // namespace

std::optional<PackageRefusal> check_package(const std::string& path, const std::string& ext,
                                            std::uint64_t max_unpacked) {
  const auto refuse = [](ErrorCode code, std::string why) {
    return std::optional<PackageRefusal>(PackageRefusal{code, std::move(why)});
  };
  Zip zip(path);
  std::vector<Entry> entries;
  std::string why;
  // A zip whose directory cannot be read is a damaged document, as LibreOffice would find.
  if (!zip.directory(&entries, &why))
    return refuse(ErrorCode::convert_failed, why);
  std::uint64_t total = 0;
  for (const auto& e : entries) {
    if (e.size > max_unpacked - total)
      return refuse(ErrorCode::too_large, "unpacks to more than " + std::to_string(max_unpacked) +
                                              " bytes (" + e.name + ")");
    total += e.size;
  }
  const auto find = [&](const std::string& name) -> const Entry* {
    for (const auto& e : entries)
      if (lower(e.name) == name)
        return &e;
    return nullptr;
  };

  if (ext == "odt" || ext == "odp") {
    const Entry* mimetype = find("mimetype");
    const auto type = mimetype ? zip.content(*mimetype, 256) : std::nullopt;
    if (!type)
      return refuse(ErrorCode::unsupported, "an ODF package without its mimetype");
    const std::string expected = std::string("application/vnd.oasis.opendocument.") +
                                 (ext == "odt" ? "text" : "presentation");
    if (*type != expected && *type != expected + "-template")
      return refuse(ErrorCode::unsupported, "a package of type " + type->substr(0, 80));
    return std::nullopt;
  }
  const Entry* types = find("[content_types].xml");
  const auto content = types ? zip.content(*types, kMaxTypeEntryBytes) : std::nullopt;
  if (!content)
    return refuse(ErrorCode::unsupported, "an OOXML package without its content types");
  const unsigned families = ooxml_families(*content);
  if (families != (ext == "docx" ? kText : kSlides))
    return refuse(ErrorCode::unsupported, "main parts of another kind than ." + ext);
  return std::nullopt;
}

}  // namespace convert
