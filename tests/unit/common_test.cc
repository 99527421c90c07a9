// Common services: trace file, buffers and the out-of-memory exit, configuration
// reader, installation paths, registry stand-in, and the shipped error text file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "common/config.h"
#include "common/memory.h"
#include "common/paths.h"
#include "common/trace.h"
#include "platform/registry.h"
#include "test_support.h"

namespace {

using namespace qlm;
using namespace qlm::test;

// The root comes from QLM_ROOTDIR only (never from a registry file of the machine);
// with nullptr there is none.
void UseRoot(const char *root) {
  root != nullptr ? setenv("QLM_ROOTDIR", root, 1) : unsetenv("QLM_ROOTDIR");
  setenv("QLM_REGISTRY_FILE", "/nonexistent/qlm/RootDir", 1);
}

std::string Indent(int depth) { return depth > 0 ? std::string(3 * depth, ' ') : ""; }

// Equal but for '#' in `want`, which stands for any digit.
bool Like(const std::string &got, const std::string &want) {
  return got.size() == want.size() && std::equal(want.begin(), want.end(), got.begin(), [](char w, char g) {
           return w == g || (w == '#' && std::isdigit(static_cast<unsigned char>(g)));
         });
}

const std::regex kStartLine(
    R"(Quillmar Version: 19990331060100 started - \w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4})");

// The trace file is the start line followed by `want` (whole), or ends with `want`.
void ExpectTrace(const std::string &path, const std::vector<std::string> &want, bool whole = true) {
  std::vector<std::string> got;
  std::istringstream in(slurp(path));
  for (std::string l; std::getline(in, l);) got.push_back(l);
  ASSERT_GE(got.size(), want.size() + 1) << path;
  if (whole) {
    EXPECT_EQ(got.size(), want.size() + 1);
    EXPECT_TRUE(std::regex_match(got[0], kStartLine)) << got[0];
  }
  for (std::size_t i = 0, at = got.size() - want.size(); i < want.size(); ++i)
    EXPECT_TRUE(Like(got[at + i], want[i])) << got[at + i] << "\n  expected " << want[i];
}

// Each test has a temporary directory; Root() makes it the root, with bin/.
class CommonTest : public ::testing::Test {
 protected:
  void TearDown() override { SetTrace(0); }
  void Root() {
    mkdir((dir_ / "bin").c_str(), 0700);
    UseRoot(dir_.path().c_str());
  }
  std::string Trc() const { return dir_ / "bin/qlmc32.trc"; }
  TempDir dir_;
};
using Trace = CommonTest;
using Memory = CommonTest;
using Config = CommonTest;
using Paths = CommonTest;
using Registry = CommonTest;

// ---------------------------------------------------------------- Trace

TEST_F(Trace, FirstLineCreatesFileInBinDirWithStartLine) {
  Root();
  const int d = TraceDepth();
  QLM_TRACE("cscomonx", "not written");  // tracing is off: no line, no file, no depth change
  QLM_TRACE_ENTRY("cscomonx", "Nothing");
  EXPECT_FALSE(exists(Trc()));
  EXPECT_EQ(TraceDepth(), d);
  // Lines are flushed at once; switching off closes the file and drops lines, and the
  // next line after switching on starts the file anew.
  for (const char *text : {"first", "again"}) {
    SetTrace(1);
    TraceLine("", "cscomonx", 88, text);
    ExpectTrace(Trc(), {Indent(d) + "cscomonx:00088:" + text});
    SetTrace(0);
    QLM_TRACE("cscomonx", "dropped");
  }
}

TEST_F(Trace, FileFallsBackToCurrentDirectory) {
  const std::filesystem::path cwd = std::filesystem::current_path();
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  for (bool root : {false, true}) {  // no root at all; a root without a bin directory
    UseRoot(root ? dir_.path().c_str() : nullptr);
    SetTrace(1);
    TraceLine("", "cscomonx", 1, root ? "no bin" : "no root");
    ExpectTrace(dir_ / "qlmc32.trc", {Indent(TraceDepth()) + "cscomonx:00001:" + (root ? "no bin" : "no root")});
    SetTrace(0);
  }
  std::filesystem::current_path(cwd);
}

TEST_F(Trace, LineLayoutAndIndentation) {
  Root();
  const int d = TraceDepth();
  int marker = 0;
  char ptr[32];
  std::snprintf(ptr, sizeof ptr, "%p", static_cast<const void *>(&marker));
  SetTrace(1);
  QLM_TRACE_ENTRY("cfradar", "QlmAddAddr");  // the macro writes its own line number
  TraceInt("cfradar", 12, "dataLen", 92);
  TracePointer("cfradar", 13, "pRec", &marker);
  TraceEntry("cfrmil", 88, "cfRmilSend");
  TraceLine("", "cfrmil", 300, "Data too large!");
  TraceInt("cfrmil", 123456, "rc", -7);  // wider than five digits: not cut
  TraceExit("cfrmil", 310, "cfRmilSend", -7);
  TraceExit("cfradar", 99, "QlmAddAddr", 0);
  EXPECT_EQ(TraceDepth(), d);
  ExpectTrace(Trc(), {Indent(d) + "{ cfradar:#####:QlmAddAddr", Indent(d + 1) + "cfradar:00012:dataLen:92:",
                      Indent(d + 1) + "cfradar:00013:pRec:" + ptr + ":", Indent(d + 1) + "{ cfrmil:00088:cfRmilSend",
                      Indent(d + 2) + "cfrmil:00300:Data too large!", Indent(d + 2) + "cfrmil:123456:rc:-7:",
                      Indent(d + 1) + "} cfrmil:00310:cfRmilSend (-7)", Indent(d) + "} cfradar:00099:QlmAddAddr (0)"});

  // Below depth 0 nothing is indented; the counter keeps counting.
  while (TraceDepth() > -1) TraceExit("cscomonx", 1, "Unbalanced", 0);
  TraceExit("cscomonx", 2, "Deeper", 3);
  TraceLine("", "cscomonx", 3, "event");
  TraceEntry("cscomonx", 4, "Up");
  EXPECT_EQ(TraceDepth(), -1);
  ExpectTrace(Trc(), {"} cscomonx:00002:Deeper (3)", "cscomonx:00003:event", "{ cscomonx:00004:Up"}, false);
}

TEST_F(Trace, UnopenableFileEndsProcess) {
  const std::string gone = dir_ / "gone";
  ASSERT_EQ(mkdir(gone.c_str(), 0700), 0);
  EXPECT_EXIT(
      {
        if (!std::freopen((dir_ / "stdout").c_str(), "w", stdout) || chdir(gone.c_str()) || rmdir(gone.c_str()))
          std::_Exit(3);
        UseRoot(nullptr);
        SetTrace(1);
        TraceLine("", "cscomonx", 1, "never written");
        std::_Exit(5);
      },
      ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(slurp(dir_ / "stdout"), "Could not open trace file qlmc32.trc!\n\n");
}

// ---------------------------------------------------------------- Memory

TEST_F(Memory, GetBufZeroFillsAndFreeBufIsIdempotent) {
  unsigned char *p = nullptr;
  ASSERT_EQ(GetBuf(&p, 4096), 0);
  EXPECT_EQ(std::count(p, p + 4096, 0), 4096);
  FreeBuf(&p);
  EXPECT_EQ(p, nullptr);
  FreeBuf(&p);  // freeing twice is harmless
  ASSERT_EQ(GetBuf(&p, 0), 0);  // a zero-size block is still a block
  EXPECT_NE(p, nullptr);
  FreeBuf(&p);
  EXPECT_EQ(GetBuf(static_cast<void **>(nullptr), 16), -1);
  FreeBuf(static_cast<void **>(nullptr));
}

// The entry line of OutOfMemoryHandler and the exit line of SetupLongJump (1) end the
// trace file, and the process ends with 1, whether or not SetupLongJump ran.
TEST_F(Memory, OutOfMemoryEndsProcessAfterTwoTraceLines) {
  Root();
  const std::string in = Indent(TraceDepth()), in1 = Indent(TraceDepth() + 1), in2 = Indent(TraceDepth() + 2);
  EXPECT_EXIT(
      {
        SetAllocationFailureForTest(true);  // tracing off: the failure switches it on
        void *p = nullptr;
        GetBuf(&p, 64);
        std::_Exit(5);
      },
      ::testing::ExitedWithCode(1), "");
  ExpectTrace(Trc(), {in + "{ cslongjc:#####:OutOfMemoryHandler", in + "} cslongjc:#####:SetupLongJump (1)"});

  // Tracing on and nested: GetBuf writes entry, size and exit; FreeBuf writes nothing.
  EXPECT_EXIT(
      {
        SetTrace(1);
        SetupLongJump();
        TraceEntry("cfopen", 10, "QlmOpenCInterface");
        void *p = nullptr;
        GetBuf(&p, 100);
        FreeBuf(&p);
        SetAllocationFailureForTest(true);
        GetBuf(&p, 3072);
        std::_Exit(5);
      },
      ::testing::ExitedWithCode(1), "");
  ExpectTrace(Trc(), {in + "{ cslongjc:#####:SetupLongJump", in + "} cslongjc:#####:SetupLongJump (0)",
                      in + "{ cfopen:00010:QlmOpenCInterface", in1 + "{ cscomonx:#####:GetBuf",
                      in2 + "cscomonx:#####:mlc_size:100:", in1 + "} cscomonx:#####:GetBuf (0)",
                      in1 + "{ cscomonx:#####:GetBuf", in2 + "cscomonx:#####:mlc_size:3072:",
                      in2 + "{ cslongjc:#####:OutOfMemoryHandler", in2 + "} cslongjc:#####:SetupLongJump (1)"});
}

// ---------------------------------------------------------------- Config

TEST_F(Config, SectionsKeysAndValues) {
  const std::string path = dir_ / "quillmar.ini";
  EXPECT_EQ(ReadINIFile(path.c_str(), "Traces", "Clang_Logic"), nullptr);  // no file
  const std::pair<std::string, std::string> cases[] = {  // content, value ("-" none)
      // Names compare without regard to case; nothing is trimmed.
      {"[traces]\nCLANG_LOGIC=yes\n", "yes"},
      {"[Traces]\nClang_Logic = Y\n", "-"},  // the key has a trailing blank
      {"[Traces]\nClang_Logic= Y\n", " Y"}, {"[Traces]\nClang_Logic=Y  \n", "Y  "},
      {"[Traces]\nClang_Logic=a=b\n", "a=b"}, {"[Traces]\nClang_Logic=\n", ""},
      {"[Traces]\nClang_Logic=Y", "Y"},  // last line without newline
      {"[Traces] ; comment\nClang_Logic=Y\n", "Y"}, {"[ Traces]\nClang_Logic=Y\n", "-"},
      // Missing section or key.
      {"Clang_Logic=Y\n[Traces]\n", "-"},  // before any section; header last
      {"Clang_Logic=Y\n[Traces]", "-"}, {"[Other]\nClang_Logic=Y\n[Traces]\nOther=1\n", "-"},
      {"[Traces\nClang_Logic=Y\n", "-"},  // no "]": not a header
      {" [Traces]\nClang_Logic=Y\n", "-"}, {"", "-"},
      // Every occurrence of the section is searched; the first match wins.
      {"[Traces]\nA=1\n[Other]\nClang_Logic=N\n[TRACES]\nClang_Logic=Y\nClang_Logic=N\n", "Y"},
      {"[Traces]\n[Traces]\nclang_logic=y\n", "y"}, {"[Traces]\nClang_Logic=1\n[Traces]\nClang_Logic=2\n", "1"},
      // Lines come in pieces of 254: the second piece is a line of its own, a value is
      // cut at the end of its piece, a "]" in the second piece makes no header.
      {"[Traces]\n" + std::string(254, 'x') + "Clang_Logic=Y\n", "Y"},
      {"[Traces]\n" + std::string(253, 'x') + "Clang_Logic=Y\n", "-"},
      {"[Traces]\nClang_Logic=" + std::string(300, 'v') + "\n", std::string(242, 'v')},
      {"[Traces" + std::string(250, ' ') + "]\nClang_Logic=Y\n", "-"},
  };
  for (const auto &[content, want] : cases) {
    spit(path, content);
    char *v = ReadINIFile(path.c_str(), "Traces", "Clang_Logic");
    EXPECT_EQ(v != nullptr ? std::string(v) : "-", want) << content;
    FreeBuf(&v);
  }
}

// ---------------------------------------------------------------- Paths

// "<rc> <output>" of a path function whose output area held "junk".
std::string Path(int (*fn)(char *, int), int flag) {
  char out[kPathMax] = "junk";
  const int rc = fn(out, flag);
  return std::to_string(rc) + " " + out;
}

TEST_F(Paths, RootValueDirectoriesAndErrorFileNames) {
  using Fn = int (*)(char *, int);
  const Fn root = GetRootDir, bin = GetBinDir, shared = GetSharedDir, errors = GetErrorTextFileName;
  const std::string v39 = "/" + std::string(38, 'a');
  const struct {
    std::string value;  // of QLM_ROOTDIR
    Fn fn;
    int flag;
    std::string want;
  } cases[] = {
      // The root: outer blanks go, the flag adds or removes the final "/".
      {"  /tmp/prod/", root, 1, "0 /tmp/prod/"}, {"  /tmp/prod/", root, 0, "0 /tmp/prod"},
      {"/prod   ", root, 0, "0 /prod"}, {"/prod   ", root, 1, "0 /prod/"}, {"/prod/  ", root, 0, "0 /prod"},
      {"/", root, 0, "0 /"}, {"/", root, 1, "0 /"}, {"c:/prod", root, 1, "0 c:/prod/"},
      {"prod", root, 0, "0 prod"},  // no drive is put in front
      {"/ab:c", root, 1, "227 "}, {":/prod", root, 1, "227 "}, {"c:/a:b", root, 0, "227 "},
      {v39, root, 0, "0 " + v39}, {"   " + v39, root, 0, "0 " + v39}, {v39 + "b", root, 0, "226 "},
      {v39 + "   ", root, 0, "226 "},  // the limit counts trailing blanks
      {"    ", root, 1, "278 "},
      // The directories and error text files below it.
      {"  /tmp/prod", bin, 1, "0 /tmp/prod/bin/"}, {"  /tmp/prod", bin, 0, "0 /tmp/prod/bin"},
      {"  /tmp/prod", shared, 1, "0 /tmp/prod/shared/"}, {"  /tmp/prod", shared, 0, "0 /tmp/prod/shared"},
      {"  /tmp/prod", errors, 0, "0 /tmp/prod/shared/errortxt.fil"},
      {"  /tmp/prod", errors, 1, "0 /tmp/prod/shared/uferrtxt.fil"}, {"/", bin, 0, "0 /bin"},
      {v39, errors, 1, "0 " + v39 + "/shared/uferrtxt.fil"},  // the longest name fits the output area
      // Failures of the root come through unchanged; an empty value names no root.
      {"/a:b", bin, 1, "227 "}, {v39 + "x", errors, 0, "226 "}, {"", root, 1, "278 "}, {"", bin, 1, "278 "},
      {"", shared, 1, "278 "}, {"", errors, 1, "278 "},
  };
  for (const auto &c : cases) {
    UseRoot(c.value.c_str());
    EXPECT_EQ(Path(c.fn, c.flag), c.want) << '"' << c.value << '"';
    EXPECT_EQ(c.fn(nullptr, c.flag), 31002);  // no output area
  }
}

TEST_F(Paths, RootFromRegistryFile) {
  const std::string file = dir_ / "RootDir";
  setenv("QLM_ROOTDIR", "", 1);  // empty counts as unset
  setenv("QLM_REGISTRY_FILE", file.c_str(), 1);
  const std::pair<std::string, std::string> cases[] = {
      {"  /opt/qlm  \n/second/line\n", "0 /opt/qlm/"},
      {"/opt/crlf\r\n", "0 /opt/crlf/"},
      {"/opt/last", "0 /opt/last/"},  // no line end
      {"", "278 "},
      {"/" + std::string(300, 'x') + "\n", "278 "},  // too long for the 260-byte area
  };
  for (const auto &[content, want] : cases) {
    spit(file, content);
    EXPECT_EQ(Path(GetRootDir, 1), want) << content;
  }
  setenv("QLM_ROOTDIR", "/from/env", 1);  // the variable comes first
  EXPECT_EQ(Path(GetRootDir, 0), "0 /from/env");
}

// ---------------------------------------------------------------- Registry

TEST_F(Registry, ProductKeyOneLevelAtATimeAndItsValue) {
  UseRoot("/opt/quillmar");
  const char *const names[] = {"software", "OSTRANE", "Quillmar", "6.1"};  // without regard to case
  HKEY k[4] = {}, parent = HKEY_LOCAL_MACHINE;
  for (int i = 0; i < 4; parent = k[i++]) ASSERT_EQ(RegOpenKeyExA(parent, names[i], 0, KEY_READ, &k[i]), ERROR_SUCCESS);
  // Several levels at once, a skipped level, below the last level, another version.
  const std::pair<HKEY, const char *> wrong[] = {
      {HKEY_LOCAL_MACHINE, "Software\\Ostrane"}, {HKEY_LOCAL_MACHINE, "Quillmar"}, {k[1], "6.1"}, {k[3], "6.1"},
      {k[2], "6.2"}};
  for (auto [key, name] : wrong) {
    HKEY out = k[0];
    EXPECT_EQ(RegOpenKeyExA(key, name, 0, KEY_READ, &out), ERROR_FILE_NOT_FOUND) << name;
    EXPECT_EQ(out, nullptr);
  }

  BYTE data[16];
  DWORD type = 0, cb = sizeof data;
  ASSERT_EQ(RegQueryValueExA(k[3], "RootDir", nullptr, &type, data, &cb), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(cb, 14u);
  EXPECT_STREQ(reinterpret_cast<char *>(data), "/opt/quillmar");
  EXPECT_EQ(RegQueryValueExA(k[2], "RootDir", nullptr, &type, data, &cb), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExA(k[3], "Root", nullptr, &type, data, &cb), ERROR_FILE_NOT_FOUND);
  // The size alone; an area too small gets the size and nothing copied.
  cb = 0;
  EXPECT_EQ(RegQueryValueExA(k[3], "RootDir", nullptr, nullptr, nullptr, &cb), ERROR_SUCCESS);
  EXPECT_EQ(cb, 14u);
  BYTE small[8] = {'z'};
  cb = sizeof small;
  EXPECT_EQ(RegQueryValueExA(k[3], "RootDir", nullptr, nullptr, small, &cb), ERROR_MORE_DATA);
  EXPECT_EQ(cb, 14u);
  EXPECT_EQ(small[0], 'z');

  UseRoot(nullptr);
  cb = sizeof data;
  EXPECT_EQ(RegQueryValueExA(k[3], "RootDir", nullptr, nullptr, data, &cb), ERROR_FILE_NOT_FOUND);
  for (HKEY key : k) EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

// ---------------------------------------------------------------- ErrorTextFile

// The shipped error text file: line format, order, and room in the text record.
TEST(ErrorTextFile, EveryNumberHasMessageExplanationAndResponse) {
  const std::string src = __FILE__;
  const std::string all = slurp(src.substr(0, src.rfind("tests/unit/")) + "data/errortxt.fil");
  ASSERT_FALSE(all.empty());
  ASSERT_EQ(all.back(), '\n');
  // Five digits, a mark, the kind, a blank, a text without outer blanks; each line is
  // read whole (newline included) into 254 characters; numbers ascend.
  const std::regex format(R"((\d{5})[^ ]([MER]) [^ ].*[^ ])");
  struct Texts {
    int len[3] = {};  // M, E, R: text and joining blank
    std::string kinds;
  };
  std::map<int, Texts> seen;
  int last = 0;
  std::istringstream in(all);
  for (std::string l; std::getline(in, l);) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(l, m, format) && l.size() + 1 <= 254u) << l;
    const int number = std::stoi(m[1]);
    ASSERT_GE(number, last) << l;
    last = number;
    Texts &t = seen[number];
    const char kind = l[6];
    t.len[std::string("MER").find(kind)] += static_cast<int>(l.size()) - 7;
    if (t.kinds.empty() || t.kinds.back() != kind) t.kinds += kind;
  }

  std::vector<int> numbers = {278};
  for (int n = 20010; n <= 20230; n += 10)
    if (n != 20140) numbers.push_back(n);
  for (int n = 30001; n <= 30028; ++n) numbers.push_back(n);
  EXPECT_EQ(seen.size(), numbers.size());
  for (int n : numbers) {
    const Texts &t = seen[n];
    EXPECT_EQ(t.kinds, "MER") << n;
    EXPECT_LT(t.len[0], 80) << n;  // the end zero must fit too
    EXPECT_LT(std::max(t.len[1], t.len[2]), 500) << n;  // explanation, response
  }
}

}  // namespace
