// The interface against the scriptable Request Manager double: failed
// handshakes, the shutdown bytes, a server that dies while a request waits.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "installation.h"
#include "interface/state.h"
#include "qlmc32.h"

using namespace qlm::test;

namespace {

class WithDouble : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QLM_WAIT_SCALE_MS", "50", 1);  // one "second" of the waits: 50 ms
    setenv("QLM_DOUBLE_SCRIPT", (inst.root() + "/script").c_str(), 1);
    setenv("QLM_DOUBLE_LOG", (inst.root() + "/double.log").c_str(), 1);
    setenv("QLM_DOUBLE_IDLE_MS", "20000", 1);
  }
  void script(const std::string &text) { std::ofstream(inst.root() + "/script") << text; }
  // The RMIL bytes of every request the double received on the data service.
  std::vector<std::vector<unsigned char>> requests() {
    std::ifstream log(inst.root() + "/double.log");
    std::vector<std::vector<unsigned char>> out;
    for (std::string line; std::getline(log, line);) {
      if (line.rfind("REQMNGR ", 0) != 0) continue;
      std::istringstream hex(line.substr(8));
      std::vector<unsigned char> bytes;
      for (std::string b; hex >> b;)
        for (size_t i = 0; i + 1 < b.size(); i += 2) bytes.push_back(static_cast<unsigned char>(std::stoi(b.substr(i, 2), nullptr, 16)));
      out.emplace_back(bytes.begin() + 8, bytes.end());  // past the ICC header
    }
    return out;
  }
  Installation inst{QLM_DOUBLE_PATH};
};

int lastError() { return static_cast<int>(QlmErrorExplanation(nullptr)); }

}  // namespace

TEST_F(WithDouble, RefusedOrSilentHandshakeFailsAndALaterOpenWorks) {
  script("init refuse\ninit silent\n");
  // A failed open leaves the interface closed, so the explanation is the
  // built-in one of an interface that is not open.
  EXPECT_EQ(QlmOpenCInterface(), 12u);
  EXPECT_EQ(qlm::ifc().cfReturnCode, QLM_ERR_NO_LINK);
  EXPECT_EQ(lastError(), QLM_ERR_INTERFACE_NOT_OPEN);
  EXPECT_EQ(QlmOpenCInterface(), 12u);  // no answer to the Init within its wait
  EXPECT_EQ(qlm::ifc().cfReturnCode, QLM_ERR_NO_LINK);
  ASSERT_EQ(QlmOpenCInterface(), 0u);  // every further Init is accepted
  ASSERT_EQ(QlmCloseCInterface(), 0u);
}

TEST_F(WithDouble, CloseSendsTheShutdownRequestAndWaitsForTheWindow) {
  script("");
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  ASSERT_EQ(QlmCloseCInterface(), 0u);
  EXPECT_TRUE(Installation::waitServerGone(inst.run()));
  const auto reqs = requests();
  ASSERT_EQ(reqs.size(), 1u);
  const auto &m = reqs[0];
  // Header: 10 bytes; then item 100 (the reference) before item 3000 "47", then the segment end.
  ASSERT_GE(m.size(), 10u + 4 + 1 + 4 + 2 + 4);
  EXPECT_EQ(m[4], 1);                          // one segment
  EXPECT_EQ(m[12] | (m[13] << 8), 100);        // first item: the reference
  const size_t next = 10 + 4 + m[10];
  EXPECT_EQ(m[next + 2] | (m[next + 3] << 8), 3000);
  EXPECT_EQ(std::string(m.begin() + next + 4, m.begin() + next + 6), "47");
  EXPECT_EQ(m[next + 6 + 2], 49);              // segment end
}

TEST_F(WithDouble, ARequestWhoseServerDiesFailsWithNoLink) {
  script("request\ndie\n");
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  QlmPaging paging;
  blank(paging);
  put(paging.startentry, "1");
  put(paging.numentries, "1");
  uint16_t count = 0;
  EXPECT_EQ(QlmListProj(raw(&paging), &count, nullptr), 12u);
  EXPECT_EQ(lastError(), QLM_ERR_NO_LINK);
  EXPECT_EQ(QlmCloseCInterface(), 0u);  // nothing left to shut down
  ASSERT_EQ(QlmOpenCInterface(), 0u);   // and a new server serves again
  ASSERT_EQ(QlmCloseCInterface(), 0u);
}

TEST_F(WithDouble, AnUnansweredRequestGivesUpAfterItsAttempts) {
  script("request\nsilent\n");
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  QlmPaging paging;
  blank(paging);
  put(paging.startentry, "1");
  put(paging.numentries, "1");
  uint16_t count = 0;
  EXPECT_EQ(QlmListProj(raw(&paging), &count, nullptr), 12u);  // 11 waits of 5 "seconds"
  EXPECT_EQ(lastError(), QLM_ERR_NO_LINK);
  ASSERT_EQ(QlmCloseCInterface(), 0u);
}
