// The store's network: message heads (and bodies where the database keeps them),
// sessions, field lookups and the names the Request Manager makes. See store.h.
#include "store.h"

namespace qlm::rqmgr {

namespace {

// Binds a filter value: an empty one matches anything (NULL).
void bindFilter(Stmt &s, int i, std::string_view v) {
  if (v.empty()) s.bindNull(i);
  else s.bindBytes(i, v);
}

constexpr const char *kMessageColumns =
    "SELECT id, sender, receiver, class, subject, filename, size, sent FROM messages ";

MessageHead readHead(Stmt &s) {
  return {s.integer(0), s.bytes(1), s.bytes(2), s.bytes(3), s.bytes(4), s.bytes(5), s.integer(6), s.bytes(7)};
}

}  // namespace

std::vector<std::int64_t> Store::findByField(std::uint16_t kind, std::uint16_t nameId, std::string_view value) {
  Stmt &s = db_->prepare(
      "SELECT e.id FROM fields f JOIN entries e ON e.id = f.entry "
      "WHERE f.name_id = ?1 AND f.value = ?2 AND e.kind = ?3 ORDER BY e.id");
  Use u(s);
  s.bind(1, nameId);
  s.bindBytes(2, value);
  s.bind(3, kind);
  std::vector<std::int64_t> out;
  while (s.next()) out.push_back(s.integer(0));
  return out;
}

std::string Store::nextName(std::int64_t scope, std::uint16_t kind, std::string_view prefix, int digits) {
  Stmt &get = db_->prepare("SELECT next FROM sequences WHERE scope = ?1 AND kind = ?2");
  std::int64_t next = 1;
  {
    Use u(get);
    get.bind(1, scope);
    get.bind(2, kind);
    if (get.next()) next = get.integer(0);
  }
  std::string name;
  for (;; ++next) {  // names an application added itself are passed over
    const std::string number = std::to_string(next);
    name = std::string(prefix) +
           std::string(number.size() < static_cast<std::size_t>(digits) ? digits - number.size() : 0, '0') + number;
    if (!find(scope, kind, name)) break;
  }
  Stmt &put = db_->prepare(
      "INSERT INTO sequences(scope, kind, next) VALUES(?1, ?2, ?3) "
      "ON CONFLICT(scope, kind) DO UPDATE SET next = excluded.next");
  Use u(put);
  put.bind(1, scope);
  put.bind(2, kind);
  put.bind(3, next + 1);
  put.run();
  return name;
}

std::int64_t Store::addMessage(const MessageHead &h) {
  Stmt &s = db_->prepare(
      "INSERT INTO messages(sender, receiver, class, subject, filename, size, sent) "
      "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7) RETURNING id");
  Use u(s);
  s.bindBytes(1, h.sender);
  s.bindBytes(2, h.receiver);
  s.bindBytes(3, h.cls);
  s.bindBytes(4, h.subject);
  s.bindBytes(5, h.fileName);
  s.bind(6, h.size);
  s.bindText(7, h.sent);
  if (!s.next()) throw StoreError("add a message: no id");
  const std::int64_t id = s.integer(0);
  s.run();
  return id;
}

void Store::setMessageSize(std::int64_t message, std::int64_t size) {
  Stmt &s = db_->prepare("UPDATE messages SET size = ?2 WHERE id = ?1");
  Use u(s);
  s.bind(1, message);
  s.bind(2, size);
  s.run();
}

std::vector<MessageHead> Store::messages(const MessageFilter &f, std::int64_t offset, std::int64_t limit) {
  static const std::string sql = std::string(kMessageColumns) +
                                 "WHERE receiver = ?1 AND sender = COALESCE(?2, sender) AND class = COALESCE(?3, class) "
                                 "ORDER BY id LIMIT ?5 OFFSET ?4";
  Stmt &s = db_->prepare(sql.c_str());
  Use u(s);
  s.bindBytes(1, f.receiver);
  bindFilter(s, 2, f.sender);
  bindFilter(s, 3, f.cls);
  s.bind(4, offset);
  if (limit >= 0) s.bind(5, limit);
  else if (dialect() == Dialect::Sqlite) s.bind(5, -1);  // no limit
  else s.bindNull(5);
  std::vector<MessageHead> out;
  while (s.next()) out.push_back(readHead(s));
  return out;
}

std::optional<MessageHead> Store::message(std::int64_t id) {
  static const std::string sql = std::string(kMessageColumns) + "WHERE id = ?1";
  Stmt &s = db_->prepare(sql.c_str());
  Use u(s);
  s.bind(1, id);
  if (s.next()) return readHead(s);
  return std::nullopt;
}

std::int64_t Store::countMessages(std::string_view receiver) {
  Stmt &s = db_->prepare("SELECT count(*) FROM messages WHERE receiver = ?1");
  Use u(s);
  s.bindBytes(1, receiver);
  return s.next() ? s.integer(0) : 0;
}

bool Store::removeMessage(std::int64_t id) {
  Stmt &s = db_->prepare("DELETE FROM messages WHERE id = ?1");
  Use u(s);
  s.bind(1, id);
  return s.run() == 1;
}

std::vector<std::int64_t> Store::removeMessages(std::string_view receiver) {
  Stmt &s = db_->prepare("DELETE FROM messages WHERE receiver = ?1 RETURNING id");
  Use u(s);
  s.bindBytes(1, receiver);
  std::vector<std::int64_t> ids;
  while (s.next()) ids.push_back(s.integer(0));
  return ids;
}

void Store::addBodyPiece(std::int64_t message, std::int64_t seq, std::string_view bytes) {
  Stmt &s = db_->prepare("INSERT INTO bodies(message, seq, bytes) VALUES(?1, ?2, ?3)");
  Use u(s);
  s.bind(1, message);
  s.bind(2, seq);
  s.bindBytes(3, bytes);
  s.run();
}

std::optional<std::string> Store::bodyPiece(std::int64_t message, std::int64_t seq) {
  Stmt &s = db_->prepare("SELECT bytes FROM bodies WHERE message = ?1 AND seq = ?2");
  Use u(s);
  s.bind(1, message);
  s.bind(2, seq);
  if (s.next()) return s.bytes(0);
  return std::nullopt;
}

void Store::addSession(const Session &x) {
  Stmt &s = db_->prepare("INSERT INTO sessions(receipt, logon, mailbox, owner, handle) VALUES(?1, ?2, ?3, ?4, ?5)");
  Use u(s);
  s.bind(1, x.receipt);
  s.bind(2, x.logon);
  s.bindBytes(3, x.mailbox);
  s.bindText(4, x.owner);
  s.bindText(5, x.handle);
  s.run();
}

std::optional<Session> Store::readSession(Stmt &s) {
  if (!s.next()) return std::nullopt;
  return Session{s.integer(0), s.integer(1), s.bytes(2), s.bytes(3), s.bytes(4)};
}

std::optional<Session> Store::session(std::int64_t receipt) {
  Stmt &s = db_->prepare("SELECT receipt, logon, mailbox, owner, handle FROM sessions WHERE receipt = ?1");
  Use u(s);
  s.bind(1, receipt);
  return readSession(s);
}

std::optional<Session> Store::sessionHeld(const std::string &handle) {
  Stmt &s = db_->prepare("SELECT receipt, logon, mailbox, owner, handle FROM sessions WHERE owner = ?1 AND handle = ?2");
  Use u(s);
  s.bindText(1, db_->owner());
  s.bindText(2, handle);
  return readSession(s);
}

void Store::removeSession(std::int64_t receipt) {
  Stmt &s = db_->prepare("DELETE FROM sessions WHERE receipt = ?1");
  Use u(s);
  s.bind(1, receipt);
  s.run();
}

std::int64_t Store::liveSessions(std::int64_t logon) {
  Stmt &s = db_->prepare("SELECT owner FROM sessions WHERE logon = ?1");
  std::vector<std::string> owners;
  {
    Use u(s);
    s.bind(1, logon);
    while (s.next()) owners.push_back(s.bytes(0));
  }
  std::int64_t n = 0;
  for (const std::string &o : owners) n += db_->alive(o) ? 1 : 0;
  return n;
}

void Store::savepoint() { db_->exec("SAVEPOINT operation"); }
void Store::release() { db_->exec("RELEASE SAVEPOINT operation"); }
void Store::rollbackToSavepoint() { db_->exec("ROLLBACK TO SAVEPOINT operation; RELEASE SAVEPOINT operation"); }

}  // namespace qlm::rqmgr
