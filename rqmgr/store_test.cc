// The SQLite storage: durability across reopening, keys, cascades, assignments,
// sharing one file between connections, open marks.
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
constexpr std::uint16_t kAdbk[] = {kAddr, kList};

class StoreTest : public ::testing::Test {
 protected:
  std::string path() const { return dir_.path() + "/q.db"; }
  test::TempDir dir_;
};

TEST_F(StoreTest, CommittedEntriesSurviveReopeningAndRolledBackOnesDoNot) {
  {
    Store s(path());
    s.begin(true);
    const auto p = s.add(kInstallation, kProj, "Alpha", {{453, "owner"}}, "20240101120000");
    s.add(p, kAddr, "BOB", {{111, "Rome"}, {116, std::string("a\0b", 3)}}, "20240101120000");
    s.commit();
    s.begin(true);
    s.add(kInstallation, kProj, "Lost", {}, "20240101120000");
    s.rollback();
  }
  Store s(path());
  s.begin(false);
  auto p = s.find(kInstallation, kProj, "Alpha");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->fields.at(453), "owner");
  EXPECT_EQ(p->created, "20240101120000");
  auto bob = s.find(p->id, kAddr, "BOB");
  ASSERT_TRUE(bob);
  EXPECT_EQ(bob->fields.at(116), std::string("a\0b", 3));  // values are bytes
  EXPECT_FALSE(s.find(kInstallation, kProj, "Lost"));
  s.commit();

  // The file is a WAL database with the schema version written.
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(path().c_str(), &db), SQLITE_OK);
  sqlite3_stmt *st = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &st, nullptr);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)), "wal");
  sqlite3_finalize(st);
  sqlite3_close(db);
}

TEST_F(StoreTest, KeysAreExactPerScopeAndKind) {
  Store s(path());
  s.begin(true);
  const auto p1 = s.add(kInstallation, kProj, "P1", {}, Store::now());
  const auto p2 = s.add(kInstallation, kProj, "P2", {}, Store::now());
  s.add(p1, kAddr, "BOB", {}, Store::now());
  s.add(p2, kAddr, "BOB", {}, Store::now());  // another project
  s.add(p1, kList, "BOB", {}, Store::now());  // another kind
  s.add(p1, kAddr, "bob", {}, Store::now());  // another key
  EXPECT_THROW(s.add(p1, kAddr, "BOB", {}, Store::now()), StoreError);
  s.rollback();
  EXPECT_EQ(Store::now().size(), 14u);
}

TEST_F(StoreTest, ChangeSetsAndClearsAndRemoveCascades) {
  Store s(path());
  s.begin(true);
  const auto p = s.add(kInstallation, kProj, "P", {}, "20240101000000");
  const auto a = s.add(p, kAddr, "A", {{106, "x"}, {107, "y"}, {108, "z"}}, "20240101000000");
  const std::uint16_t clear[] = {106, 107};
  s.change(a, {{107, "new"}}, clear, "20240202000000");
  auto e = s.get(a);
  EXPECT_FALSE(e->fields.count(106));
  EXPECT_EQ(e->fields.at(107), "new");
  EXPECT_EQ(e->fields.at(108), "z");  // not among the replaceable fields
  EXPECT_EQ(e->changed, "20240202000000");
  EXPECT_EQ(e->created, "20240101000000");

  const auto list = s.add(p, kList, "L", {}, Store::now());
  const auto b = s.add(p, kAddr, "B", {}, Store::now());
  EXPECT_TRUE(s.assign(list, b));
  EXPECT_TRUE(s.assign(list, a));
  EXPECT_FALSE(s.assign(list, a));
  auto members = s.members(list, kAddr);
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(members[0].key, "B");  // in the order assigned
  EXPECT_EQ(s.count(p, kAdbk), 3);
  EXPECT_EQ(s.containerCount(a, kList), 1);

  // Removing a member drops its assignments; removing the project drops everything in it.
  s.remove(b);
  EXPECT_EQ(s.members(list, kAddr).size(), 1u);
  EXPECT_FALSE(s.unassign(list, b));
  s.markOpen(p, "P000000001");
  EXPECT_TRUE(s.isOpen(p, true));
  EXPECT_FALSE(s.isOpen(p, false));  // only this process holds it
  s.remove(p);
  EXPECT_EQ(s.count(p, kAdbk), 0);
  EXPECT_FALSE(s.get(a));
  EXPECT_FALSE(s.isOpen(p, true));
  s.commit();
}

TEST_F(StoreTest, TwoConnectionsShareTheFileAndOpenMarksOfDeadProcessesAreIgnored) {
  Store one(path()), two(path());
  one.begin(true);
  const auto p = one.add(kInstallation, kProj, "Shared", {}, Store::now());
  one.commit();
  two.begin(false);
  EXPECT_TRUE(two.find(kInstallation, kProj, "Shared"));
  two.commit();

  // A mark left by a process that no longer exists does not count, and is pruned.
  const pid_t child = fork();
  if (child == 0) _exit(0);
  int status;
  waitpid(child, &status, 0);
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(path().c_str(), &db), SQLITE_OK);
  const std::string sql = "INSERT INTO opened(project, pid, handle) VALUES(" + std::to_string(p) + ", " +
                          std::to_string(child) + ", 'P000000009')";
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  one.begin(false);
  EXPECT_FALSE(one.isOpen(p, false));
  one.commit();
  one.pruneOpenMarks();
  sqlite3_stmt *st = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM opened", -1, &st, nullptr);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(st, 0), 0);
  sqlite3_finalize(st);

  // A database of an unknown schema version is refused.
  ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  EXPECT_THROW(Store{path()}, StoreError);
}

TEST_F(StoreTest, OpeningAFileThatIsNoDatabaseFails) {
  { std::ofstream(path()) << std::string(4096, 'x'); }
  EXPECT_THROW(Store{path()}, StoreError);
  EXPECT_THROW(Store{dir_.path() + "/missing/q.db"}, StoreError);
}

}  // namespace
}  // namespace qlm::rqmgr
