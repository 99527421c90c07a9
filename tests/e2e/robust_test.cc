// The interface when answers come late: a late answer is refused by the call it
// falls into and never read as the answer of any later call.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "installation.h"
#include "interface/exchange.h"
#include "interface/state.h"
#include "qlmc32.h"

using namespace qlm::test;

namespace {

// A successful, empty answer to a project list (response 259) with the request's reference.
constexpr const char kListAnswer[] =
    "reply 000C {len} 0100 0000 0000 0300 B90B 323539 {reflen} 6400 {ref} 0100 6700 30 0000 3100\n";

class LateAnswers : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QLM_WAIT_SCALE_MS", "50", 1);  // one receive attempt: 250 ms
    setenv("QLM_DOUBLE_SCRIPT", (inst.root() + "/script").c_str(), 1);
    setenv("QLM_DOUBLE_LOG", (inst.root() + "/double.log").c_str(), 1);
    setenv("QLM_DOUBLE_IDLE_MS", "20000", 1);
  }
  void TearDown() override { qlm::cfResetReceiveTimeoutValue(); }
  void script(const std::string &text) { std::ofstream(inst.root() + "/script") << text; }
  static unsigned list() {
    QlmPaging paging;
    blank(paging);
    put(paging.startentry, "1");
    put(paging.numentries, "1");
    uint16_t count = 7;
    const unsigned rc = QlmListProj(raw(&paging), &count, nullptr);
    return rc == 0 && count != 0 ? 99u : rc;
  }
  static int lastError() { return static_cast<int>(QlmErrorExplanation(nullptr)); }
  Installation inst{QLM_DOUBLE_PATH};
};

}  // namespace

TEST_F(LateAnswers, ALateAnswerCostsAtMostTheCallItFallsInto) {
  // 1: answered after its caller gave up, before the next call; 2 and 3: on time;
  // 4: answered so late that call 5 stops waiting for it before sending, so that it
  // falls into call 5's wait; 5, 6 and 7: on time.
  std::string s;
  for (int sleepMs : {600, 0, 0, 800, 0, 0, 0})
    s += "request\n" + (sleepMs ? "sleep " + std::to_string(sleepMs) + "\n" : std::string()) + kListAnswer;
  script(s);
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  qlm::cfSetReceiveTimeoutValue(0);  // one attempt of 250 ms per call
  EXPECT_EQ(list(), 12u);             // 1 gives up
  EXPECT_EQ(lastError(), QLM_ERR_NO_LINK);
  usleep(700 * 1000);                 // its answer arrives between the calls
  EXPECT_EQ(list(), 0u);              // 2 is not mistaken for 1
  EXPECT_EQ(list(), 0u);              // 3
  EXPECT_EQ(list(), 12u);             // 4 gives up
  qlm::cfSetReceiveTimeoutValue(10);
  EXPECT_EQ(list(), 12u);             // 5 waits for 4's answer for one attempt, sends, then
  EXPECT_EQ(lastError(), QLM_ERR_MALFORMED);  // receives 4's answer: refused by its reference
  EXPECT_EQ(list(), 0u);              // 6: 5's own answer, still to come, is dropped first
  EXPECT_EQ(list(), 0u);              // 7
  ASSERT_EQ(QlmCloseCInterface(), 0u);
}
