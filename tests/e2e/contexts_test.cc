// Opening and closing the interface and the contexts against the real Request
// Manager, the texts of refusals, and a database of the first version. What the
// library refuses before it sends anything is tested in tests/unit, what the server
// stores and refuses in rqmgr/.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "installation.h"
#include "network_app.h"
#include "qlmc32.h"

using namespace qlm::test;

namespace {

QlmContextName ctx(const char *name) { return inContext<QlmContextName>(name); }

QlmRc addProject(const char *name) {
  auto p = blankRecord<QlmProj>();
  put(p.projname, name);
  return QlmAddProj(raw(&p), nullptr);
}

QlmRc openProject(const char *name) {
  auto o = inContext<QlmProjOpen>(name);
  return QlmOpenProj(raw(&o), nullptr);
}

}  // namespace

TEST(Interface, OpenReusesTheServerCloseEndsItAndTheDataStays) {
  Installation inst;
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  EXPECT_GT(Installation::serverPid(inst.run()), 0);
  EXPECT_EQ(codeOf(QlmOpenCInterface()), code(8, QLM_ERR_INTERFACE_OPEN));
  ASSERT_EQ(addProject("Kept"), 0u);
  ASSERT_EQ(QlmCloseCInterface(), 0u);
  EXPECT_TRUE(Installation::waitServerGone(inst.run()));
  EXPECT_EQ(codeOf(QlmCloseCInterface()), code(8, QLM_ERR_INTERFACE_NOT_OPEN));
  QlmContextName kept = ctx("Kept");
  // A closed interface refuses every request.
  EXPECT_EQ(codeOf(QlmOpenAdbk(raw(&kept))), code(8, QLM_ERR_INTERFACE_NOT_OPEN));
  // Open again, twice: a new server each time, the data kept, nothing open.
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(QlmOpenCInterface(), 0u);
    EXPECT_EQ(codeOf(QlmOpenAdbk(raw(&kept))), code(8, QLM_ERR_PROJ_NOT_OPEN));
    EXPECT_EQ(openProject("Kept"), 0u);
    ASSERT_EQ(QlmCloseCInterface(), 0u);
  }
}

TEST(Contexts, TheServersAnswersOpenAndCloseThemInTheLibrary) {
  Installation inst;
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  QlmContextName alpha = ctx("Alpha");
  EXPECT_EQ(codeOf(openProject("Alpha")), code(16, 30004));  // the server refuses: no such project
  ASSERT_EQ(addProject("Alpha"), 0u);  // adding opens it
  EXPECT_EQ(codeOf(openProject("ALPHA")), code(8, QLM_ERR_PROJ_OPEN));
  ASSERT_EQ(QlmOpenAdbk(raw(&alpha)), 0u);
  ASSERT_EQ(QlmOpenMbox(raw(&alpha)), 0u);
  ASSERT_EQ(QlmOpenMsys(raw(&alpha)), 0u);
  ASSERT_EQ(QlmCloseMsys(raw(&alpha)), 0u);

  // Closing the project closes its address book and mailbox first, with a warning.
  const struct {
    QlmRc (*open)(char *);
    int warning;
  } closes[] = {{nullptr, QLM_ERR_PROJ_CLOSED_BOTH_OPEN},  // both are open
                {QlmOpenAdbk, QLM_ERR_PROJ_CLOSED_ADBK_OPEN},
                {QlmOpenMbox, QLM_ERR_PROJ_CLOSED_MBOX_OPEN}};
  for (const auto &c : closes) {
    ASSERT_EQ(c.open ? c.open(raw(&alpha)) : 0u, 0u);  // opened first, when the row says so
    EXPECT_EQ(codeOf(QlmCloseProj(raw(&alpha))), code(4, c.warning));
    EXPECT_EQ(codeOf(QlmOpenAdbk(raw(&alpha))), code(8, QLM_ERR_PROJ_NOT_OPEN));
    ASSERT_EQ(openProject("Alpha"), 0u);
  }
  EXPECT_EQ(QlmCloseProj(raw(&alpha)), 0u);
  ASSERT_EQ(QlmCloseCInterface(), 0u);
}

TEST(Texts, RefusalsAreExplainedFromTheServerAndTheInstallationsFile) {
  Installation inst;
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  // The server's refusal: its error segment's number and message.
  EXPECT_EQ(outcome(openProject("Nope")), "16 30004 The project does not exist");
  // The library's refusal: the texts of the installation's error text file.
  QlmContextName blankName = blankRecord<QlmContextName>();
  EXPECT_EQ(QlmOpenAdbk(raw(&blankName)), 8u);
  QlmErrText t{};
  EXPECT_EQ(QlmErrorExplanation(raw(&t)), static_cast<QlmRc>(QLM_ERR_BLANK_CONTEXT));
  EXPECT_GT(std::strlen(t.errorexplanation), 10u);
  // The server's texts of any number, on request.
  ASSERT_EQ(addProject("Texts"), 0u);
  auto req = inContext<QlmErrTextReq>("Texts");
  put(req.errornumber, "30006");
  QlmRetrievedErrText texts{};
  ASSERT_EQ(QlmRetrieveErrText(raw(&req), raw(&texts)), 0u);
  EXPECT_EQ(std::string(texts.errornumber, 5) + " " + texts.errormessage, "30006 The entry does not exist");
  EXPECT_STREQ(texts.field2657, "errortxt.fil");
  EXPECT_EQ(QlmRetrieveErrText(raw(&req), nullptr), 0u);  // no record asked for, none comes
  ASSERT_EQ(QlmCloseCInterface(), 0u);
}

TEST(Durability, ADatabaseOfTheFirstVersionIsUpgradedAndListsByItsNewIndexes) {
  // tests/data/quillmar-v1.db: what the sample's first run left in a version-1
  // database, made by the Request Manager of that version.
  Installation inst;
  if (inst.postgres()) GTEST_SKIP() << "an SQLite file";
  std::filesystem::copy_file(QLM_SOURCE_DIR "/tests/data/quillmar-v1.db", inst.root() + "/data/quillmar.db");
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  ASSERT_EQ(openProject("Daybook"), 0u);
  QlmContextName c = ctx("Daybook");
  ASSERT_EQ(QlmOpenAdbk(raw(&c)), 0u);
  auto q = listQualifier("", "city", "10", "Daybook");
  put(q.sortorder, "D");
  QlmAddr addrs[10];
  blank(addrs);
  uint16_t count = 0;
  ASSERT_EQ(QlmListAddr(raw(&q), &count, raw(addrs)), 0u);
  std::string names;
  for (int i = 0; i < count; ++i) names += text(addrs[i].nickname) + "/" + text(addrs[i].city) + " ";
  EXPECT_EQ(names, "alan/Wilmslow ada/London grace/Arlington ");
  ASSERT_EQ(QlmCloseCInterface(), 0u);
}
