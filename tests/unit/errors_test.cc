// Error texts: the error text file, the built-in texts and error segments. (The
// record tools are tested as a C program uses them: tests/c_header_test.c.)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "interface/errors.h"
#include "interface/state.h"
#include "qlmc32.h"
#include "interface/buffer.h"

using namespace qlm;

namespace {

// An error file of the test's own (this test also runs in the Windows build, without
// the POSIX test support).
struct ErrorFile : ::testing::Test {
  char path[64] = "/tmp/qlmerrXXXXXX";
  void SetUp() override {
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::strcpy(ifc().errorFileName, path);
    ifc().interfaceOpen = 1;
  }
  void TearDown() override {
    std::remove(path);
    ifc().interfaceOpen = 0;
  }
  void write(const std::string &text) {
    FILE *f = std::fopen(path, "w");
    std::fputs(text.c_str(), f);
    std::fclose(f);
  }
  QlmRc explain(int error, QlmErrText *out) {
    std::memset(out, 'Z', sizeof *out);
    ifc().cfReturnCode = error;
    return QlmErrorExplanation(reinterpret_cast<char *>(out));
  }
};

}  // namespace

TEST_F(ErrorFile, JoinsLinesOfOneNumberByKind) {
  write("20120-M Not open\n"
        "20130-M The context name is blank\n"
        "20130-E First part\n"
        "20130-E second part\n"
        "20130-R Fill in the name\n"
        "20140-M Next number\n");
  QlmErrText t;
  EXPECT_EQ(explain(20130, &t), 20130u);
  EXPECT_EQ(std::string(t.errornumber, 5) + t.errormessage, "20130The context name is blank ");
  EXPECT_STREQ(t.errorexplanation, "First part second part ");
  EXPECT_STREQ(t.errorresponse, "Fill in the name ");
  EXPECT_EQ(ifc().cfReturnCode, 0);  // explained: forgotten
  // A second call explains the Request Manager's last error number (none here).
  ifc().rmilReturnCode = 0;
  EXPECT_EQ(QlmErrorExplanation(reinterpret_cast<char *>(&t)), 0u);
}

TEST_F(ErrorFile, AbsentNumbersAndMalformedLines) {
  write("20010-M Low\n20020-M Lower\n");
  QlmErrText t;
  EXPECT_EQ(explain(20130, &t), 0u);            // all numbers below: nothing copied
  EXPECT_EQ(t.errornumber[0], 'Z');
  // A greater number first, a message text longer than 80, an unknown kind, no blank after the kind.
  for (const std::string &file : {std::string("20010-M Low\n20200-M High\n"), "20130-M " + std::string(81, 'm') + "\n",
                                  std::string("20130-X Unknown kind\n"), std::string("20130-Mnoblank\n")}) {
    write(file);
    EXPECT_EQ(explain(20130, &t), 4u) << file;
  }
  write("20130-M " + std::string(80, 'm') + "\n");
  EXPECT_EQ(explain(20130, &t), 20130u);
  EXPECT_EQ(std::string(t.errormessage, 80), std::string(80, 'm'));  // never past the field
  EXPECT_EQ(t.errorexplanation[0], '\0');
}

TEST_F(ErrorFile, BuiltInTexts) {
  std::remove(path);
  QlmErrText t;
  EXPECT_EQ(explain(20130, &t), 28000u);
  EXPECT_EQ(std::string(t.errornumber, 5) + t.errormessage, "28000Failed to obtain error description.");
  EXPECT_NE(std::strstr(t.errorexplanation, path), nullptr);
  ifc().interfaceOpen = 0;
  EXPECT_EQ(explain(20130, &t), 20120u);
  EXPECT_STREQ(t.errormessage, "The C-Language Interface is not open");
  EXPECT_EQ(QlmErrorExplanation(nullptr), 0u);  // a null record is allowed
}

TEST(ErrorSegment, TakesNumberMessageAndPiecesInOrder) {
  std::uint8_t storage[wire::kBufSize];
  rmil::Message r(storage);
  r.clear();
  r.addRaw(3001, "105");
  r.endSegment();
  // 52 is missing: the explanation stops after 51; 64 would pass 500: left out.
  const std::pair<std::uint16_t, std::string> items[] = {
      {9983, "40"}, {40, "30007"}, {41, "Duplicate key"}, {51, "one "}, {53, "three"}, {61, std::string(130, 'a')},
      {62, std::string(130, 'b')}, {63, std::string(130, 'c')}, {64, std::string(130, 'd')}};
  for (const auto &[id, value] : items) r.addRaw(id, value);
  r.endSegment();
  std::memcpy(cfMessage().data(), storage, r.length());
  cfMessage().received(r.length());
  ifc().cfReturnCode = 20010;
  ASSERT_EQ(cfFindErrorSeg(), 0);
  EXPECT_EQ(ifc().rmilReturnCode, 30007);
  EXPECT_EQ(ifc().cfReturnCode, 0);
  QlmErrText t;
  EXPECT_EQ(QlmErrorExplanation(reinterpret_cast<char *>(&t)), 30007u);
  EXPECT_EQ(std::string(t.errornumber, 5) + t.errormessage, "30007Duplicate key");
  EXPECT_STREQ(t.errorexplanation, "one ");
  EXPECT_EQ(std::strlen(t.errorresponse), 390u);
}
