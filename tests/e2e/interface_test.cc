// The interface against the scriptable Request Manager double: failed handshakes,
// the shutdown bytes, a server that dies while a request waits. (How many attempts
// an unanswered request makes: tests/unit/families_test.cc; the link's codes:
// tests/unit/link_test.cc.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installation.h"
#include "interface/state.h"
#include "qlmc32.h"

using namespace qlm::test;

namespace {

class WithDouble : public ::testing::Test {
 protected:
  void script(const std::string &text) { useDouble(inst.root(), text, 50); }
  Installation inst{QLM_DOUBLE_PATH};
};

}  // namespace

TEST_F(WithDouble, RefusedOrSilentHandshakeFailsAndALaterOpenWorks) {
  script("init refuse\ninit silent\n");
  // A failed open leaves the interface closed, so the explanation is the built-in
  // one of an interface that is not open.
  for (int i = 0; i < 2; ++i) {  // refused; no answer to the Init within its wait
    EXPECT_EQ(QlmOpenCInterface(), 12u);
    EXPECT_EQ(qlm::ifc().cfReturnCode, QLM_ERR_NO_LINK);
    EXPECT_EQ(lastError(), QLM_ERR_INTERFACE_NOT_OPEN);
  }
  ASSERT_EQ(QlmOpenCInterface(), 0u);  // every further Init is accepted
  ASSERT_EQ(QlmCloseCInterface(), 0u);
}

TEST_F(WithDouble, CloseSendsTheShutdownRequestAndARequestWhoseServerDiesFailsWithNoLink) {
  script("request\ndie\n");
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  ASSERT_EQ(QlmCloseCInterface(), 0u);
  EXPECT_TRUE(Installation::waitServerGone(inst.run()));
  // The double's log: "REQMNGR <hex>" of the one data poke, past its ICC header: the
  // reference (item 100) before the request identifier 3000 "47", then the segment end.
  const std::vector<std::string> pokes = doubleLog(inst.root(), "REQMNGR ");
  ASSERT_EQ(pokes.size(), 1u);
  Bytes m;
  for (std::size_t i = 8 + 16; i + 1 < pokes[0].size(); i += 2) m.push_back(std::stoi(pokes[0].substr(i, 2), 0, 16));
  const Segments segs = decode(m.data(), static_cast<int>(m.size()));
  EXPECT_EQ(m[4], 1);  // rmilNumSegs
  ASSERT_EQ(segs.size(), 1u);
  EXPECT_EQ(segs[0], (Segment{{100, segs[0].at(0).second}, {3000, "47"}}));  // whatever the reference
  EXPECT_EQ(Bytes(m.end() - 4, m.end()), (Bytes{0, 0, 49, 0}));

  // A new server; it dies while a request waits: the request fails with no link,
  // and closing has nothing left to shut down.
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  auto pages = paging("1");
  uint16_t count = 0;
  EXPECT_EQ(codeOf(QlmListProj(raw(&pages), &count, nullptr)), code(12, QLM_ERR_NO_LINK));
  EXPECT_EQ(QlmCloseCInterface(), 0u);
}
