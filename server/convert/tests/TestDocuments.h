// Documents the conversion tests make byte by byte: zip packages (ODF and OOXML, stored or
// deflated entries), PDFs with pages of any size, and a reader for the RGB PNGs pdftoppm
// makes, so a test can look at what a rendered page shows.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace testdocs {

inline void put16(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v & 0xff));
  out.push_back(static_cast<char>((v >> 8) & 0xff));
}
inline void put32(std::string& out, uint32_t v) {
  put16(out, v & 0xffff);
  put16(out, v >> 16);
}

struct ZipEntry {
  std::string name;
  std::string data;
  bool deflate = true;
};

// A zip as office suites write them (no zip64: every entry below 4 GiB).
inline std::string make_zip(const std::vector<ZipEntry>& entries) {
  std::string out, directory;
  for (const auto& e : entries) {
    std::string stored = e.data;
    if (e.deflate) {
      z_stream z{};
      deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
      stored.assign(deflateBound(&z, e.data.size()), '\0');
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(e.data.data()));
      z.avail_in = static_cast<uInt>(e.data.size());
      z.next_out = reinterpret_cast<Bytef*>(stored.data());
      z.avail_out = static_cast<uInt>(stored.size());
      deflate(&z, Z_FINISH);
      stored.resize(z.total_out);
      deflateEnd(&z);
    }
    const uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
    const uint32_t offset = static_cast<uint32_t>(out.size());
    const auto common = [&](std::string& h) {
      put16(h, 20);  // version needed
      put16(h, 0);   // flags
      put16(h, e.deflate ? 8 : 0);
      put32(h, 0);  // time, date
      put32(h, crc);
      put32(h, static_cast<uint32_t>(stored.size()));
      put32(h, static_cast<uint32_t>(e.data.size()));
      put16(h, static_cast<uint32_t>(e.name.size()));
      put16(h, 0);  // extra
    };
    put32(out, 0x04034b50);
    common(out);
    out += e.name;
    out += stored;
    put32(directory, 0x02014b50);
    put16(directory, 20);  // made by
    common(directory);
    put16(directory, 0);  // comment
    put16(directory, 0);  // disk
    put16(directory, 0);  // internal attributes
    put32(directory, 0);  // external attributes
    put32(directory, offset);
    directory += e.name;
  }
  const uint32_t directory_at = static_cast<uint32_t>(out.size());
  out += directory;
  put32(out, 0x06054b50);
  put32(out, 0);  // disks
  put16(out, static_cast<uint32_t>(entries.size()));
  put16(out, static_cast<uint32_t>(entries.size()));
  put32(out, static_cast<uint32_t>(directory.size()));
  put32(out, directory_at);
  put16(out, 0);
  return out;
}

// An ODF package of the given media type with `content` as its content.xml.
inline std::string make_odf(const std::string& mimetype, const std::string& content) {
  const std::string manifest =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\" "
      "manifest:version=\"1.2\"><manifest:file-entry manifest:full-path=\"/\" "
      "manifest:media-type=\"" +
      mimetype +
      "\"/><manifest:file-entry manifest:full-path=\"content.xml\" "
      "manifest:media-type=\"text/xml\"/></manifest:manifest>";
  return make_zip({{"mimetype", mimetype, false},
                   {"content.xml", content},
                   {"META-INF/manifest.xml", manifest}});
}

// The [Content_Types].xml of an OOXML package whose main part has `main_type`.
inline std::string content_types(const std::string& part, const std::string& main_type) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" "
         "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
         "<Override PartName=\"/" +
         part + "\" ContentType=\"" + main_type + "\"/></Types>";
}

// The smallest package that passes for a .docx (LibreOffice would find it empty).
inline std::string make_docx() {
  return make_zip(
      {{"[Content_Types].xml",
        content_types(
            "word/document.xml",
            "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml")},
       {"word/document.xml", "<w:document/>"}});
}

// A PDF whose pages have the given sizes in points, each a blue square in its corner.
inline std::string make_pdf(const std::vector<std::pair<double, double>>& pages) {
  std::vector<std::string> objects;
  objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  std::string kids;
  for (size_t i = 0; i < pages.size(); ++i)
    kids += std::to_string(4 + i) + " 0 R ";
  objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) +
                    " >>");
  const std::string content = "0 0 1 rg 0 0 100 100 re f";
  objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
                    "\nendstream");
  for (const auto& [w, h] : pages)
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(w) + " " +
                      std::to_string(h) + "] /Contents 3 0 R >>");
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

// A PNG of one colour (8-bit RGB).
inline std::string make_png(uint32_t width, uint32_t height, uint8_t r, uint8_t g, uint8_t b) {
  std::string raw;
  for (uint32_t y = 0; y < height; ++y) {
    raw.push_back('\0');
    for (uint32_t x = 0; x < width; ++x)
      raw += {static_cast<char>(r), static_cast<char>(g), static_cast<char>(b)};
  }
  uLongf packed_size = compressBound(raw.size());
  std::string packed(packed_size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &packed_size,
           reinterpret_cast<const Bytef*>(raw.data()), raw.size());
  packed.resize(packed_size);
  const auto be32 = [](std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
      out.push_back(static_cast<char>((v >> shift) & 0xff));
  };
  const auto chunk = [&](std::string& out, const char* type, const std::string& data) {
    be32(out, static_cast<uint32_t>(data.size()));
    const std::string body = type + data;
    out += body;
    be32(out,
         static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
  };
  std::string header;
  be32(header, width);
  be32(header, height);
  header += {8, 2, 0, 0, 0};
  std::string png("\x89PNG\r\n\x1a\n", 8);
  chunk(png, "IHDR", header);
  chunk(png, "IDAT", packed);
  chunk(png, "IEND", "");
  return png;
}

// An 8-bit RGB or grey non-interlaced PNG (what pdftoppm -png writes), as RGB rows.
struct Picture {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;  // width * height * 3
  bool has(uint8_t r, uint8_t g, uint8_t b, int tolerance = 40) const {
    for (size_t i = 0; i + 2 < rgb.size(); i += 3)
      if (std::abs(rgb[i] - r) <= tolerance && std::abs(rgb[i + 1] - g) <= tolerance &&
          std::abs(rgb[i + 2] - b) <= tolerance)
        return true;
    return false;
  }
};

inline bool read_png(const std::string& png, Picture* picture) {
  const auto be32 = [&](size_t at) {
    return (uint32_t(uint8_t(png[at])) << 24) | (uint32_t(uint8_t(png[at + 1])) << 16) |
           (uint32_t(uint8_t(png[at + 2])) << 8) | uint32_t(uint8_t(png[at + 3]));
  };
  if (png.size() < 33 || png.compare(0, 8, std::string("\x89PNG\r\n\x1a\n", 8)) != 0)
    return false;
  std::string packed;
  uint8_t depth = 0, colour = 0;
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t length = be32(at);
    if (length > png.size() - at - 12)
      return false;
    const std::string type = png.substr(at + 4, 4);
    if (type == "IHDR") {
      picture->width = be32(at + 8);
      picture->height = be32(at + 12);
      depth = static_cast<uint8_t>(png[at + 16]);
      colour = static_cast<uint8_t>(png[at + 17]);
    } else if (type == "IDAT") {
      packed += png.substr(at + 8, length);
    }
    at += 12 + length;
  }
  const size_t channels = colour == 2 ? 3 : colour == 0 ? 1 : 0;
  if (depth != 8 || channels == 0)
    return false;
  const size_t stride = picture->width * channels;
  std::vector<uint8_t> raw((stride + 1) * picture->height);
  uLongf raw_size = raw.size();
  if (uncompress(raw.data(), &raw_size, reinterpret_cast<const Bytef*>(packed.data()),
                 packed.size()) != Z_OK ||
      raw_size != raw.size())
    return false;
  std::vector<uint8_t> rows(stride * picture->height), previous(stride, 0);
  for (uint32_t y = 0; y < picture->height; ++y) {
    const uint8_t filter = raw[y * (stride + 1)];
    const uint8_t* in = &raw[y * (stride + 1) + 1];
    uint8_t* row = &rows[y * stride];
    for (size_t x = 0; x < stride; ++x) {
      const int a = x >= channels ? row[x - channels] : 0, b = previous[x],
                c = x >= channels ? previous[x - channels] : 0;
      int predicted = 0;
      switch (filter) {
        case 1:
          predicted = a;
          break;
        case 2:
          predicted = b;
          break;
        case 3:
          predicted = (a + b) / 2;
          break;
        case 4: {
          const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
          predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
          break;
        }
        default:
          break;
      }
      row[x] = static_cast<uint8_t>(in[x] + predicted);
    }
    std::copy(row, row + stride, previous.begin());
  }
  picture->rgb.clear();
  for (size_t i = 0; i < rows.size(); i += channels)
    for (int k = 0; k < 3; ++k)
      picture->rgb.push_back(rows[i + (channels == 3 ? static_cast<size_t>(k) : 0)]);
  return true;
}

}  // namespace testdocs
