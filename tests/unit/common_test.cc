// Common services: trace file, buffers and the out-of-memory exit, configuration
// reader, installation paths, registry stand-in, and the shipped error text file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/config.h"
#include "common/memory.h"
#include "common/paths.h"
#include "common/trace.h"
#include "platform/registry.h"

namespace {

using namespace qlm;

std::vector<std::string> &TempDirs() {
  static std::vector<std::string> dirs;
  return dirs;
}

// Removes the temporary directories when the test program ends normally
// (not in the children of death tests).
class RemoveTempDirs : public ::testing::Environment {
 public:
  void TearDown() override {
    std::error_code ec;
    for (const std::string &d : TempDirs()) std::filesystem::remove_all(d, ec);
  }
};
[[maybe_unused]] ::testing::Environment *const kRemoveTempDirs =
    ::testing::AddGlobalTestEnvironment(new RemoveTempDirs);

// A new directory such as /tmp/qlmAbC123 (short enough to be a root directory).
std::string TempDir() {
  char tmpl[] = "/tmp/qlmXXXXXX";
  const char *dir = mkdtemp(tmpl);
  EXPECT_NE(dir, nullptr);
  if (dir == nullptr) return "/tmp";
  TempDirs().push_back(dir);
  return dir;
}

void WriteFile(const std::string &path, const std::string &content) {
  std::ofstream(path, std::ios::binary) << content;
}

bool Exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> ReadLines(const std::string &path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

std::string ReadAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The root comes from QLM_ROOTDIR only (never from a registry file of the machine).
void UseRoot(const std::string &root) {
  setenv("QLM_ROOTDIR", root.c_str(), 1);
  setenv("QLM_REGISTRY_FILE", "/nonexistent/qlm/RootDir", 1);
}
void UseNoRoot() {
  unsetenv("QLM_ROOTDIR");
  setenv("QLM_REGISTRY_FILE", "/nonexistent/qlm/RootDir", 1);
}

// A temporary root with its bin directory; returns the root without a final "/".
std::string RootWithBin() {
  std::string root = TempDir();
  mkdir((root + "/bin").c_str(), 0700);
  UseRoot(root);
  return root;
}

std::string Indent(int depth) { return depth > 0 ? std::string(3 * depth, ' ') : ""; }

const std::regex kStartLine(
    R"(Quillmar Version: 19990331060100 started - \w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4})");

// ---------------------------------------------------------------- Trace

TEST(Trace, FirstLineCreatesFileInBinDirWithStartLine) {
  std::string root = RootWithBin();
  std::string trc = root + "/bin/qlmc32.trc";

  int d = TraceDepth();
  QLM_TRACE("cscomonx", "not written");  // tracing is off: nothing, no file
  QLM_TRACE_ENTRY("cscomonx", "Nothing");
  EXPECT_FALSE(TraceOn());
  EXPECT_FALSE(Exists(trc));
  EXPECT_EQ(TraceDepth(), d);

  SetTrace(1);
  EXPECT_TRUE(TraceOn());
  TraceLine("", "cscomonx", 88, "first");
  std::vector<std::string> lines = ReadLines(trc);  // flushed at once
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(std::regex_match(lines[0], kStartLine)) << lines[0];
  EXPECT_EQ(lines[1], Indent(d) + "cscomonx:00088:first");

  // Switching off closes the file; the next line after switching on starts it anew.
  SetTrace(0);
  QLM_TRACE("cscomonx", "dropped");
  EXPECT_EQ(ReadLines(trc).size(), 2u);
  SetTrace(1);
  TraceLine("", "cscomonx", 7, "again");
  lines = ReadLines(trc);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(std::regex_match(lines[0], kStartLine));
  EXPECT_EQ(lines[1], Indent(d) + "cscomonx:00007:again");
  SetTrace(0);
}

TEST(Trace, FileFallsBackToCurrentDirectory) {
  std::string cwd = TempDir();
  ASSERT_EQ(chdir(cwd.c_str()), 0);

  UseNoRoot();  // no root at all
  SetTrace(1);
  TraceLine("", "cscomonx", 1, "no root");
  std::vector<std::string> lines = ReadLines(cwd + "/qlmc32.trc");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(std::regex_match(lines[0], kStartLine));
  EXPECT_EQ(lines[1], Indent(TraceDepth()) + "cscomonx:00001:no root");
  SetTrace(0);

  std::string root = TempDir();  // a root without a bin directory
  UseRoot(root);
  SetTrace(1);
  TraceLine("", "cscomonx", 2, "no bin");
  EXPECT_FALSE(Exists(root + "/bin/qlmc32.trc"));
  lines = ReadLines(cwd + "/qlmc32.trc");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], Indent(TraceDepth()) + "cscomonx:00002:no bin");
  SetTrace(0);
}

TEST(Trace, LineLayoutAndIndentation) {
  std::string root = RootWithBin();
  int d = TraceDepth();
  int marker = 0;
  char ptr[32];
  std::snprintf(ptr, sizeof ptr, "%p", static_cast<const void *>(&marker));

  SetTrace(1);
  QLM_TRACE_ENTRY("cfradar", "QlmAddAddr");
  EXPECT_EQ(TraceDepth(), d + 1);
  TraceInt("cfradar", 12, "dataLen", 92);
  TracePointer("cfradar", 13, "pRec", &marker);
  TraceEntry("cfrmil", 88, "cfRmilSend");
  TraceLine("", "cfrmil", 300, "Data too large!");
  TraceInt("cfrmil", 123456, "rc", -7);  // wider than five digits: not cut
  TraceExit("cfrmil", 310, "cfRmilSend", -7);
  TraceExit("cfradar", 99, "QlmAddAddr", 0);
  EXPECT_EQ(TraceDepth(), d);

  std::vector<std::string> lines = ReadLines(root + "/bin/qlmc32.trc");
  const std::vector<std::string> inner = {
      Indent(d + 1) + "cfradar:00012:dataLen:92:",
      Indent(d + 1) + "cfradar:00013:pRec:" + ptr + ":",
      Indent(d + 1) + "{ cfrmil:00088:cfRmilSend",
      Indent(d + 2) + "cfrmil:00300:Data too large!",
      Indent(d + 2) + "cfrmil:123456:rc:-7:",
      Indent(d + 1) + "} cfrmil:00310:cfRmilSend (-7)",
      Indent(d) + "} cfradar:00099:QlmAddAddr (0)",
  };
  ASSERT_EQ(lines.size(), inner.size() + 2);
  // The macro writes its own line number.
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(Indent(d) + R"(\{ cfradar:\d{5}:QlmAddAddr)")))
      << lines[1];
  for (std::size_t i = 0; i < inner.size(); ++i) EXPECT_EQ(lines[i + 2], inner[i]);

  // Below depth 0 nothing is indented; the counter keeps counting.
  while (TraceDepth() > -1) TraceExit("cscomonx", 1, "Unbalanced", 0);
  TraceExit("cscomonx", 2, "Deeper", 3);
  EXPECT_EQ(TraceDepth(), -2);
  TraceLine("", "cscomonx", 3, "event");
  TraceEntry("cscomonx", 4, "Up");
  EXPECT_EQ(TraceDepth(), -1);
  lines = ReadLines(root + "/bin/qlmc32.trc");
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], "} cscomonx:00002:Deeper (3)");
  EXPECT_EQ(lines[lines.size() - 2], "cscomonx:00003:event");
  EXPECT_EQ(lines[lines.size() - 1], "{ cscomonx:00004:Up");
  SetTrace(0);
}

TEST(Trace, UnopenableFileEndsProcess) {
  std::string out = TempDir() + "/stdout.txt";
  std::string gone = TempDir();
  EXPECT_EXIT(
      {
        if (std::freopen(out.c_str(), "w", stdout) == nullptr) std::_Exit(3);
        UseNoRoot();
        if (chdir(gone.c_str()) != 0 || rmdir(gone.c_str()) != 0) std::_Exit(4);
        SetTrace(1);
        TraceLine("", "cscomonx", 1, "never written");
        std::_Exit(5);
      },
      ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(ReadAll(out), "Could not open trace file qlmc32.trc!\n\n");
}

// ---------------------------------------------------------------- Memory

TEST(Memory, GetBufZeroFillsAndFreeBufIsIdempotent) {
  unsigned char *p = nullptr;
  ASSERT_EQ(GetBuf(&p, 4096), 0);
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(p[i], 0) << i;
  std::memset(p, 0xAB, 4096);
  FreeBuf(&p);
  EXPECT_EQ(p, nullptr);
  FreeBuf(&p);  // second free does nothing
  EXPECT_EQ(p, nullptr);

  char *q = nullptr;
  ASSERT_EQ(GetBuf(&q, 0), 0);  // a zero-size block is still a block
  EXPECT_NE(q, nullptr);
  FreeBuf(&q);

  EXPECT_EQ(GetBuf(static_cast<void **>(nullptr), 16), -1);
  FreeBuf(static_cast<void **>(nullptr));
}

TEST(Memory, GetBufTracesSizeAndKeepsDepth) {
  std::string root = RootWithBin();
  int d = TraceDepth();
  SetTrace(1);
  void *p = nullptr;
  ASSERT_EQ(GetBuf(&p, 100), 0);
  FreeBuf(&p);
  EXPECT_EQ(TraceDepth(), d);
  std::vector<std::string> lines = ReadLines(root + "/bin/qlmc32.trc");
  ASSERT_EQ(lines.size(), 4u);
  std::string in = Indent(d);
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(in + R"(\{ cscomonx:\d{5}:GetBuf)"))) << lines[1];
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(Indent(d + 1) + R"(cscomonx:\d{5}:mlc_size:100:)"))) << lines[2];
  EXPECT_TRUE(std::regex_match(lines[3], std::regex(in + R"(\} cscomonx:\d{5}:GetBuf \(0\))"))) << lines[3];
  SetTrace(0);
}

TEST(Memory, OutOfMemoryEndsProcessAfterTwoTraceLines) {
  std::string root = RootWithBin();
  std::string trc = root + "/bin/qlmc32.trc";
  // Tracing off: the failure switches it on itself.
  EXPECT_EXIT(
      {
        SetupLongJump();
        SetAllocationFailureForTest(true);
        void *p = nullptr;
        GetBuf(&p, 64);
        std::_Exit(5);
      },
      ::testing::ExitedWithCode(1), "");
  std::vector<std::string> lines = ReadLines(trc);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(std::regex_match(lines[0], kStartLine));
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\{ cslongjc:\d{5}:OutOfMemoryHandler)"))) << lines[1];
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(\} cslongjc:\d{5}:SetupLongJump \(1\))"))) << lines[2];

  // Tracing on and nested: GetBuf's own lines come first, the two lines end the file.
  EXPECT_EXIT(
      {
        SetTrace(1);
        SetupLongJump();
        TraceEntry("cfopen", 10, "QlmOpenCInterface");
        SetAllocationFailureForTest(true);
        char *p = nullptr;
        GetBuf(&p, 3072);
        std::_Exit(5);
      },
      ::testing::ExitedWithCode(1), "");
  lines = ReadLines(trc);
  ASSERT_GE(lines.size(), 4u);
  std::size_t n = lines.size();
  EXPECT_TRUE(std::regex_search(lines[n - 3], std::regex(R"(cscomonx:\d{5}:mlc_size:3072:$)"))) << lines[n - 3];
  EXPECT_TRUE(std::regex_match(lines[n - 2], std::regex(R"( *\{ cslongjc:\d{5}:OutOfMemoryHandler)")));
  EXPECT_TRUE(std::regex_match(lines[n - 1], std::regex(R"( *\} cslongjc:\d{5}:SetupLongJump \(1\))")));
}

// ---------------------------------------------------------------- Config

class Config : public ::testing::Test {
 protected:
  std::string dir_ = TempDir();
  // The value of Traces/Clang_Logic in a file holding `content` ("<null>" when none).
  std::string Read(const std::string &content) {
    std::string path = dir_ + "/quillmar.ini";
    WriteFile(path, content);
    char *v = ReadINIFile(path.c_str(), "Traces", "Clang_Logic");
    std::string result = v != nullptr ? std::string(v) : "<null>";
    FreeBuf(&v);
    return result;
  }
};

TEST_F(Config, NamesCompareWithoutCaseAndNothingIsTrimmed) {
  EXPECT_EQ(Read("[traces]\nCLANG_LOGIC=yes\n"), "yes");
  EXPECT_EQ(Read("[Traces]\nClang_Logic = Y\n"), "<null>");  // key has a trailing blank
  EXPECT_EQ(Read("[Traces]\nClang_Logic= Y\n"), " Y");
  EXPECT_EQ(Read("[Traces]\nClang_Logic=Y  \n"), "Y  ");
  EXPECT_EQ(Read("[Traces]\nClang_Logic=a=b\n"), "a=b");
  EXPECT_EQ(Read("[Traces]\nClang_Logic=\n"), "");
  EXPECT_EQ(Read("[Traces]\nClang_Logic=Y"), "Y");  // last line without newline
  EXPECT_EQ(Read("[Traces] ; comment\nClang_Logic=Y\n"), "Y");
  EXPECT_EQ(Read("[ Traces]\nClang_Logic=Y\n"), "<null>");
}

TEST_F(Config, MissingFileSectionOrKeyGivesNull) {
  EXPECT_EQ(ReadINIFile((dir_ + "/none.ini").c_str(), "Traces", "Clang_Logic"), nullptr);
  EXPECT_EQ(Read("Clang_Logic=Y\n[Traces]\n"), "<null>");  // before any section; header last
  EXPECT_EQ(Read("Clang_Logic=Y\n[Traces]"), "<null>");
  EXPECT_EQ(Read("[Other]\nClang_Logic=Y\n[Traces]\nOther=1\n"), "<null>");
  EXPECT_EQ(Read("[Traces\nClang_Logic=Y\n"), "<null>");  // no "]": not a header
  EXPECT_EQ(Read(" [Traces]\nClang_Logic=Y\n"), "<null>");
  EXPECT_EQ(Read(""), "<null>");
}

TEST_F(Config, RepeatedSectionsAndFirstMatchWins) {
  EXPECT_EQ(Read("[Traces]\nA=1\n[Other]\nClang_Logic=N\n[TRACES]\nClang_Logic=Y\nClang_Logic=N\n"), "Y");
  EXPECT_EQ(Read("[Traces]\n[Traces]\nclang_logic=y\n"), "y");
  EXPECT_EQ(Read("[Traces]\nClang_Logic=1\n[Traces]\nClang_Logic=2\n"), "1");
}

TEST_F(Config, LongLinesAreReadInPiecesOf254) {
  // The second piece of a long line is a line of its own.
  EXPECT_EQ(Read("[Traces]\n" + std::string(254, 'x') + "Clang_Logic=Y\n"), "Y");
  EXPECT_EQ(Read("[Traces]\n" + std::string(253, 'x') + "Clang_Logic=Y\n"), "<null>");
  // A value is cut at the end of its piece.
  EXPECT_EQ(Read("[Traces]\nClang_Logic=" + std::string(300, 'v') + "\n"), std::string(242, 'v'));
  // A header whose "]" lies in the second piece is no header.
  EXPECT_EQ(Read("[Traces" + std::string(250, ' ') + "]\nClang_Logic=Y\n"), "<null>");
}

// ---------------------------------------------------------------- Paths

struct RootCase {
  const char *value;
  int withSeparator;
  int rc;
  const char *out;
};

TEST(Paths, RootValueIsNormalised) {
  const std::string v39 = "/" + std::string(38, 'a');
  const std::string v40 = v39 + "b";
  const std::string blanks39 = "   " + v39;
  const std::string trailing42 = v39 + "   ";
  const RootCase cases[] = {
      {"  /tmp/prod/", 1, 0, "/tmp/prod/"},
      {"  /tmp/prod/", 0, 0, "/tmp/prod"},
      {"/prod", 1, 0, "/prod/"},
      {"/prod", 0, 0, "/prod"},
      {"/prod   ", 0, 0, "/prod"},
      {"/prod   ", 1, 0, "/prod/"},
      {"/prod/  ", 0, 0, "/prod"},
      {"/", 0, 0, "/"},
      {"/", 1, 0, "/"},
      {"c:/prod", 1, 0, "c:/prod/"},
      {"prod", 0, 0, "prod"},  // no drive is put in front
      {"/ab:c", 1, 227, ""},
      {":/prod", 1, 227, ""},
      {"c:/a:b", 0, 227, ""},
      {v39.c_str(), 0, 0, v39.c_str()},
      {blanks39.c_str(), 0, 0, v39.c_str()},
      {v40.c_str(), 0, 226, ""},
      {trailing42.c_str(), 0, 226, ""},  // the limit counts trailing blanks
      {"    ", 1, 278, ""},
  };
  for (const RootCase &c : cases) {
    UseRoot(c.value);
    char out[kPathMax] = "junk";
    EXPECT_EQ(GetRootDir(out, c.withSeparator), c.rc) << '"' << c.value << '"';
    EXPECT_STREQ(out, c.out) << '"' << c.value << '"';
  }
}

TEST(Paths, DirectoriesAndErrorFileNames) {
  UseRoot("  /tmp/prod");
  char out[kPathMax];
  EXPECT_EQ(GetBinDir(out, 1), 0);
  EXPECT_STREQ(out, "/tmp/prod/bin/");
  EXPECT_EQ(GetBinDir(out, 0), 0);
  EXPECT_STREQ(out, "/tmp/prod/bin");
  EXPECT_EQ(GetSharedDir(out, 1), 0);
  EXPECT_STREQ(out, "/tmp/prod/shared/");
  EXPECT_EQ(GetSharedDir(out, 0), 0);
  EXPECT_STREQ(out, "/tmp/prod/shared");
  EXPECT_EQ(GetErrorTextFileName(out, 0), 0);
  EXPECT_STREQ(out, "/tmp/prod/shared/errortxt.fil");
  EXPECT_EQ(GetErrorTextFileName(out, 1), 0);
  EXPECT_STREQ(out, "/tmp/prod/shared/uferrtxt.fil");

  UseRoot("/");
  EXPECT_EQ(GetBinDir(out, 0), 0);
  EXPECT_STREQ(out, "/bin");

  // The longest name fits the output area.
  std::string v39 = "/" + std::string(38, 'r');
  UseRoot(v39);
  EXPECT_EQ(GetErrorTextFileName(out, 1), 0);
  EXPECT_EQ(std::string(out), v39 + "/shared/uferrtxt.fil");
  EXPECT_LT(std::strlen(out), kPathMax);

  // Failures of the root come through unchanged, with an empty output.
  UseRoot("/a:b");
  std::strcpy(out, "junk");
  EXPECT_EQ(GetBinDir(out, 1), 227);
  EXPECT_STREQ(out, "");
  UseRoot(v39 + "x");
  std::strcpy(out, "junk");
  EXPECT_EQ(GetErrorTextFileName(out, 0), 226);
  EXPECT_STREQ(out, "");
}

TEST(Paths, MissingValueAndNoOutputArea) {
  UseNoRoot();
  int (*const fns[])(char *, int) = {GetRootDir, GetBinDir, GetSharedDir, GetErrorTextFileName};
  for (auto fn : fns) {
    char out[kPathMax] = "junk";
    EXPECT_EQ(fn(out, 1), 278);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(fn(nullptr, 1), 31002);
  }
  setenv("QLM_ROOTDIR", "", 1);  // empty counts as unset
  char out[kPathMax];
  EXPECT_EQ(GetRootDir(out, 1), 278);
  EXPECT_NE(ReadRootDirValue(out, sizeof out), 0);
}

TEST(Paths, RootFromRegistryFile) {
  std::string dir = TempDir();
  std::string file = dir + "/RootDir";
  unsetenv("QLM_ROOTDIR");
  setenv("QLM_REGISTRY_FILE", file.c_str(), 1);
  char out[kPathMax];

  WriteFile(file, "  /opt/qlm  \n/second/line\n");
  EXPECT_EQ(GetRootDir(out, 1), 0);
  EXPECT_STREQ(out, "/opt/qlm/");
  WriteFile(file, "/opt/crlf\r\n");
  EXPECT_EQ(GetRootDir(out, 0), 0);
  EXPECT_STREQ(out, "/opt/crlf");
  WriteFile(file, "/opt/last");  // no line end
  EXPECT_EQ(GetRootDir(out, 0), 0);
  EXPECT_STREQ(out, "/opt/last");

  setenv("QLM_ROOTDIR", "/from/env", 1);  // the variable comes first
  EXPECT_EQ(GetRootDir(out, 0), 0);
  EXPECT_STREQ(out, "/from/env");
  unsetenv("QLM_ROOTDIR");

  WriteFile(file, "");
  EXPECT_EQ(GetRootDir(out, 0), 278);
  WriteFile(file, "/" + std::string(300, 'x') + "\n");  // too long for the 260-byte area
  EXPECT_EQ(GetRootDir(out, 0), 278);
}

// ---------------------------------------------------------------- Registry

TEST(Registry, ProductKeyOpensOneLevelAtATime) {
  UseRoot("/x");
  HKEY k[4] = {};
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software", 0, KEY_READ, &k[0]), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(k[0], "Ostrane", 0, KEY_READ, &k[1]), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(k[1], "Quillmar", 0, KEY_READ, &k[2]), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(k[2], "6.1", 0, KEY_READ, &k[3]), ERROR_SUCCESS);

  HKEY bad = k[0];
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Ostrane", 0, KEY_READ, &bad), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(bad, nullptr);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Quillmar", 0, KEY_READ, &bad), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(k[1], "6.1", 0, KEY_READ, &bad), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(k[3], "6.1", 0, KEY_READ, &bad), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(k[2], "6.2", 0, KEY_READ, &bad), ERROR_FILE_NOT_FOUND);

  BYTE data[16];
  DWORD type = 0, cb = sizeof data;
  ASSERT_EQ(RegQueryValueExA(k[3], "RootDir", nullptr, &type, data, &cb), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(cb, 3u);
  EXPECT_STREQ(reinterpret_cast<char *>(data), "/x");
  cb = sizeof data;
  EXPECT_EQ(RegQueryValueExA(k[2], "RootDir", nullptr, &type, data, &cb), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExA(k[3], "Root", nullptr, &type, data, &cb), ERROR_FILE_NOT_FOUND);

  for (HKEY key : k) EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST(Registry, ValueSizeAndSources) {
  HKEY k = HKEY_LOCAL_MACHINE;
  for (const char *name : {"Software", "Ostrane", "Quillmar", "6.1"})
    ASSERT_EQ(RegOpenKeyExA(k, name, 0, KEY_READ, &k), ERROR_SUCCESS);

  UseRoot("/opt/quillmar");
  DWORD cb = 0;
  EXPECT_EQ(RegQueryValueExA(k, "RootDir", nullptr, nullptr, nullptr, &cb), ERROR_SUCCESS);
  EXPECT_EQ(cb, 14u);
  BYTE small[8];
  cb = sizeof small;
  std::memset(small, 'z', sizeof small);
  EXPECT_EQ(RegQueryValueExA(k, "RootDir", nullptr, nullptr, small, &cb), ERROR_MORE_DATA);
  EXPECT_EQ(cb, 14u);
  EXPECT_EQ(small[0], 'z');

  std::string file = TempDir() + "/RootDir";
  WriteFile(file, "/from/file\n");
  setenv("QLM_ROOTDIR", "", 1);
  setenv("QLM_REGISTRY_FILE", file.c_str(), 1);
  BYTE data[32];
  cb = sizeof data;
  ASSERT_EQ(RegQueryValueExA(k, "RootDir", nullptr, nullptr, data, &cb), ERROR_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char *>(data), "/from/file");

  UseNoRoot();
  cb = sizeof data;
  EXPECT_EQ(RegQueryValueExA(k, "RootDir", nullptr, nullptr, data, &cb), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
}

// ---------------------------------------------------------------- ErrorTextFile

// The shipped error text file: line format, order, and room in the text record.
TEST(ErrorTextFile, EveryNumberHasMessageExplanationAndResponse) {
  std::string src = __FILE__;
  std::string path = src.substr(0, src.rfind("tests/unit/")) + "data/errortxt.fil";
  std::string all = ReadAll(path);
  ASSERT_FALSE(all.empty()) << path;
  ASSERT_EQ(all.back(), '\n');

  struct Texts { int m = 0, e = 0, r = 0; std::string kinds; };
  std::map<int, Texts> seen;
  int last = 0;
  std::istringstream in(all);
  for (std::string l; std::getline(in, l);) {
    SCOPED_TRACE(l);
    ASSERT_LE(l.size() + 1, 254u);  // read whole, newline included
    ASSERT_GT(l.size(), 9u);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(l[i] >= '0' && l[i] <= '9');
    ASSERT_NE(l[5], ' ');
    ASSERT_EQ(l[7], ' ');
    ASSERT_NE(l[8], ' ');
    ASSERT_NE(l.back(), ' ');
    int number = std::atoi(l.substr(0, 5).c_str());
    ASSERT_GE(number, last);
    last = number;
    Texts &t = seen[number];
    int len = static_cast<int>(l.size()) - 8 + 1;  // text and its joining blank
    switch (l[6]) {
      case 'M': t.m += len; break;
      case 'E': t.e += len; break;
      case 'R': t.r += len; break;
      default: FAIL() << "kind " << l[6];
    }
    if (t.kinds.empty() || t.kinds.back() != l[6]) t.kinds += l[6];
  }

  std::vector<int> numbers = {278};
  for (int n = 20010; n <= 20230; n += 10)
    if (n != 20140) numbers.push_back(n);
  for (int n = 30001; n <= 30020; ++n) numbers.push_back(n);
  for (int n : numbers) {
    SCOPED_TRACE(n);
    ASSERT_TRUE(seen.count(n));
    const Texts &t = seen[n];
    EXPECT_EQ(t.kinds, "MER");
    EXPECT_LT(t.m, 80);  // the end zero must fit too
    EXPECT_LT(t.e, 500);
    EXPECT_LT(t.r, 500);
    EXPECT_GT(t.e, 1);
    EXPECT_GT(t.r, 1);
  }
  EXPECT_EQ(seen.size(), numbers.size());
}

}  // namespace
