// Opening and closing the interface and the contexts, and projects, against the
// real Request Manager.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "installation.h"
#include "qlmc32.h"

using namespace qlm::test;

namespace {

QlmContextName ctx(const char *name) {
  QlmContextName c;
  blank(c);
  put(c.context, name);
  return c;
}

QlmRc addProject(const char *name, const char *description = "", QlmProjInfo *info = nullptr) {
  QlmProj p;
  blank(p);
  put(p.projname, name);
  put(p.field454, description);
  return QlmAddProj(raw(&p), info ? raw(info) : nullptr);
}

QlmRc openProject(const char *name) {
  QlmProjOpen o;
  blank(o);
  put(o.context, name);
  return QlmOpenProj(raw(&o), nullptr);
}

int lastError() {
  QlmErrText t;
  return static_cast<int>(QlmErrorExplanation(raw(&t)));
}

std::set<std::string> listProjects(uint16_t *countOut = nullptr, const char *start = "1", const char *num = "500") {
  QlmPaging paging;
  blank(paging);
  put(paging.startentry, start);
  put(paging.numentries, num);
  static QlmProjInfo infos[500];
  std::memset(infos, ' ', sizeof infos);
  uint16_t count = 0;
  EXPECT_EQ(QlmListProj(raw(&paging), &count, raw(infos)), 0u);
  if (countOut) *countOut = count;
  std::set<std::string> names;
  for (int i = 0; i < count; ++i) names.insert(text(infos[i].projname));
  return names;
}

}  // namespace

TEST(Interface, OpenReusesTheServerAndCloseEndsIt) {
  Installation inst;
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  const pid_t server = Installation::serverPid(inst.run());
  EXPECT_GT(server, 0);
  EXPECT_EQ(QlmOpenCInterface(), 8u);
  EXPECT_EQ(lastError(), QLM_ERR_INTERFACE_OPEN);
  ASSERT_EQ(QlmCloseCInterface(), 0u);
  EXPECT_TRUE(Installation::waitServerGone(inst.run()));
  EXPECT_EQ(QlmCloseCInterface(), 8u);
  EXPECT_EQ(lastError(), QLM_ERR_INTERFACE_NOT_OPEN);
  // Open again: a new server; several cycles in a row.
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(QlmOpenCInterface(), 0u);
    ASSERT_EQ(QlmCloseCInterface(), 0u);
  }
}

TEST(Contexts, StateRulesOfProjectsAndAgents) {
  Installation inst;
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  QlmContextName alpha = ctx("Alpha");
  EXPECT_EQ(QlmOpenAdbk(raw(&alpha)), 8u);
  EXPECT_EQ(lastError(), QLM_ERR_PROJ_NOT_OPEN);
  EXPECT_EQ(openProject("Alpha"), 16u);  // the server refuses: no such project
  EXPECT_EQ(lastError(), 30004);
  ASSERT_EQ(addProject("Alpha", "first project"), 0u);     // adding opens it
  EXPECT_EQ(openProject("ALPHA"), 8u);
  EXPECT_EQ(lastError(), QLM_ERR_PROJ_OPEN);
  EXPECT_EQ(addProject("alpha"), 8u);
  EXPECT_EQ(lastError(), QLM_ERR_PROJ_OPEN);

  EXPECT_EQ(QlmCloseAdbk(raw(&alpha)), 8u);
  EXPECT_EQ(lastError(), QLM_ERR_ADBK_NOT_OPEN);
  EXPECT_EQ(QlmCloseMbox(raw(&alpha)), 8u);
  EXPECT_EQ(lastError(), QLM_ERR_MBOX_NOT_OPEN);
  EXPECT_EQ(QlmCloseMsys(raw(&alpha)), 8u);
  EXPECT_EQ(lastError(), QLM_ERR_MSYS_NOT_OPEN);

  ASSERT_EQ(QlmOpenAdbk(raw(&alpha)), 0u);
  EXPECT_EQ(QlmOpenAdbk(raw(&alpha)), 8u);
  EXPECT_EQ(lastError(), QLM_ERR_ADBK_OPEN);
  ASSERT_EQ(QlmOpenMbox(raw(&alpha)), 0u);
  EXPECT_EQ(QlmOpenMbox(raw(&alpha)), 8u);
  EXPECT_EQ(lastError(), QLM_ERR_MBOX_OPEN);
  ASSERT_EQ(QlmOpenMsys(raw(&alpha)), 0u);
  ASSERT_EQ(QlmCloseMsys(raw(&alpha)), 0u);

  // Closing the project closes address book and mailbox first: a warning.
  EXPECT_EQ(QlmCloseProj(raw(&alpha)), 4u);
  EXPECT_EQ(lastError(), QLM_ERR_PROJ_CLOSED_BOTH_OPEN);
  EXPECT_EQ(QlmOpenAdbk(raw(&alpha)), 8u);
  EXPECT_EQ(lastError(), QLM_ERR_PROJ_NOT_OPEN);

  ASSERT_EQ(openProject("Alpha"), 0u);
  ASSERT_EQ(QlmOpenAdbk(raw(&alpha)), 0u);
  EXPECT_EQ(QlmCloseProj(raw(&alpha)), 4u);
  EXPECT_EQ(lastError(), QLM_ERR_PROJ_CLOSED_ADBK_OPEN);
  ASSERT_EQ(openProject("Alpha"), 0u);
  ASSERT_EQ(QlmOpenMbox(raw(&alpha)), 0u);
  EXPECT_EQ(QlmCloseProj(raw(&alpha)), 4u);
  EXPECT_EQ(lastError(), QLM_ERR_PROJ_CLOSED_MBOX_OPEN);
  ASSERT_EQ(openProject("Alpha"), 0u);
  EXPECT_EQ(QlmCloseProj(raw(&alpha)), 0u);

  QlmContextName blankName;
  blank(blankName);
  EXPECT_EQ(QlmOpenAdbk(raw(&blankName)), 8u);
  EXPECT_EQ(lastError(), QLM_ERR_BLANK_CONTEXT);
  EXPECT_EQ(QlmOpenAdbk(nullptr), 8u);
  EXPECT_EQ(lastError(), QLM_ERR_NULL_RECORD);
  ASSERT_EQ(QlmCloseCInterface(), 0u);
  EXPECT_EQ(QlmOpenAdbk(raw(&alpha)), 8u);
  EXPECT_EQ(lastError(), QLM_ERR_INTERFACE_NOT_OPEN);
}

TEST(Projects, AddReplaceDeleteAndListAcrossMessages) {
  Installation inst;
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  QlmProjInfo info;
  blank(info);
  ASSERT_EQ(addProject("P000", "a description", &info), 0u);
  EXPECT_EQ(text(info.projname), "P000");
  EXPECT_EQ(text(info.field454), "a description");

  QlmProj p;
  blank(p);
  put(p.projname, "P000");
  put(p.field454, "changed");
  put(p.field461, "X");  // never sent by replace
  blank(info);
  ASSERT_EQ(QlmReplaceProj(raw(&p), raw(&info)), 0u);
  EXPECT_EQ(text(info.field454), "changed");

  // Enough projects that a list needs several 3072-byte messages.
  for (int i = 1; i < 40; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "P%03d", i);
    ASSERT_EQ(addProject(name, "a fairly long description to fill the messages up"), 0u) << name;
  }
  uint16_t count = 0;
  auto names = listProjects(&count);
  EXPECT_EQ(count, 40);
  EXPECT_EQ(names.size(), 40u);
  // Paging: the second page of ten.
  names = listProjects(&count, "11", "10");
  EXPECT_EQ(count, 10);
  EXPECT_TRUE(names.count("P010") && names.count("P019")) << *names.begin() << " " << *names.rbegin();
  // Paging limits are the library's refusals.
  QlmPaging paging;
  blank(paging);
  put(paging.startentry, "0");
  put(paging.numentries, "10");
  EXPECT_EQ(QlmListProj(raw(&paging), &count, nullptr), 8u);
  EXPECT_EQ(lastError(), QLM_ERR_BAD_STARTENTRY);
  put(paging.startentry, "1");
  EXPECT_EQ(QlmListProj(raw(&paging), nullptr, nullptr), 8u);  // a null count is refused
  EXPECT_EQ(lastError(), QLM_ERR_NULL_RECORD);

  blank(p);
  put(p.projname, "P005");
  ASSERT_EQ(QlmDeleteProj(raw(&p)), 0u);
  QlmContextName c5 = ctx("P005");
  EXPECT_EQ(QlmOpenAdbk(raw(&c5)), 8u);  // deleted: no longer open
  EXPECT_EQ(lastError(), QLM_ERR_PROJ_NOT_OPEN);
  names = listProjects(&count);
  EXPECT_EQ(count, 39);
  EXPECT_FALSE(names.count("P005"));
  ASSERT_EQ(QlmCloseCInterface(), 0u);
}

TEST(Projects, ServerRefusalsCarryTexts) {
  Installation inst;
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  ASSERT_EQ(addProject("Dup"), 0u);
  QlmContextName dup = ctx("Dup");
  ASSERT_EQ(QlmCloseProj(raw(&dup)), 0u);
  const QlmRc rc = addProject("Dup");  // exists in the database already
  EXPECT_NE(rc, 0u);
  QlmErrText t;
  std::memset(&t, 0, sizeof t);
  const QlmRc number = QlmErrorExplanation(raw(&t));
  EXPECT_NE(number, 0u);
  EXPECT_EQ(std::to_string(number), std::string(t.errornumber, 5));
  EXPECT_GT(std::strlen(t.errormessage), 5u) << "the server's error segment carries a message";

  // A library refusal is explained from the installation's error text file.
  QlmContextName blankName;
  blank(blankName);
  EXPECT_EQ(QlmOpenAdbk(raw(&blankName)), 8u);
  std::memset(&t, 0, sizeof t);
  EXPECT_EQ(QlmErrorExplanation(raw(&t)), static_cast<QlmRc>(QLM_ERR_BLANK_CONTEXT));
  EXPECT_GT(std::strlen(t.errorexplanation), 10u);

  // The server's texts for any number, on request.
  ASSERT_EQ(openProject("Dup"), 0u);
  QlmErrTextReq req;
  blank(req);
  put(req.context, "Dup");
  put(req.errornumber, "30006");
  QlmRetrievedErrText texts;
  std::memset(&texts, 0, sizeof texts);
  ASSERT_EQ(QlmRetrieveErrText(raw(&req), raw(&texts)), 0u);
  EXPECT_EQ(std::string(texts.errornumber, 5), "30006");
  EXPECT_GT(std::strlen(texts.errormessage), 5u);
  EXPECT_EQ(QlmRetrieveErrText(raw(&req), nullptr), 0u);  // no record asked for, none comes
  ASSERT_EQ(QlmCloseCInterface(), 0u);
}

TEST(Durability, ProjectsSurviveRestartAndKill) {
  Installation inst;
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  ASSERT_EQ(addProject("Kept"), 0u);
  ASSERT_EQ(QlmCloseCInterface(), 0u);  // the server ends

  ASSERT_EQ(QlmOpenCInterface(), 0u);   // a new server, same database
  EXPECT_TRUE(listProjects().count("Kept"));
  ASSERT_EQ(addProject("AfterKill"), 0u);
  const pid_t server = Installation::serverPid(inst.run());
  ASSERT_GT(server, 0);
  kill(server, SIGKILL);  // right after the acknowledged add
  ASSERT_TRUE(Installation::waitServerGone(inst.run()));
  QlmContextName c = ctx("Kept");
  EXPECT_EQ(QlmOpenAdbk(raw(&c)), 8u);  // not open in this process
  uint16_t count = 0;
  QlmPaging paging;
  blank(paging);
  put(paging.startentry, "1");
  put(paging.numentries, "10");
  EXPECT_EQ(QlmListProj(raw(&paging), &count, nullptr), 12u);  // the server is gone
  EXPECT_EQ(lastError(), QLM_ERR_NO_LINK);
  QlmCloseCInterface();

  ASSERT_EQ(QlmOpenCInterface(), 0u);
  auto names = listProjects();
  EXPECT_TRUE(names.count("Kept"));
  EXPECT_TRUE(names.count("AfterKill"));
  ASSERT_EQ(QlmCloseCInterface(), 0u);
}

// Runs the second application (another process, started afresh) and returns its exit status.
int secondApp(const std::string &runDir, const char *prefix, int count, const char *how, const char *expect = nullptr) {
  pid_t child = fork();
  if (child == 0) {
    setenv("QLM_RUNDIR", runDir.c_str(), 1);
    const std::string n = std::to_string(count);
    execl(QLM_SECOND_APP, QLM_SECOND_APP, prefix, n.c_str(), how, expect, static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

TEST(Applications, TwoProcessesShareOneServerWithoutCrossedAnswers) {
  Installation inst;
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  ASSERT_EQ(addProject("M00"), 0u);
  // The second application uses the same run directory, so the same server, and
  // goes away without closing: the server forgets it and keeps serving us.
  EXPECT_EQ(secondApp(inst.run(), "C", 20, "abandon", "M00"), 0);
  for (int i = 1; i < 20; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "M%02d", i);
    ASSERT_EQ(addProject(name), 0u);
  }
  uint16_t count = 0;
  listProjects(&count);
  EXPECT_EQ(count, 40);
  ASSERT_EQ(QlmCloseCInterface(), 0u);
}

TEST(Applications, EachWithItsOwnServerShareTheData) {
  Installation inst;
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  ASSERT_EQ(addProject("FromA"), 0u);
  EXPECT_EQ(secondApp(inst.newRunDir("b"), "FromB", 1, "close", "FromA"), 0);
  EXPECT_TRUE(listProjects().count("FromB00"));
  ASSERT_EQ(QlmCloseCInterface(), 0u);
}

TEST(Durability, ADatabaseOfTheFirstVersionIsUpgradedAndKeepsItsData) {
  // tests/data/quillmar-v1.db: what the sample's first run left in a version-1
  // database, made by the Request Manager of that version.
  Installation inst;
  if (inst.postgres()) GTEST_SKIP() << "an SQLite file";
  namespace fs = std::filesystem;
  fs::copy_file(QLM_SOURCE_DIR "/tests/data/quillmar-v1.db", inst.root() + "/data/quillmar.db");
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  ASSERT_EQ(openProject("Daybook"), 0u);
  QlmContextName c = ctx("Daybook");
  ASSERT_EQ(QlmOpenAdbk(raw(&c)), 0u);
  QlmListQual q;
  blank(q);
  put(q.context, "Daybook");
  put(q.sortfield, "city");
  put(q.sortorder, "D");
  put(q.startentry, "1");
  put(q.numentries, "10");
  QlmAddr addrs[10];
  blank(addrs);
  uint16_t count = 0;
  ASSERT_EQ(QlmListAddr(raw(&q), &count, raw(addrs)), 0u);
  std::string names;
  for (int i = 0; i < count; ++i) names += text(addrs[i].nickname) + "/" + text(addrs[i].city) + " ";
  EXPECT_EQ(names, "alan/Wilmslow ada/London grace/Arlington ");
  ASSERT_EQ(QlmCloseCInterface(), 0u);
  int copies = 0;
  for (const auto &f : fs::directory_iterator(inst.root() + "/data"))
    copies += f.path().filename().string().rfind("quillmar.db.v1-", 0) == 0;
  EXPECT_EQ(copies, 1);  // the version-1 file, put aside before the upgrade
}
