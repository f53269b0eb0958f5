// One document to PNG pages: office documents to PDF with LibreOffice headless (a profile
// folder of the job's own, so concurrent jobs never share one, set to load no linked content),
// then one PNG per page with pdftoppm, each reported as soon as it is rendered. Packages are
// checked before any tool sees them (declared unpacked size, type family). Every tool runs as
// a child process without a shell, in a sandbox (Sandbox.h) under a memory limit and the
// job's deadline, and is killed with its process group when the deadline passes or the job
// is cancelled.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "falco_wire.h"

namespace convert {

struct Limits {
  std::uint64_t max_bytes = 64ull * 1024 * 1024;  // size of an uploaded document
  std::uint32_t max_pages = 200;
  // The whole job, from the converter's start to the last page rendered.
  std::chrono::milliseconds timeout{std::chrono::minutes(3)};
  // Pages render at max_dpi unless that makes more than page_pixels pixels; then at the
  // resolution that fills the budget (an A4 page at 150 dpi is 2.2 million pixels, a 5000 pt
  // square page 108 million: it gets 29.5 dpi).
  double max_dpi = 150;  // pdftoppm's own default
  std::uint64_t page_pixels = 4ull * 1024 * 1024;
  // What an OOXML or ODF package may unpack to, as its zip directory declares it; a lesson
  // plan of 64 MiB is mostly pictures, which do not unpack to more.
  std::uint64_t max_unpacked = 256ull * 1024 * 1024;
  // Address space of pdfinfo and pdftoppm (a hostile PDF's huge page must not eat memory).
  std::uint64_t render_memory = 2ull * 1024 * 1024 * 1024;
  // Address space of LibreOffice (about 0.5 GiB for a small document; a package that unpacks
  // to more than its zip says is stopped here).
  std::uint64_t office_memory = 2ull * 1024 * 1024 * 1024;
};

struct Tools {
  std::string soffice = "soffice";
  std::string pdfinfo = "pdfinfo";
  std::string pdftoppm = "pdftoppm";
  std::string bwrap = "bwrap";
  // Every tool runs in the sandbox; where it cannot be made, every job is refused. Only the
  // operator turns it off (tav-convert --unsandboxed): then documents are converted with the
  // server's own rights and network.
  bool sandbox = true;
};

// Why the tools' sandbox cannot be made here (bubblewrap missing, no namespaces); empty when
// it works. Asked once per job; the server also says it at its start.
std::string sandbox_problem(const Tools& tools);

struct JobOutcome {
  bool ok = false;
  bool cancelled = false;  // keep_going or on_page said stop
  falco::wire::ErrorCode code = falco::wire::ErrorCode::internal;
  std::string reason;  // for logs
  std::uint32_t pages = 0;
};

// The lower-case extension of a document type the server converts (pdf, doc, docx, ppt,
// pptx, odt, odp), taken from a file name; empty when the type is not one of them.
std::string document_extension(const std::string& file_name);

// Checks the first bytes of a document against its type: nullopt when they fit, else
// unsupported (not such a file) or encrypted (a password-protected OOXML document is an
// OLE container).
std::optional<falco::wire::ErrorCode> check_content(const std::string& ext,
                                                    const std::string& head);

struct JobCallbacks {
  // Asked every few milliseconds while a tool runs; false cancels the job.
  std::function<bool()> keep_going;
  std::function<void(falco::wire::Stage)> on_stage;
  // Page index of total is at png_path (complete); false cancels the job.
  std::function<bool(std::uint32_t index, std::uint32_t total, const std::string& png_path)>
      on_page;
};

// Converts `input` (a file of type `ext`, by a name of the caller's choosing without
// special characters) using work_dir (an empty folder of this job only) for the profile,
// the PDF and the pages. The caller removes work_dir afterwards.
JobOutcome convert_document(const std::string& input, const std::string& ext,
                            const std::string& work_dir, const Limits& limits, const Tools& tools,
                            const JobCallbacks& callbacks);

// "file://" URL of an absolute path, every byte but unreserved ones and '/' percent-encoded.
std::string file_url(const std::string& absolute_path);

}  // namespace convert
