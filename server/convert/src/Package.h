// What an uploaded office package (a zip: OOXML or ODF) holds, read from its central
// directory before LibreOffice sees it: how much it declares to unpack to, and whether the
// type it names inside is of the family its file name says. Nothing in the file is trusted:
// every offset and length is checked against the file before it is read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "falco_wire.h"

namespace convert {

struct PackageRefusal {
  falco::wire::ErrorCode code;
  std::string reason;  // for logs
};

// For docx, pptx, odt and odp: nullopt when the package at `path` declares at most
// `max_unpacked` bytes in all and is a document of the extension's family (a word-processing
// text for docx/odt, a presentation for pptx/odp); too_large or unsupported otherwise, and
// convert_failed for a zip too damaged to read.
std::optional<PackageRefusal> check_package(const std::string& path, const std::string& ext,
                                            std::uint64_t max_unpacked);

}  // namespace convert
