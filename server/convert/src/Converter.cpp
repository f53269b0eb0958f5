#include "convert/Converter.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "ChildProcess.h"
#include "Package.h"
#include "Sandbox.h"

namespace convert {

namespace fs = std::filesystem;
using falco::wire::ErrorCode;
using falco::wire::Stage;

namespace {

std::string read_text(const std::string& path, size_t limit = 64 * 1024) {
  std::ifstream in(path, std::ios::binary);
  std::string text(limit, '\0');
  in.read(text.data(), static_cast<std::streamsize>(limit));
  text.resize(static_cast<size_t>(in.gcount()));
  return text;
}

JobOutcome failure(ErrorCode code, std::string reason) {
  JobOutcome outcome;
  outcome.code = code;
  outcome.reason = std::move(reason);
  return outcome;
}

JobOutcome cancelled() {
  JobOutcome outcome = failure(ErrorCode::internal, "cancelled");
  outcome.cancelled = true;
  return outcome;
}

// The outcome of a tool run that did not end well, or nullopt-like ok=true marker.
bool child_failed(const ChildResult& r, const char* tool, JobOutcome* out) {
  switch (r.how) {
    case ChildResult::exited:
      if (r.status == 0)
        return false;
      *out = failure(ErrorCode::convert_failed,
                     std::string(tool) + " exited with " + std::to_string(r.status));
      return true;
    case ChildResult::signalled:
      *out = failure(ErrorCode::convert_failed,
                     std::string(tool) + " died of signal " + std::to_string(r.status));
      return true;
    case ChildResult::timed_out:
      *out = failure(ErrorCode::timed_out, std::string(tool) + " ran past the time limit");
      return true;
    case ChildResult::cancelled:
      *out = cancelled();
      return true;
    case ChildResult::spawn_failed:
      *out = failure(ErrorCode::internal,
                     std::string("cannot start ") + tool + ": errno " + std::to_string(r.status));
      return true;
  }
  return true;
}

// "Pages:" of pdfinfo's output; 0 when missing.
std::uint32_t pdfinfo_pages(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("Pages:", 0) != 0)
      continue;
    const std::string digits = line.substr(6);
    unsigned long long pages = 0;
    bool any = false;
    for (char c : digits) {
      if (c == ' ' || c == '\t')
        continue;
      if (c < '0' || c > '9')
        return 0;
      any = true;
      pages = pages * 10 + static_cast<unsigned>(c - '0');
      if (pages > 0xffffffffull)
        return 0;
    }
    return any ? static_cast<std::uint32_t>(pages) : 0;
  }
  return 0;
}

// "Page N size: W x H pts" lines of pdfinfo -f 1 -l L: sizes[N - 1] = {W, H}; pages without
// such a line stay {0, 0}.
std::vector<std::pair<double, double>> pdfinfo_sizes(const std::string& text, std::uint32_t pages) {
  std::vector<std::pair<double, double>> sizes(pages, {0.0, 0.0});
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    unsigned page = 0;
    double w = 0, h = 0;
    if (std::sscanf(line.c_str(), "Page %u size: %lf x %lf pts", &page, &w, &h) == 3 && page >= 1 &&
        page <= pages && std::isfinite(w) && std::isfinite(h) && w > 0 && h > 0)
      sizes[page - 1] = {w, h};
  }
  return sizes;
}

// The resolution a page of w x h points renders at: max_dpi, or less so that it makes at
// most page_pixels pixels (counted as pdftoppm may round, up).
double page_dpi(double w, double h, const Limits& limits) {
  const double budget = static_cast<double>(limits.page_pixels);
  const auto pixels = [&](double dpi) {
    return std::ceil(w * dpi / 72.0) * std::ceil(h * dpi / 72.0);
  };
  double dpi = limits.max_dpi;
  if (pixels(dpi) <= budget)
    return dpi;
  dpi = std::floor(72.0 * std::sqrt(budget / (w * h)) * 1000.0) / 1000.0;
  while (dpi > 0.001 && pixels(dpi) > budget)
    dpi = std::floor(dpi * 995.0) / 1000.0;
  return dpi;
}

std::string dpi_text(double dpi) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", dpi);
  std::string t = text;
  while (t.back() == '0')
    t.pop_back();
  if (t.back() == '.')
    t.pop_back();
  return t;
}

// LibreOffice's own settings in the job's profile: linked pictures and other content of
// documents from untrusted places are not loaded (with the sandbox, a second wall), links
// in texts and sheets are never updated, and no macro runs.
bool write_profile_settings(const fs::path& profile) {
  std::error_code ec;
  fs::create_directories(profile / "user", ec);
  std::ofstream out(profile / "user" / "registrymodifications.xcu");
  const auto item = [&](const char* path, const char* name, const char* value) {
    out << "<item oor:path=\"" << path << "\"><prop oor:name=\"" << name
        << "\" oor:op=\"fuse\"><value>" << value << "</value></prop></item>\n";
  };
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
         "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
  item("/org.openoffice.Office.Common/Security/Scripting", "BlockUntrustedRefererLinks", "true");
  item("/org.openoffice.Office.Common/Security/Scripting", "DisableMacrosExecution", "true");
  item("/org.openoffice.Office.Common/Security/Scripting", "MacroSecurityLevel", "3");
  item("/org.openoffice.Office.Writer/Content/Update", "Link", "0");  // never
  item("/org.openoffice.Office.Calc/Content/Update", "Link", "1");    // never
  out << "</oor:items>\n";
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

std::string document_extension(const std::string& file_name) {
  const auto slash = file_name.find_last_of("/\\");
  const std::string base = slash == std::string::npos ? file_name : file_name.substr(slash + 1);
  const auto dot = base.rfind('.');
  if (dot == std::string::npos || dot == 0)
    return {};
  std::string ext = base.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  static const char* const known[] = {"pdf", "doc", "docx", "ppt", "pptx", "odt", "odp"};
  for (const char* k : known)
    if (ext == k)
      return ext;
  return {};
}

std::optional<ErrorCode> check_content(const std::string& ext, const std::string& head) {
  static const std::string kZip("PK\x03\x04", 4);
  static const std::string kOle("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  const auto starts = [&](const std::string& magic) { return head.rfind(magic, 0) == 0; };
  if (ext == "pdf")  // readers accept the header anywhere in the first KiB
    return head.substr(0, 1024).find("%PDF-") != std::string::npos
               ? std::nullopt
               : std::optional<ErrorCode>(ErrorCode::unsupported);
  if (ext == "doc" || ext == "ppt")
    return starts(kOle) ? std::nullopt : std::optional<ErrorCode>(ErrorCode::unsupported);
  if (starts(kZip))
    return std::nullopt;
  // A password-protected .docx/.pptx is an encrypted package inside an OLE container.
  if (starts(kOle) && (ext == "docx" || ext == "pptx"))
    return ErrorCode::encrypted;
  return ErrorCode::unsupported;
}

std::string file_url(const std::string& absolute_path) {
  static const char* const hex = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : absolute_path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      url.push_back(static_cast<char>(c));
    } else {
      url.push_back('%');
      url.push_back(hex[c >> 4]);
      url.push_back(hex[c & 15]);
    }
  }
  return url;
}

JobOutcome convert_document(const std::string& input, const std::string& ext,
                            const std::string& work_dir, const Limits& limits, const Tools& tools,
                            const JobCallbacks& callbacks) {
  const auto deadline = std::chrono::steady_clock::now() + limits.timeout;
  const auto stage = [&](Stage s) {
    if (callbacks.on_stage)
      callbacks.on_stage(s);
  };
  std::error_code ec;
  const fs::path work = fs::absolute(work_dir, ec);
  const fs::path pdf_dir = work / "pdf", pages_dir = work / "pages";
  fs::create_directories(pdf_dir, ec);
  fs::create_directories(pages_dir, ec);
  if (ec)
    return failure(ErrorCode::internal, "cannot make the job's folders: " + ec.message());

  {
    const auto content = check_content(ext, read_text(input, 1024));
    if (content)
      return failure(*content, "content is not a ." + ext + " document");
  }
  if (ext == "docx" || ext == "pptx" || ext == "odt" || ext == "odp") {
    const auto refusal = check_package(input, ext, limits.max_unpacked);
    if (refusal)
      return failure(refusal->code, refusal->reason);
  }
  if (tools.sandbox) {
    const std::string problem = sandbox_problem(tools);
    if (!problem.empty())
      return failure(ErrorCode::internal,
                     "documents are not converted without a sandbox: " + problem);
  }
  for (const std::string* tool : {&tools.soffice, &tools.pdfinfo, &tools.pdftoppm})
    if ((ext != "pdf" || tool != &tools.soffice) && find_executable(*tool).empty())
      return failure(ErrorCode::internal, "cannot start " + *tool + ": not installed");
  // A tool's argv as it runs: in the sandbox, or as it is when the operator turned it off.
  const auto command = [&](const std::string& tool, const std::vector<std::string>& args) {
    if (!tools.sandbox) {
      std::vector<std::string> argv{tool};
      argv.insert(argv.end(), args.begin(), args.end());
      return argv;
    }
    // A document kept outside the job's folder (a caller's own) is there read-only.
    const fs::path doc = fs::absolute(input, ec).lexically_normal();
    const bool inside = doc.parent_path() == work.lexically_normal();
    return sandboxed(tools.bwrap, find_executable(tool), args, work.string(),
                     inside ? std::string() : doc.string());
  };

  JobOutcome bad;
  std::string pdf = input;
  if (ext != "pdf") {
    stage(Stage::converting);
    const fs::path profile = work / "profile";
    if (!write_profile_settings(profile))
      return failure(ErrorCode::internal, "cannot write the LibreOffice profile");
    ChildOptions options;
    options.log_path = (work / "soffice.log").string();
    options.work_dir = work.string();
    options.address_space = limits.office_memory;
    const auto argv =
        command(tools.soffice,
                {"-env:UserInstallation=" + file_url(profile.string()), "--headless", "--norestore",
                 "--nolockcheck", "--convert-to", "pdf", "--outdir", pdf_dir.string(), input});
    if (child_failed(run_child(argv, options, deadline, callbacks.keep_going), "soffice", &bad))
      return bad;
    // LibreOffice says nothing through its exit status: a document it cannot load
    // simply leaves no PDF.
    pdf = (pdf_dir / (fs::path(input).stem().string() + ".pdf")).string();
    if (!fs::is_regular_file(pdf, ec) || fs::file_size(pdf, ec) == 0)
      return failure(ErrorCode::convert_failed, "LibreOffice made no PDF");
  }

  stage(Stage::rendering);
  ChildOptions render;
  render.address_space = limits.render_memory;
  render.work_dir = work.string();
  render.log_path = (work / "pdfinfo.log").string();
  const ChildResult info =
      run_child(command(tools.pdfinfo, {"-f", "1", "-l", std::to_string(limits.max_pages), pdf}),
                render, deadline, callbacks.keep_going);
  const std::string info_text = read_text(render.log_path);
  if (info.how == ChildResult::exited && info.status != 0 &&
      info_text.find("Incorrect password") != std::string::npos)
    return failure(ErrorCode::encrypted, "the PDF needs a password");
  if (child_failed(info, "pdfinfo", &bad))
    return bad;
  const std::uint32_t total = pdfinfo_pages(info_text);
  if (total == 0)
    return failure(ErrorCode::convert_failed, "the PDF has no pages");
  if (total > limits.max_pages)
    return failure(ErrorCode::too_many_pages, std::to_string(total) + " pages, the limit is " +
                                                  std::to_string(limits.max_pages));
  const auto sizes = pdfinfo_sizes(info_text, total);

  render.log_path = (work / "pdftoppm.log").string();
  for (std::uint32_t page = 1; page <= total; ++page) {
    const std::string n = std::to_string(page);
    const auto [w, h] = sizes[page - 1];
    if (w <= 0 || h <= 0)
      return failure(ErrorCode::convert_failed, "page " + n + " has no size");
    const fs::path prefix = pages_dir / n;
    // The crop box is what pdfinfo measured, and what a reader shows of the page.
    const auto argv =
        command(tools.pdftoppm, {"-png", "-cropbox", "-r", dpi_text(page_dpi(w, h, limits)), "-f",
                                 n, "-l", n, "-singlefile", pdf, prefix.string()});
    if (child_failed(run_child(argv, render, deadline, callbacks.keep_going), "pdftoppm", &bad))
      return bad;
    const std::string png = prefix.string() + ".png";
    if (!fs::is_regular_file(png, ec))
      return failure(ErrorCode::convert_failed, "pdftoppm made no page " + n);
    if (fs::file_size(png, ec) > falco::wire::kMaxPngBytes)
      return failure(ErrorCode::too_large, "page " + n + " renders too large");
    if (callbacks.on_page && !callbacks.on_page(page, total, png))
      return cancelled();
    fs::remove(png, ec);
  }
  JobOutcome done;
  done.ok = true;
  done.pages = total;
  return done;
}

}  // namespace convert
