// Where a test's store lives. The tests run against SQLite by default; with
// QLM_TEST_PG set to the connection string of a PostgreSQL cluster's admin
// database (tools/pg-cluster.sh prints one), each TestDatabase is a fresh database
// of that cluster, dropped again at the end.
#pragma once
#include <string>

namespace qlm::test {

class TestDatabase {
 public:
  // `sqlitePath`: the file to use when the tests run against SQLite.
  explicit TestDatabase(std::string sqlitePath);
  ~TestDatabase();
  TestDatabase(const TestDatabase &) = delete;
  TestDatabase &operator=(const TestDatabase &) = delete;

  // What to open (Store's location, QLM_STORE): the file, or "postgresql:...".
  const std::string &location() const { return location_; }
  bool postgres() const { return !name_.empty(); }
  static bool postgresRun();  // QLM_TEST_PG is set

 private:
  std::string location_, name_;
};

}  // namespace qlm::test
