// The store's network: message heads, sessions, field lookups and the
// names the Request Manager makes. See store.h for the tables.
#include <sqlite3.h>

#include "process.h"
#include "store.h"
#include "store_sql.h"

namespace qlm::rqmgr {

namespace {

// Binds a filter value: an empty one matches anything (NULL).
void bindFilter(sqlite3_stmt *s, int i, std::string_view v) {
  if (v.empty()) sqlite3_bind_null(s, i);
  else bindBlob(s, i, v);
}

constexpr const char *kMessageColumns =
    "SELECT id, sender, receiver, class, subject, filename, size, sent FROM messages ";

MessageHead readHead(sqlite3_stmt *s) {
  MessageHead h;
  h.id = sqlite3_column_int64(s, 0);
  h.sender = columnBytes(s, 1);
  h.receiver = columnBytes(s, 2);
  h.cls = columnBytes(s, 3);
  h.subject = columnBytes(s, 4);
  h.fileName = columnBytes(s, 5);
  h.size = sqlite3_column_int64(s, 6);
  h.sent = columnBytes(s, 7);
  return h;
}

}  // namespace

std::vector<std::int64_t> Store::findByField(std::uint16_t kind, std::uint16_t nameId, std::string_view value) {
  sqlite3_stmt *s = prepare(
      "SELECT e.id FROM fields f JOIN entries e ON e.id = f.entry "
      "WHERE f.name_id = ?1 AND f.value = ?2 AND e.kind = ?3 ORDER BY e.id");
  Use u(s);
  sqlite3_bind_int(s, 1, nameId);
  bindBlob(s, 2, value);
  sqlite3_bind_int(s, 3, kind);
  std::vector<std::int64_t> out;
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) out.push_back(sqlite3_column_int64(s, 0));
  if (rc != SQLITE_DONE) fail("look up a field value");
  return out;
}

std::string Store::nextName(std::int64_t scope, std::uint16_t kind, std::string_view prefix, int digits) {
  sqlite3_stmt *get = prepare("SELECT next FROM sequences WHERE scope = ?1 AND kind = ?2");
  std::int64_t next = 1;
  {
    Use u(get);
    sqlite3_bind_int64(get, 1, scope);
    sqlite3_bind_int(get, 2, kind);
    const int rc = sqlite3_step(get);
    if (rc == SQLITE_ROW) next = sqlite3_column_int64(get, 0);
    else if (rc != SQLITE_DONE) fail("read a name counter");
  }
  std::string name;
  for (;; ++next) {  // names an application added itself are passed over
    const std::string number = std::to_string(next);
    name = std::string(prefix) + std::string(number.size() < static_cast<std::size_t>(digits) ? digits - number.size() : 0, '0') + number;
    if (!find(scope, kind, name)) break;
  }
  sqlite3_stmt *put = prepare("INSERT OR REPLACE INTO sequences(scope, kind, next) VALUES(?1, ?2, ?3)");
  Use u(put);
  sqlite3_bind_int64(put, 1, scope);
  sqlite3_bind_int(put, 2, kind);
  sqlite3_bind_int64(put, 3, next + 1);
  if (sqlite3_step(put) != SQLITE_DONE) fail("advance a name counter");
  return name;
}

std::int64_t Store::addMessage(const MessageHead &h) {
  sqlite3_stmt *s = prepare(
      "INSERT INTO messages(sender, receiver, class, subject, filename, size, sent) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
  Use u(s);
  bindBlob(s, 1, h.sender);
  bindBlob(s, 2, h.receiver);
  bindBlob(s, 3, h.cls);
  bindBlob(s, 4, h.subject);
  bindBlob(s, 5, h.fileName);
  sqlite3_bind_int64(s, 6, h.size);
  bindText(s, 7, h.sent);
  if (sqlite3_step(s) != SQLITE_DONE) fail("add a message");
  return sqlite3_last_insert_rowid(db_);
}

void Store::setMessageSize(std::int64_t message, std::int64_t size) {
  sqlite3_stmt *s = prepare("UPDATE messages SET size = ?2 WHERE id = ?1");
  Use u(s);
  sqlite3_bind_int64(s, 1, message);
  sqlite3_bind_int64(s, 2, size);
  if (sqlite3_step(s) != SQLITE_DONE) fail("complete a message");
}

std::vector<MessageHead> Store::messages(const MessageFilter &f, std::int64_t offset, std::int64_t limit) {
  static const std::string sql = std::string(kMessageColumns) +
                                 "WHERE receiver = ?1 AND (?2 IS NULL OR sender = ?2) AND (?3 IS NULL OR class = ?3) "
                                 "ORDER BY id LIMIT ?5 OFFSET ?4";
  sqlite3_stmt *s = prepare(sql.c_str());
  Use u(s);
  bindBlob(s, 1, f.receiver);
  bindFilter(s, 2, f.sender);
  bindFilter(s, 3, f.cls);
  sqlite3_bind_int64(s, 4, offset);
  sqlite3_bind_int64(s, 5, limit);
  std::vector<MessageHead> out;
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) out.push_back(readHead(s));
  if (rc != SQLITE_DONE) fail("read messages");
  return out;
}

std::optional<MessageHead> Store::message(std::int64_t id) {
  static const std::string sql = std::string(kMessageColumns) + "WHERE id = ?1";
  sqlite3_stmt *s = prepare(sql.c_str());
  Use u(s);
  sqlite3_bind_int64(s, 1, id);
  const int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) return readHead(s);
  if (rc != SQLITE_DONE) fail("read a message");
  return std::nullopt;
}

std::int64_t Store::countMessages(std::string_view receiver) {
  sqlite3_stmt *s = prepare("SELECT count(*) FROM messages WHERE receiver = ?1");
  Use u(s);
  bindBlob(s, 1, receiver);
  if (sqlite3_step(s) != SQLITE_ROW) fail("count messages");
  return sqlite3_column_int64(s, 0);
}

bool Store::removeMessage(std::int64_t id) {
  sqlite3_stmt *s = prepare("DELETE FROM messages WHERE id = ?1");
  Use u(s);
  sqlite3_bind_int64(s, 1, id);
  if (sqlite3_step(s) != SQLITE_DONE) fail("remove a message");
  return sqlite3_changes(db_) == 1;
}

std::vector<std::int64_t> Store::removeMessages(std::string_view receiver) {
  sqlite3_stmt *s = prepare("DELETE FROM messages WHERE receiver = ?1 RETURNING id");
  Use u(s);
  bindBlob(s, 1, receiver);
  std::vector<std::int64_t> ids;
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(s, 0));
  if (rc != SQLITE_DONE) fail("remove messages");
  return ids;
}

void Store::addSession(const Session &x) {
  sqlite3_stmt *s = prepare("INSERT INTO sessions(receipt, logon, mailbox, owner, handle) VALUES(?1, ?2, ?3, ?4, ?5)");
  Use u(s);
  sqlite3_bind_int64(s, 1, x.receipt);
  sqlite3_bind_int64(s, 2, x.logon);
  bindBlob(s, 3, x.mailbox);
  bindText(s, 4, x.owner);
  bindText(s, 5, x.handle);
  if (sqlite3_step(s) != SQLITE_DONE) fail("add a session");
}

std::optional<Session> Store::readSession(sqlite3_stmt *s) {
  const int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) return std::nullopt;
  if (rc != SQLITE_ROW) fail("read a session");
  return Session{sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 1), columnBytes(s, 2), columnBytes(s, 3),
                 columnBytes(s, 4)};
}

std::optional<Session> Store::session(std::int64_t receipt) {
  sqlite3_stmt *s = prepare("SELECT receipt, logon, mailbox, owner, handle FROM sessions WHERE receipt = ?1");
  Use u(s);
  sqlite3_bind_int64(s, 1, receipt);
  return readSession(s);
}

std::optional<Session> Store::sessionHeld(const std::string &owner, const std::string &handle) {
  sqlite3_stmt *s =
      prepare("SELECT receipt, logon, mailbox, owner, handle FROM sessions WHERE owner = ?1 AND handle = ?2");
  Use u(s);
  bindText(s, 1, owner);
  bindText(s, 2, handle);
  return readSession(s);
}

void Store::removeSession(std::int64_t receipt) {
  sqlite3_stmt *s = prepare("DELETE FROM sessions WHERE receipt = ?1");
  Use u(s);
  sqlite3_bind_int64(s, 1, receipt);
  if (sqlite3_step(s) != SQLITE_DONE) fail("remove a session");
}

std::int64_t Store::liveSessions(std::int64_t logon) {
  sqlite3_stmt *s = prepare("SELECT owner FROM sessions WHERE logon = ?1");
  Use u(s);
  sqlite3_bind_int64(s, 1, logon);
  std::int64_t n = 0;
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) n += tokenAlive(columnBytes(s, 0)) ? 1 : 0;
  if (rc != SQLITE_DONE) fail("read sessions");
  return n;
}

void Store::savepoint() { exec("SAVEPOINT operation"); }
void Store::release() { exec("RELEASE operation"); }
void Store::rollbackToSavepoint() { exec("ROLLBACK TO operation; RELEASE operation"); }

}  // namespace qlm::rqmgr
