// The SQLite storage: rollbacks, exact keys, field changes, what a project's
// removal takes along, open marks of ended processes, files that are not its
// database. Durability across restarts is proven end to end (tests/e2e).
#include "store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "test_support.h"

namespace qlm::rqmgr {
namespace {

constexpr std::uint16_t kProj = 451, kAddr = 105, kList = 135;
constexpr const char kStamp[] = "20240101120000";

class StoreTest : public ::testing::Test {
 protected:
  std::string path() const { return dir_.path() + "/q.db"; }
  // Runs one statement through a connection of its own; the first column of its first row.
  std::string sql(const std::string &statement) const {
    sqlite3 *db = nullptr;
    sqlite3_stmt *st = nullptr;
    std::string out;
    EXPECT_EQ(sqlite3_open(path().c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_prepare_v2(db, statement.c_str(), -1, &st, nullptr), SQLITE_OK) << statement;
    if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
      out = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
  }
  test::TempDir dir_;
};

TEST_F(StoreTest, RollbacksLeaveNothingKeysAreExactAndValuesAreBytes) {
  Store s(path());
  s.begin(true);
  const auto p1 = s.add(kInstallation, kProj, "P1", {}, kStamp);
  const auto p2 = s.add(kInstallation, kProj, "P2", {}, kStamp);
  s.add(p1, kAddr, "BOB", {{116, std::string("a\0b", 3)}}, kStamp);
  s.add(p2, kAddr, "BOB", {}, kStamp);  // another project
  s.add(p1, kList, "BOB", {}, kStamp);  // another kind
  s.add(p1, kAddr, "bob", {}, kStamp);  // another key
  EXPECT_THROW(s.add(p1, kAddr, "BOB", {}, kStamp), StoreError);
  s.commit();
  s.begin(true);
  s.add(kInstallation, kProj, "Lost", {}, kStamp);
  s.rollback();
  s.begin(false);
  auto bob = s.find(p1, kAddr, "BOB");
  ASSERT_TRUE(bob);
  EXPECT_EQ(bob->fields, (Fields{{116, std::string("a\0b", 3)}}));
  EXPECT_FALSE(s.find(p1, kAddr, "Bob"));
  EXPECT_EQ(s.entries(p1, kAddr).size(), 2u);
  EXPECT_FALSE(s.find(kInstallation, kProj, "Lost"));
  s.commit();
  EXPECT_EQ(sql("PRAGMA journal_mode"), "wal");
}

TEST_F(StoreTest, ChangeSetsAndClearsAndAProjectGoesWithEverythingInIt) {
  Store s(path());
  s.begin(true);
  const auto p = s.add(kInstallation, kProj, "P", {}, kStamp);
  const auto a = s.add(p, kAddr, "A", {{106, "x"}, {107, "y"}, {108, "z"}}, kStamp);
  const std::uint16_t clear[] = {106, 107};
  s.change(a, {{107, "new"}}, clear, "20240202000000");
  auto e = s.get(a);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->fields, (Fields{{107, "new"}, {108, "z"}}));  // 108 is not among the cleared
  EXPECT_EQ(e->created + "/" + e->changed, std::string(kStamp) + "/20240202000000");

  const auto list = s.add(p, kList, "L", {}, kStamp);
  EXPECT_TRUE(s.assign(list, a));
  s.markOpen(p, "P000000001");
  s.remove(p);
  EXPECT_FALSE(s.get(a) || s.get(list));
  s.commit();
  EXPECT_EQ(sql("SELECT count(*) FROM assignments") + sql("SELECT count(*) FROM opened"), "00");
}

TEST_F(StoreTest, OpenMarksOfEndedProcessesDoNotCountAndArePruned) {
  Store s(path());
  s.begin(true);
  const auto p = s.add(kInstallation, kProj, "Shared", {}, kStamp);
  s.markOpen(p, "P000000001");
  s.commit();
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  sql("INSERT INTO opened(project, owner, handle) VALUES(" + std::to_string(p) + ", '" + std::to_string(child) +
      ":1', 'P000000009')");
  s.begin(false);
  EXPECT_FALSE(s.isOpen(p, false));
  s.commit();
  s.pruneOpenMarks();  // at start-up: the ended process's marks and this pid's old ones
  EXPECT_EQ(sql("SELECT count(*) FROM opened"), "0");
}

TEST_F(StoreTest, RefusesFilesThatAreNotItsDatabase) {
  std::ofstream(dir_.path() + "/junk.db") << std::string(4096, 'x');
  EXPECT_THROW(Store{dir_.path() + "/junk.db"}, StoreError);
  EXPECT_THROW(Store{dir_.path() + "/missing/q.db"}, StoreError);
}

}  // namespace
}  // namespace qlm::rqmgr
