// The converter with stand-in tools (small shell scripts the test writes): what reaches
// them, and what happens when they hang, fail or are cancelled.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "TestDocuments.h"
#include "convert/Converter.h"
#include "eventually.h"

namespace fs = std::filesystem;
using falco::wire::ErrorCode;
using testsupport::eventually;

namespace {

class ConverterTest : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/convert-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string script(const std::string& name, const std::string& body) {
    const fs::path path = dir_ / name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
    return path.string();
  }
  std::string file(const std::string& name, const std::string& content) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }
  // A killed process may linger as a zombie until whoever adopted it reaps it.
  static bool alive(pid_t pid) {
    if (::kill(pid, 0) != 0)
      return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pid_text, name, state;
    stat >> pid_text >> name >> state;
    return state != "Z";
  }

  fs::path dir_;
};

const std::string kZipHead("PK\x03\x04 rest of a docx", 20);
const std::string kDocx = testdocs::make_docx();
const std::string kOleHead("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1 ole", 12);

}  // namespace

TEST_F(ConverterTest, DocumentTypesAreJudgedByNameAndContent) {
  EXPECT_EQ(convert::document_extension("/x/教案 一.DOCX"), "docx");
  EXPECT_EQ(convert::document_extension("slides.tar.pptx"), "pptx");
  EXPECT_EQ(convert::document_extension("notes.txt"), "");
  EXPECT_EQ(convert::document_extension(".pdf"), "");
  EXPECT_EQ(convert::document_extension("dir.pdf/file"), "");

  EXPECT_FALSE(convert::check_content("docx", kZipHead));
  EXPECT_FALSE(convert::check_content("ppt", kOleHead));
  EXPECT_FALSE(convert::check_content("pdf", "junk\n%PDF-1.7"));
  EXPECT_EQ(convert::check_content("pdf", "not a pdf"), ErrorCode::unsupported);
  EXPECT_EQ(convert::check_content("doc", kZipHead), ErrorCode::unsupported);
  // Random bytes named .pptx would otherwise be imported as text and "converted".
  EXPECT_EQ(convert::check_content("pptx", "\x13\x37 random"), ErrorCode::unsupported);
  // Password-protected OOXML comes in an OLE container.
  EXPECT_EQ(convert::check_content("docx", kOleHead), ErrorCode::encrypted);

  EXPECT_EQ(convert::file_url("/data/教 a%b"), "file:///data/%E6%95%99%20a%25b");
}

TEST_F(ConverterTest, ArgumentsReachTheToolUntouchedByAnyShell) {
  const std::string args_file = (dir_ / "args").string();
  const std::string tool =
      script("echo-args", "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + args_file + "'");
  const std::string tricky = "教案 $(touch pwned); `touch pwned2` & 'q' \"d\" *";
  const auto result = convert::run_child(
      {tool, tricky, "--x"}, {}, std::chrono::steady_clock::now() + std::chrono::minutes(1), {});
  ASSERT_TRUE(result.ok());
  std::ifstream in(args_file);
  std::string first, second;
  std::getline(in, first);
  std::getline(in, second);
  EXPECT_EQ(first, tricky);
  EXPECT_EQ(second, "--x");
  EXPECT_FALSE(fs::exists(dir_ / "pwned"));
  EXPECT_FALSE(fs::exists("pwned"));

  const auto missing =
      convert::run_child({(dir_ / "no-such-tool").string()}, {},
                         std::chrono::steady_clock::now() + std::chrono::minutes(1), {});
  EXPECT_EQ(missing.how, convert::ChildResult::spawn_failed);
}

TEST_F(ConverterTest, DeadlineAndCancelKillTheWholeProcessGroup) {
  // The tool leaves a helper running, as LibreOffice's launcher does.
  const std::string pid_file = (dir_ / "helper.pid").string();
  const std::string tool = script("hang", "sleep 1000 & echo $! > '" + pid_file + "'.tmp; mv '" +
                                              pid_file + "'.tmp '" + pid_file + "'; wait");
  const auto helper_pid = [&] {
    pid_t pid = 0;
    std::ifstream(pid_file) >> pid;
    return pid;
  };
  const auto timed_out = convert::run_child(
      {tool}, {}, std::chrono::steady_clock::now() + std::chrono::milliseconds(300),
      [&] { return true; });
  EXPECT_EQ(timed_out.how, convert::ChildResult::timed_out);
  ASSERT_GT(helper_pid(), 0) << "the tool never started its helper";
  EXPECT_TRUE(eventually([&] { return !alive(helper_pid()); }));

  fs::remove(pid_file);
  // Cancelled as soon as the helper runs: the job's client went away.
  const auto cancelled =
      convert::run_child({tool}, {}, std::chrono::steady_clock::now() + std::chrono::minutes(5),
                         [&] { return !fs::exists(pid_file); });
  EXPECT_EQ(cancelled.how, convert::ChildResult::cancelled);
  ASSERT_GT(helper_pid(), 0);
  EXPECT_TRUE(eventually([&] { return !alive(helper_pid()); }));
}

TEST_F(ConverterTest, HungConverterTimesOutAndFailuresAreReported) {
  const std::string input = file("input.docx", kDocx);
  convert::Limits limits;
  limits.timeout = std::chrono::milliseconds(300);
  convert::Tools tools;
  tools.soffice = script("soffice", "sleep 1000");
  int pages = 0;
  convert::JobCallbacks callbacks;
  callbacks.on_page = [&](uint32_t, uint32_t, const std::string&) { return ++pages, true; };
  auto outcome =
      convert::convert_document(input, "docx", (dir_ / "job1").string(), limits, tools, callbacks);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.code, ErrorCode::timed_out);

  // LibreOffice exits 0 even when it cannot load a document; no PDF means failure.
  limits.timeout = std::chrono::minutes(1);
  tools.soffice = script("soffice-quiet", "exit 0");
  outcome =
      convert::convert_document(input, "docx", (dir_ / "job2").string(), limits, tools, callbacks);
  EXPECT_EQ(outcome.code, ErrorCode::convert_failed);

  // Content that does not fit the name never reaches a tool (which would note it in its
  // working folder, the job's).
  tools.soffice = script("soffice-must-not-run", "touch ran");
  outcome = convert::convert_document(file("x.pptx", "plain text"), "pptx",
                                      (dir_ / "job3").string(), limits, tools, callbacks);
  EXPECT_EQ(outcome.code, ErrorCode::unsupported);
  outcome = convert::convert_document(file("y.docx", kOleHead), "docx", (dir_ / "job4").string(),
                                      limits, tools, callbacks);
  EXPECT_EQ(outcome.code, ErrorCode::encrypted);
  EXPECT_FALSE(fs::exists(dir_ / "job3" / "ran"));
  EXPECT_FALSE(fs::exists(dir_ / "job4" / "ran"));
  EXPECT_EQ(pages, 0);
}

TEST_F(ConverterTest, PageLimitAndPasswordAreReadFromPdfinfo) {
  const std::string pdf = file("input.pdf", "%PDF-1.4 stand-in");
  convert::Limits limits;
  limits.max_pages = 3;
  convert::Tools tools;
  tools.pdfinfo = script("pdfinfo-many", "echo 'Title: x'; echo 'Pages:          4'");
  tools.pdftoppm = script("pdftoppm-must-not-run", "exit 1");
  auto outcome = convert::convert_document(pdf, "pdf", (dir_ / "job1").string(), limits, tools, {});
  EXPECT_EQ(outcome.code, ErrorCode::too_many_pages);

  tools.pdfinfo =
      script("pdfinfo-locked", "echo 'Command Line Error: Incorrect password' >&2; exit 1");
  outcome = convert::convert_document(pdf, "pdf", (dir_ / "job2").string(), limits, tools, {});
  EXPECT_EQ(outcome.code, ErrorCode::encrypted);

  // Pages come one by one, each complete when reported; a page that is not made fails.
  tools.pdfinfo = script("pdfinfo-two",
                         "echo 'Pages: 2'; echo 'Page    1 size: 612 x 792 pts';"
                         "echo 'Page    2 size: 612 x 792 pts'");
  tools.pdftoppm = script("pdftoppm-one",
                          "for last; do :; done\n"
                          "case \"$last\" in */2) exit 0;; esac\n"
                          "printf png > \"$last.png\"");
  std::vector<uint32_t> seen;
  convert::JobCallbacks callbacks;
  callbacks.on_page = [&](uint32_t index, uint32_t total, const std::string& png) {
    EXPECT_EQ(total, 2u);
    std::ifstream in(png);
    std::string content;
    in >> content;
    EXPECT_EQ(content, "png");
    seen.push_back(index);
    return true;
  };
  outcome =
      convert::convert_document(pdf, "pdf", (dir_ / "job3").string(), limits, tools, callbacks);
  EXPECT_EQ(outcome.code, ErrorCode::convert_failed);
  EXPECT_EQ(seen, std::vector<uint32_t>{1});
}

TEST_F(ConverterTest, PackagesAreJudgedByWhatTheyHoldBeforeAnyToolRuns) {
  const std::string odt_type = "application/vnd.oasis.opendocument.text";
  const std::string word =
      "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml";
  const std::string slides =
      "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml";
  const std::string sheet =
      "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
  const auto ooxml = [](const std::string& part, const std::string& type, std::string body) {
    return testdocs::make_zip(
        {{"[Content_Types].xml", testdocs::content_types(part, type)}, {part, std::move(body)}});
  };
  // 4 MiB of upload that unpacks to 300 MiB.
  std::string huge(300u << 20, ' ');
  const std::string bomb = ooxml("word/document.xml", word, huge);
  huge = std::string();
  ASSERT_LT(bomb.size(), 4u << 20);

  // The stand-in notes that it ran in its working folder, the job's.
  convert::Tools tools;
  tools.soffice = script("soffice", "touch ran");
  int job = 0;
  const auto run = [&](const std::string& bytes, const std::string& ext, bool* ran) {
    const fs::path work = dir_ / ("job" + std::to_string(++job));
    const auto outcome =
        convert::convert_document(file("in." + ext, bytes), ext, work.string(), {}, tools, {});
    *ran = fs::exists(work / "ran");
    return outcome;
  };
  const struct {
    const char* what;
    std::string bytes;
    std::string ext;
    ErrorCode code;
  } cases[] = {
      {"a zip bomb", bomb, "docx", ErrorCode::too_large},
      {"a spreadsheet named .odt",
       testdocs::make_odf("application/vnd.oasis.opendocument.spreadsheet", "<x/>"), "odt",
       ErrorCode::unsupported},
      {"an ODF package without its type", testdocs::make_zip({{"content.xml", "<x/>"}}), "odp",
       ErrorCode::unsupported},
      {"a presentation named .docx", ooxml("ppt/presentation.xml", slides, "<x/>"), "docx",
       ErrorCode::unsupported},
      {"a workbook named .pptx", ooxml("xl/workbook.xml", sheet, "<x/>"), "pptx",
       ErrorCode::unsupported},
      {"a zip of anything named .docx", testdocs::make_zip({{"a.txt", "text"}}), "docx",
       ErrorCode::unsupported},
      {"a cut zip", bomb.substr(0, 1000), "docx", ErrorCode::convert_failed},
  };
  for (const auto& c : cases) {
    bool ran = false;
    const auto outcome = run(c.bytes, c.ext, &ran);
    EXPECT_EQ(outcome.code, c.code) << c.what << ": " << outcome.reason;
    EXPECT_FALSE(ran) << c.what << " reached LibreOffice";
  }

  // What the names promise reaches LibreOffice (the stand-in makes no PDF).
  const struct {
    std::string bytes, ext;
  } fine[] = {
      {testdocs::make_odf(odt_type, "<x/>"), "odt"},
      {testdocs::make_odf("application/vnd.oasis.opendocument.presentation", "<x/>"), "odp"},
      {ooxml("word/document.xml", word, "<x/>"), "docx"},
      {ooxml("ppt/presentation.xml", slides, "<x/>"), "pptx"},
  };
  for (const auto& f : fine) {
    bool ran = false;
    const auto outcome = run(f.bytes, f.ext, &ran);
    EXPECT_EQ(outcome.code, ErrorCode::convert_failed) << f.ext << ": " << outcome.reason;
    EXPECT_TRUE(ran) << f.ext;
  }
}

TEST_F(ConverterTest, LibreOfficeRunsUnderAMemoryLimit) {
  // The stand-in notes its address-space limit (in KiB) in its working folder, the job's.
  convert::Tools tools;
  tools.soffice = script("soffice", "ulimit -v > soffice-limit");
  const fs::path job = dir_ / "job";
  convert::convert_document(file("in.docx", kDocx), "docx", job.string(), {}, tools, {});
  std::string limit;
  std::ifstream(job / "soffice-limit") >> limit;
  ASSERT_FALSE(limit.empty()) << "the stand-in did not run";
  ASSERT_NE(limit, "unlimited");
  EXPECT_LE(std::stoull(limit) * 1024, 2ull << 30);
}

TEST_F(ConverterTest, WithoutItsSandboxNothingConvertsUnlessTheOperatorSaysSo) {
  convert::Tools tools;
  tools.soffice = script("soffice", "touch ran");
  tools.bwrap = (dir_ / "no-bwrap").string();
  auto outcome = convert::convert_document(file("in.docx", kDocx), "docx", (dir_ / "job1").string(),
                                           {}, tools, {});
  EXPECT_EQ(outcome.code, ErrorCode::internal);
  EXPECT_NE(outcome.reason.find("sandbox"), std::string::npos) << outcome.reason;
  EXPECT_FALSE(fs::exists(dir_ / "job1" / "ran"));
  EXPECT_NE(convert::sandbox_problem(tools), "");

  tools.sandbox = false;  // tav-convert --unsandboxed
  outcome = convert::convert_document(file("in.docx", kDocx), "docx", (dir_ / "job2").string(), {},
                                      tools, {});
  EXPECT_EQ(outcome.code, ErrorCode::convert_failed) << outcome.reason;
  EXPECT_TRUE(fs::exists(dir_ / "job2" / "ran"));
}
