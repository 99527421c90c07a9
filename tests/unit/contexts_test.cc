// Closing a project against a scripted peer: what is closed for it, and what is
// left open when one of those closes fails.
#include <gtest/gtest.h>

#include <vector>

#include "qlmc32.h"
#include "scripted_link.h"

using namespace qlm;
using namespace qlm::test;

class Contexts : public LibraryTest {};

TEST_F(Contexts, CloseProjStopsAtTheFirstAgentCloseThatFails) {
  // A failed close ends the project's close at once: nothing more is sent, and
  // what was not closed stays open. A failure without an error segment is 1.
  const struct {
    int adbkCode, mboxCode;     // return codes of the two close answers (-1: not answered)
    bool errorSegments;
    std::vector<int> requests;  // request identifiers sent, in order
    bool mboxOpen;              // afterwards
  } cases[] = {
      {20, -1, false, {102}, true},
      {16, -1, true, {102}, true},
      {0, 20, true, {102, 352}, true},
  };
  for (const auto &c : cases) {
    ScriptedLink::sent.clear();
    ScriptedLink::replies.clear();
    cfClearProjTable();
    openContext("Proj", true, true, false);
    for (const auto &[id, code] : {std::pair{103, c.adbkCode}, std::pair{353, c.mboxCode}}) {
      Reply r{.responseId = id, .returnCode = code};
      if (code > 0 && c.errorSegments) r.segment(errorSegment("30010"));
      if (code >= 0) reply(r);
    }
    auto name = inContext<QlmContextName>("Proj");
    EXPECT_NE(QlmCloseProj(raw(&name)), 0u);
    std::vector<int> requests;
    for (const Segments &s : ScriptedLink::sent) requests.push_back(std::stoi(s[0][0].second));
    EXPECT_EQ(requests, c.requests) << c.adbkCode << "/" << c.mboxCode;
    ProjEntry e{};
    ASSERT_EQ(cfGetProjEntry(name.context, &e), 1);  // the project stays open
    EXPECT_EQ(handleSet(e.mboxHandle), c.mboxOpen);
  }
}
