// The store's schema and its upgrades.
//
// PRAGMA user_version holds the schema's version. A new database is made at the
// current version; an older one is upgraded step by step at start-up, in one
// transaction, after a consistent copy of it has been put aside as
// <database>.v<old version>-<YYYYMMDDhhmmss> (VACUUM INTO); a newer one is refused
// and left untouched. Versions:
//   1  entries, fields, assignments, opened
//   2  the network: message heads (their bodies are files beside the database),
//      sessions, sequences of the names the server makes, and an index of field
//      values (mailbox lookups)
//   3  lists inside the database: the index rows of every entry (sortkeys), the
//      entry counts of each kind (kind_counts, kept by triggers), meta
// After the steps, the sortkeys rows are made anew whenever the catalog they were
// made from differs from the Request Manager's (catalog.h), in the same transaction.
#include <sqlite3.h>

#include <iterator>
#include <string>

#include "catalog.h"
#include "store.h"
#include "store_sql.h"

namespace qlm::rqmgr {

namespace {

constexpr const char *kVersion1 = R"(
CREATE TABLE entries(
  id INTEGER PRIMARY KEY,
  scope INTEGER NOT NULL,
  kind INTEGER NOT NULL,
  key BLOB NOT NULL,
  created TEXT NOT NULL,
  changed TEXT NOT NULL,
  UNIQUE(scope, kind, key));
CREATE TABLE fields(
  entry INTEGER NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  name_id INTEGER NOT NULL,
  value BLOB NOT NULL,
  PRIMARY KEY(entry, name_id)) WITHOUT ROWID;
CREATE TABLE assignments(
  id INTEGER PRIMARY KEY,
  container INTEGER NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  member INTEGER NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  UNIQUE(container, member));
CREATE INDEX assignments_member ON assignments(member);
CREATE TABLE opened(
  project INTEGER NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  pid INTEGER NOT NULL,
  handle TEXT NOT NULL,
  PRIMARY KEY(pid, handle));
CREATE INDEX opened_project ON opened(project);
)";

constexpr const char *kVersion2 = R"(
CREATE INDEX fields_value ON fields(name_id, value);
CREATE TABLE messages(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  sender BLOB NOT NULL,
  receiver BLOB NOT NULL,
  class BLOB NOT NULL,
  subject BLOB NOT NULL,
  filename BLOB NOT NULL,
  size INTEGER NOT NULL,
  sent TEXT NOT NULL);
CREATE INDEX messages_receiver ON messages(receiver, id);
CREATE TABLE sessions(
  receipt INTEGER PRIMARY KEY REFERENCES entries(id) ON DELETE CASCADE,
  logon INTEGER NOT NULL,
  mailbox BLOB NOT NULL,
  owner TEXT NOT NULL,
  handle TEXT NOT NULL);
CREATE INDEX sessions_logon ON sessions(logon);
CREATE TABLE sequences(
  scope INTEGER NOT NULL,
  kind INTEGER NOT NULL,
  next INTEGER NOT NULL,
  PRIMARY KEY(scope, kind)) WITHOUT ROWID;
)";

constexpr const char *kVersion3 = R"(
CREATE TABLE sortkeys(
  entry INTEGER NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  code INTEGER NOT NULL,
  scope INTEGER NOT NULL,
  kind INTEGER NOT NULL,
  grp INTEGER NOT NULL,
  class INTEGER NOT NULL,
  num INTEGER,
  text BLOB NOT NULL,
  kclass INTEGER NOT NULL,
  knum INTEGER,
  ktext BLOB NOT NULL,
  PRIMARY KEY(entry, code)) WITHOUT ROWID;
CREATE INDEX sortkeys_kind ON sortkeys(scope, kind, code, class, num, text, kclass, knum, ktext, entry);
CREATE INDEX sortkeys_group ON sortkeys(scope, grp, code, class, num, text, kclass, knum, ktext, entry)
  WHERE grp <> kind;
CREATE INDEX sortkeys_text ON sortkeys(scope, kind, code, text);
CREATE TABLE kind_counts(
  scope INTEGER NOT NULL,
  kind INTEGER NOT NULL,
  n INTEGER NOT NULL,
  PRIMARY KEY(scope, kind)) WITHOUT ROWID;
INSERT INTO kind_counts(scope, kind, n) SELECT scope, kind, count(*) FROM entries GROUP BY scope, kind;
CREATE TRIGGER entries_counted AFTER INSERT ON entries BEGIN
  INSERT INTO kind_counts(scope, kind, n) VALUES(new.scope, new.kind, 1)
    ON CONFLICT(scope, kind) DO UPDATE SET n = n + 1;
END;
CREATE TRIGGER entries_uncounted AFTER DELETE ON entries BEGIN
  UPDATE kind_counts SET n = n - 1 WHERE scope = old.scope AND kind = old.kind;
END;
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
)";

// The statements that take a database from version i to i + 1.
constexpr const char *kSteps[] = {kVersion1, kVersion2, kVersion3};

}  // namespace

bool Store::indexedFrom(const std::string &fingerprint) {
  sqlite3_stmt *get = prepare("SELECT value FROM meta WHERE key = 'catalog'");
  Use u(get);
  return sqlite3_step(get) == SQLITE_ROW && columnBytes(get, 0) == fingerprint;
}

void Store::indexFor(const std::string &fingerprint) {
  if (indexedFrom(fingerprint)) return;
  reindexAll();
  sqlite3_stmt *put = prepare("INSERT OR REPLACE INTO meta(key, value) VALUES('catalog', ?1)");
  Use u(put);
  bindText(put, 1, fingerprint);
  if (sqlite3_step(put) != SQLITE_DONE) fail("record the catalog");
}

int Store::schemaVersion() {
  sqlite3_stmt *v = prepare("PRAGMA user_version");
  Use u(v);
  return sqlite3_step(v) == SQLITE_ROW ? sqlite3_column_int(v, 0) : 0;
}

void Store::migrate(const std::string &path) {
  constexpr int kCurrent = static_cast<int>(std::size(kSteps));
  begin(false);
  const int found = schemaVersion();
  rollback();
  if (found > kCurrent)
    throw StoreError("the database schema version " + std::to_string(found) + " is newer than this Request Manager (" +
                     std::to_string(kCurrent) + ") knows; the database was left untouched");
  if (found == kCurrent) {
    begin(false);
    const bool current = indexedFrom(catalogFingerprint());
    rollback();
    if (current) return;  // also what a read-only store needs
    begin(true);
    try {
      indexFor(catalogFingerprint());
      commit();
    } catch (...) {
      rollback();
      throw;
    }
    return;
  }
  if (found > 0) {
    // A consistent copy of the old database, made before anything changes.
    const std::string copy = path + ".v" + std::to_string(found) + "-" + now();
    sqlite3_stmt *s = prepare("VACUUM INTO ?1");
    Use u(s);
    bindText(s, 1, copy);
    if (sqlite3_step(s) != SQLITE_DONE) fail("copying the database aside before its upgrade");
  }
  begin(true);
  try {
    // Another Request Manager may have upgraded it meanwhile.
    for (int v = schemaVersion(); v < kCurrent; ++v) exec(kSteps[v]);
    exec(("PRAGMA user_version = " + std::to_string(kCurrent)).c_str());
    indexFor(catalogFingerprint());
    commit();
  } catch (...) {
    rollback();
    throw;
  }
}

}  // namespace qlm::rqmgr
