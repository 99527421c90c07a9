// The store's schema and its upgrades, for each engine.
//
// The schema's version is kept where the engine keeps such things (Db): SQLite's
// PRAGMA user_version, PostgreSQL's meta table. A new database is made at the
// current version; an older one is upgraded step by step at start-up, in one
// transaction (for SQLite after a consistent copy of it has been put aside as
// <database>.v<old version>-<YYYYMMDDhhmmss>, VACUUM INTO; PostgreSQL changes its
// schema in the transaction, which a failure undoes whole); a newer one is refused
// and left untouched. Versions:
//   1  entries, fields, assignments, opened
//   2  the network: message heads (their bodies are files beside the database),
//      sessions, sequences of the names the server makes, and an index of field
//      values (mailbox lookups)
//   3  lists inside the database: the index rows of every entry (sortkeys); the
//      values that must be unique in the installation (unique_values); meta; open
//      marks carry their owner's mark instead of a process id
// PostgreSQL databases start at version 3 (message bodies are rows of bodies).
// After the steps, the sortkeys rows are made anew whenever the catalog they were
// made from differs from the Request Manager's (catalog.h), in the same transaction.
#include <iterator>
#include <span>
#include <string>

#include "catalog.h"
#include "store.h"

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
CREATE TABLE unique_values(
  kind INTEGER NOT NULL,
  name_id INTEGER NOT NULL,
  value BLOB NOT NULL,
  entry INTEGER NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  PRIMARY KEY(kind, name_id, value));
CREATE INDEX unique_values_entry ON unique_values(entry);
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
DROP TABLE opened;
CREATE TABLE opened(
  project INTEGER NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  owner TEXT NOT NULL,
  handle TEXT NOT NULL,
  PRIMARY KEY(owner, handle));
CREATE INDEX opened_project ON opened(project);
)";

// The statements that take an SQLite database from version i to i + 1.
constexpr const char *kSqliteSteps[] = {kVersion1, kVersion2, kVersion3};

// A PostgreSQL database at version 3, made in one step.
constexpr const char *kPostgres3 = R"(
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE entries(
  id BIGSERIAL PRIMARY KEY,
  scope BIGINT NOT NULL,
  kind INTEGER NOT NULL,
  key BYTEA NOT NULL,
  created TEXT NOT NULL,
  changed TEXT NOT NULL,
  UNIQUE(scope, kind, key));
CREATE TABLE fields(
  entry BIGINT NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  name_id INTEGER NOT NULL,
  value BYTEA NOT NULL,
  PRIMARY KEY(entry, name_id));
CREATE INDEX fields_value ON fields(name_id, value);
CREATE TABLE assignments(
  id BIGSERIAL PRIMARY KEY,
  container BIGINT NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  member BIGINT NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  UNIQUE(container, member));
CREATE INDEX assignments_member ON assignments(member);
CREATE TABLE opened(
  project BIGINT NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  owner TEXT NOT NULL,
  handle TEXT NOT NULL,
  PRIMARY KEY(owner, handle));
CREATE INDEX opened_project ON opened(project);
CREATE TABLE messages(
  id BIGSERIAL PRIMARY KEY,
  sender BYTEA NOT NULL,
  receiver BYTEA NOT NULL,
  class BYTEA NOT NULL,
  subject BYTEA NOT NULL,
  filename BYTEA NOT NULL,
  size BIGINT NOT NULL,
  sent TEXT NOT NULL);
CREATE INDEX messages_receiver ON messages(receiver, id);
CREATE TABLE bodies(
  message BIGINT NOT NULL REFERENCES messages(id) ON DELETE CASCADE,
  seq BIGINT NOT NULL,
  bytes BYTEA NOT NULL,
  PRIMARY KEY(message, seq));
CREATE TABLE sessions(
  receipt BIGINT PRIMARY KEY REFERENCES entries(id) ON DELETE CASCADE,
  logon BIGINT NOT NULL,
  mailbox BYTEA NOT NULL,
  owner TEXT NOT NULL,
  handle TEXT NOT NULL);
CREATE INDEX sessions_logon ON sessions(logon);
CREATE TABLE sequences(
  scope BIGINT NOT NULL,
  kind INTEGER NOT NULL,
  next BIGINT NOT NULL,
  PRIMARY KEY(scope, kind));
CREATE TABLE sortkeys(
  entry BIGINT NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  code INTEGER NOT NULL,
  scope BIGINT NOT NULL,
  kind INTEGER NOT NULL,
  grp INTEGER NOT NULL,
  class INTEGER NOT NULL,
  num BIGINT NOT NULL,
  text BYTEA NOT NULL,
  kclass INTEGER NOT NULL,
  knum BIGINT NOT NULL,
  ktext BYTEA NOT NULL,
  PRIMARY KEY(entry, code));
CREATE INDEX sortkeys_kind ON sortkeys(scope, kind, code, class, num, text, kclass, knum, ktext, entry);
CREATE INDEX sortkeys_group ON sortkeys(scope, grp, code, class, num, text, kclass, knum, ktext, entry)
  WHERE grp <> kind;
CREATE INDEX sortkeys_text ON sortkeys(scope, kind, code, text);
CREATE TABLE unique_values(
  kind INTEGER NOT NULL,
  name_id INTEGER NOT NULL,
  value BYTEA NOT NULL,
  entry BIGINT NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  PRIMARY KEY(kind, name_id, value));
CREATE INDEX unique_values_entry ON unique_values(entry);
)";
constexpr const char *kPostgresSteps[] = {kPostgres3};
constexpr int kCurrent = 3;
static_assert(std::size(kSqliteSteps) == kCurrent);

// The steps from version `from` on; PostgreSQL's begin at its first version.
std::span<const char *const> stepsFrom(Dialect d, int from, int *at) {
  if (d == Dialect::Sqlite) {
    *at = from;
    return std::span(kSqliteSteps).subspan(static_cast<std::size_t>(from));
  }
  const int first = kCurrent - static_cast<int>(std::size(kPostgresSteps));  // the version before the first step
  if (from == 0) from = first;
  *at = from;
  return std::span(kPostgresSteps).subspan(static_cast<std::size_t>(from - first));
}

}  // namespace

bool Store::indexedFrom(const std::string &fingerprint) {
  Stmt &get = db_->prepare("SELECT value FROM meta WHERE key = 'catalog'");
  Use u(get);
  return get.next() && get.bytes(0) == fingerprint;
}

void Store::indexFor(const std::string &fingerprint) {
  if (indexedFrom(fingerprint)) return;
  reindexAll();
  Stmt &put = db_->prepare(
      "INSERT INTO meta(key, value) VALUES('catalog', ?1) ON CONFLICT(key) DO UPDATE SET value = excluded.value");
  Use u(put);
  put.bindText(1, fingerprint);
  put.run();
}

void Store::copyAside(int version) {
  if (dialect() != Dialect::Sqlite) return;  // PostgreSQL undoes a failed upgrade whole
  std::string copy = location_ + ".v" + std::to_string(version) + "-" + now(), quoted;
  for (char c : copy) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  db_->exec("VACUUM INTO '" + quoted + "'");
}

void Store::migrate() {
  db_->schemaLock(true);
  try {
    upgrade();
  } catch (...) {
    db_->schemaLock(false);
    throw;
  }
  db_->schemaLock(false);
}

void Store::upgrade() {
  begin(false);
  const int found = db_->schemaVersion();
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
  if (found > 0) copyAside(found);  // a consistent copy, made before anything changes
  begin(true);
  try {
    // Another Request Manager may have upgraded it meanwhile.
    int at = 0;
    for (const char *step : stepsFrom(dialect(), db_->schemaVersion(), &at)) db_->exec(step);
    db_->setSchemaVersion(kCurrent);
    indexFor(catalogFingerprint());
    commit();
  } catch (...) {
    rollback();
    throw;
  }
}

}  // namespace qlm::rqmgr
