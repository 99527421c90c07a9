#include "test_database.h"

#include <unistd.h>
#ifdef QLM_WITH_POSTGRES
#include <libpq-fe.h>
#endif

#include <atomic>
#include <cstdlib>
#include <stdexcept>

namespace qlm::test {

namespace {

std::string admin() {
  const char *v = std::getenv("QLM_TEST_PG");
  return v ? v : "";
}

void run(const std::string &sql) {
#ifndef QLM_WITH_POSTGRES
  throw std::runtime_error("built without PostgreSQL: " + sql);
#else
  PGconn *c = PQconnectdb(admin().c_str());
  if (PQstatus(c) != CONNECTION_OK) {
    const std::string msg = PQerrorMessage(c);
    PQfinish(c);
    throw std::runtime_error("test cluster: " + msg);
  }
  PGresult *r = PQexec(c, sql.c_str());
  const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
  const std::string msg = PQresultErrorMessage(r);
  PQclear(r);
  PQfinish(c);
  if (!ok) throw std::runtime_error("test cluster: " + sql + ": " + msg);
#endif
}

}  // namespace

bool TestDatabase::postgresRun() { return !admin().empty(); }

TestDatabase::TestDatabase(std::string sqlitePath) : location_(std::move(sqlitePath)) {
  if (!postgresRun()) return;
  static std::atomic<int> counter{0};
  name_ = "qlmt_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
  run("CREATE DATABASE " + name_);
  location_ = "postgresql:" + admin() + " dbname=" + name_;  // a later keyword wins
}

TestDatabase::~TestDatabase() {
  if (name_.empty()) return;
  try {
    run("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  } catch (...) {
  }
}

}  // namespace qlm::test
