// The Request Manager's storage: one database per installation, shared by every
// Request Manager of the installation: the SQLite file <root>/data/quillmar.db, or a
// PostgreSQL database that installations on several machines share (db.h).
//
// Schema (version 3; schema.cc makes and upgrades it):
//   entries(id, scope, kind, key, created, changed)
//       every named entry of every family. scope 0 holds the installation's own
//       entries (projects, communication profiles); any other scope is the id of the
//       project entry the entry belongs to. kind is the name ID of the family's key
//       (451 project, 105 address, 1180 send order, ...). key is the key as sent
//       (trailing blanks removed, case counts), unique per (scope, kind).
//       created and changed are local times "YYYYMMDDhhmmss".
//   fields(entry, name_id, value)
//       the entry's other field values by name ID (values as sent, never blank).
//   assignments(id, container, member)
//       member entries assigned to container entries, in the order assigned.
//   opened(project, owner, handle)
//       projects held open by the clients of every Request Manager; a mark counts
//       while its owner runs (Db::alive) and is removed at start-up otherwise.
//   messages(id, sender, receiver, class, subject, filename, size, sent)
//       the network: the heads of the messages waiting for a network mailbox
//       (receiver). id is the message id, unique and increasing. The bodies are
//       files beside an SQLite database (bodies.h), rows of bodies(message, seq,
//       bytes) in PostgreSQL.
//   sessions(receipt, logon, mailbox, owner, handle)
//       the active sessions: their session receipt entry, the logon entry and the
//       mailbox they serve, the Request Manager that holds them (its owner mark)
//       and its message system handle.
//   sequences(scope, kind, next)
//       the counters of the names the Request Manager makes (receipts, sessions).
//   sortkeys(entry, code, scope, kind, grp, class, num, text, kclass, knum, ktext)
//       one row per list code of every entry (catalog.h): the field's value as a
//       SortKey, and the entry's key as one, so that lists select, order and page
//       on indexes (ListPlan).
//   unique_values(kind, name_id, value, entry)
//       the values of the fields that are unique in the installation (catalog.h:
//       a network logon's mailbox), so that two writers cannot both take one.
//   meta(key, value)
//       "catalog": the catalog the sortkeys rows were made from (catalog.h);
//       "version" in PostgreSQL: the schema's version.
// Deleting an entry deletes its fields, its assignments (either side), its open
// marks and, for a project, every entry scoped to it.
//
// Every request runs in one transaction (begin/commit). In SQLite a write
// transaction takes the installation's write lock when it begins, so that
// concurrent processes wait for each other; in PostgreSQL it runs on one snapshot,
// and one that conflicts with a concurrent one (a row both change, a unique value
// both take) fails with a retryable StoreError. Any
// failure throws StoreError; the caller rolls back.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "db.h"

namespace qlm::rqmgr {

inline constexpr int kBusyTimeoutMs = 10000;
inline constexpr std::int64_t kInstallation = 0;  // the scope of installation-wide entries

using Fields = std::map<std::uint16_t, std::string>;

// A value as the lists compare and order it: blank, a run of 1-18 decimal digits
// (a number), or any other value (its bytes).
struct SortKey {
  enum Class { kBlank = 0, kNumber = 1, kText = 2 };
  int cls = kBlank;
  std::int64_t num = 0;  // for kNumber
  std::string text;      // the value
};
SortKey sortKey(std::string_view value);

enum class Cmp { Gt, Lt, Eq, Ne, Ge, Le };

// A list selection: the entries whose field `code` compares with `value` by `op`.
// Two values that are both runs of decimal digits (at most 18) compare as numbers;
// any others byte by byte (so letter case counts, and a blank value is less than
// any other).
struct Selection {
  std::uint16_t code;
  Cmp op;
  std::string value;
};

// One list as the store answers it.
// Order: by the field `sortCode` (kKeyCode: the key), then by the key, then by the
// order of adding; `descending` reverses all of it. Within one field, blank values
// come first, then numbers (as numbers), then every other value (byte by byte):
// the comparison rule above wherever it is a consistent order.
// Paging: `limit` entries (-1: all) after `offset` ones, after selection and order.
struct ListPlan {
  std::int64_t scope = kInstallation;
  std::uint16_t kind = 0;       // the kind listed, or
  std::uint16_t group = 0;      // when not 0: every kind of this group (a shelf)
  std::int64_t container = 0;   // when not 0: only the entries assigned to it
  std::uint16_t sortCode = 0;   // kKeyCode (0): the key
  bool descending = false;
  std::vector<Selection> select;  // every one must hold
  std::int64_t offset = 0, limit = -1;
};

// A message of the network, without its bytes.
struct MessageHead {
  std::int64_t id = 0;
  std::string sender, receiver, cls, subject, fileName;
  std::int64_t size = 0;
  std::string sent;  // "YYYYMMDDhhmmss"
};

// Which waiting messages a receive or a query takes.
struct MessageFilter {
  std::string receiver;  // the mailbox
  std::string sender;    // empty: any
  std::string cls;       // empty: any
};

// An active session.
struct Session {
  std::int64_t receipt = 0;  // the session receipt entry
  std::int64_t logon = 0;    // the logon entry
  std::string mailbox, owner, handle;
};

// A statement under construction: its text and its parameters, in order (a list's,
// store_list.cc). Kept by the store from one list to the next for its buffers.
struct BuiltSql {
  using Bound = std::variant<std::int64_t, std::string>;
  std::string sql;
  std::vector<Bound> binds;
  void clear() {
    sql.clear();
    binds.clear();
  }
  BuiltSql &add(std::string_view text) {
    sql += text;
    return *this;
  }
  BuiltSql &value(std::int64_t v) {
    sql += "?";
    binds.emplace_back(v);
    return *this;
  }
  BuiltSql &bytes(std::string_view v) {
    sql += "?";
    binds.emplace_back(std::string(v));
    return *this;
  }
  void bind(Stmt &s) const;
};

struct Entry {
  std::int64_t id = 0;
  std::int64_t scope = kInstallation;
  std::uint16_t kind = 0;
  std::string key;
  std::string created, changed;
  Fields fields;
};

class Store {
 public:
  // Opens the database (db.h, openDb: an SQLite file or "postgresql:<conninfo>"),
  // making or upgrading its schema. In SQLite a transaction that waits longer than
  // `busyTimeoutMs` for another process's lock fails; a database this process cannot
  // write is opened for reading only (begin(true) then throws), and begin throws
  // once the file at the path is no longer the one opened.
  explicit Store(const std::string &location, int busyTimeoutMs = kBusyTimeoutMs);
  // `location` names an SQLite file, where the copy before an upgrade goes.
  explicit Store(std::unique_ptr<Db> db, std::string location = {});
  ~Store();
  Store(const Store &) = delete;
  Store &operator=(const Store &) = delete;

  Dialect dialect() const { return db_->dialect(); }
  std::string describe() const { return db_->describe(); }
  // The connection itself, for the administration command's export and import.
  Db &db() { return *db_; }

  // One transaction. `write`: it may write.
  void begin(bool write);
  void commit();
  void rollback();  // never throws; nothing when no transaction is open
  // Put-off work of the database (Db::idle), outside transactions; never throws.
  void idle() noexcept;
  // With lingerReads, the commit of a transaction that only read leaves its end
  // (for SQLite, giving back its read lock) for later: for settle(), which the
  // Request Manager calls once the answer is out and before it waits, or for the
  // next transaction's begin. Nothing it read can change meanwhile.
  void lingerReads(bool on) { lingerReads_ = on; }
  void settle() noexcept;

  // One transaction for the life of a scope: begun at once, rolled back when the
  // scope ends (an exception included) without commit().
  class Transaction {
   public:
    Transaction(Store &store, bool write) : store_(store) { store_.begin(write); }
    ~Transaction() {
      if (!committed_) store_.rollback();
    }
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    void commit() {
      store_.commit();
      committed_ = true;
    }

   private:
    Store &store_;
    bool committed_ = false;
  };

  std::optional<Entry> find(std::int64_t scope, std::uint16_t kind, std::string_view key);
  std::optional<Entry> get(std::int64_t id);
  // All entries of a kind in a scope, in the order added.
  std::vector<Entry> entries(std::int64_t scope, std::uint16_t kind);
  // The entries of a list, in its order; the codes must be codes of its kinds.
  // Valid until the next list (the store reuses them).
  const std::vector<Entry> &list(const ListPlan &plan);
  // Adds an entry; the key must not exist (check with find first).
  std::int64_t add(std::int64_t scope, std::uint16_t kind, std::string_view key, const Fields &fields,
                   const std::string &stamp);
  // Sets the fields in `set`, deletes the values of the name IDs in `clear` that
  // `set` does not hold, and stamps the change.
  void change(std::int64_t id, const Fields &set, std::span<const std::uint16_t> clear, const std::string &stamp);
  void remove(std::int64_t id);
  // Removes every entry of a kind in a scope, as remove() does one.
  void removeAll(std::int64_t scope, std::uint16_t kind);
  // Entries of the given kinds in a scope.
  std::int64_t count(std::int64_t scope, std::span<const std::uint16_t> kinds);

  // false when the assignment exists already / did not exist.
  bool assign(std::int64_t container, std::int64_t member);
  bool unassign(std::int64_t container, std::int64_t member);
  // Members of a kind assigned to a container, in the order assigned.
  std::vector<Entry> members(std::int64_t container, std::uint16_t kind);
  // What a project's row shows beyond its fields, read in one statement: whether a
  // running Request Manager (this one included) holds it open, its entries of the
  // kinds `a` and of the kinds `b`, whether it is assigned to an entry of `container`.
  struct ProjectFacts {
    bool open = false;
    std::int64_t inA = 0, inB = 0;
    bool assigned = false;
  };
  ProjectFacts projectFacts(std::int64_t project, std::span<const std::uint16_t> a, std::span<const std::uint16_t> b,
                            std::uint16_t container);
  // How many members of a kind are assigned to the container.
  std::int64_t memberCount(std::int64_t container, std::uint16_t kind);

  // Open marks of projects, written under this process's owner mark.
  void markOpen(std::int64_t project, const std::string &handle);
  void markClosed(const std::string &handle);
  // Whether a running Request Manager holds the project open (this one only when
  // `countSelf`).
  bool isOpen(std::int64_t project, bool countSelf);
  // Removes the marks of Request Managers that no longer run and this one's old marks.
  void pruneOpenMarks();

  // Entries of `kind` (any scope) whose field `nameId` holds `value`, in the order added.
  std::vector<std::int64_t> findByField(std::uint16_t kind, std::uint16_t nameId, std::string_view value);
  // The next name "<prefix><n>" of a kind in a scope that no entry has yet; `digits`
  // wide, zero-padded.
  std::string nextName(std::int64_t scope, std::uint16_t kind, std::string_view prefix, int digits);

  // The network's message heads. A message is added with its head, then its body
  // is written, then its size is set; it is complete when the transaction commits.
  std::int64_t addMessage(const MessageHead &head);
  void setMessageSize(std::int64_t message, std::int64_t size);
  // Waiting messages that pass the filter, oldest first: `limit` of them (< 0: all)
  // after skipping `offset`.
  std::vector<MessageHead> messages(const MessageFilter &filter, std::int64_t offset, std::int64_t limit);
  std::optional<MessageHead> message(std::int64_t id);
  std::int64_t countMessages(std::string_view receiver);
  bool removeMessage(std::int64_t id);
  // Removes every message waiting for `receiver`; their ids.
  std::vector<std::int64_t> removeMessages(std::string_view receiver);
  // Message bodies kept in the database (PostgreSQL): one piece of a body.
  void addBodyPiece(std::int64_t message, std::int64_t seq, std::string_view bytes);
  std::optional<std::string> bodyPiece(std::int64_t message, std::int64_t seq);

  // Sessions.
  void addSession(const Session &s);
  std::optional<Session> session(std::int64_t receipt);
  // The session this Request Manager holds on a message system handle.
  std::optional<Session> sessionHeld(const std::string &handle);
  void removeSession(std::int64_t receipt);
  // Sessions of a logon held by running Request Managers.
  std::int64_t liveSessions(std::int64_t logon);
  // Whether the Request Manager that holds a session still runs.
  bool holderAlive(const Session &s) { return db_->alive(s.owner); }
  const std::string &owner() { return db_->owner(); }

  // A value a list statement is bound to: an integer, or bytes.
  using Bound = BuiltSql::Bound;

  // A savepoint inside the open transaction: what follows can be undone alone.
  void savepoint();
  void release();
  void rollbackToSavepoint();

  // The current local time as "YYYYMMDDhhmmss".
  static std::string now();

 private:
  void migrate();
  void upgrade();
  void copyAside(int version);
  std::vector<Entry> readEntries(Stmt &s);
  void putFields(std::int64_t id, const Fields &set);
  std::optional<Session> readSession(Stmt &s);
  std::int64_t countAssignments(const char *sql, std::int64_t id, std::uint16_t kind);
  // An open mark's owner read from the database: true when it is this process's and
  // `countSelf`; another's is noted in `others` (once) for holdsAny().
  bool ownMark(std::string_view owner, bool countSelf, std::vector<std::string> &others);
  bool holdsAny(const std::vector<std::string> &owners);
  // Writes the index rows of an entry; of every entry.
  // `fresh`: a new entry, without rows yet.
  void reindex(const Entry &e, bool fresh = false, bool firstWins = false);
  // "<head> VALUES (?, ...), ... <tail>": `rows` tuples of `columns` parameters.
  static const std::string &rowsSql(const char *head, int columns, std::size_t rows, const char *tail);
  void reindexAll();
  // Makes the index rows anew unless they were made from this catalog.
  void indexFor(const std::string &fingerprint);
  bool indexedFrom(const std::string &fingerprint);

  void adoptMarks(const std::string &old);

  std::unique_ptr<Db> db_;
  std::string location_;
  std::string markedAs_;  // the owner mark this Request Manager's marks carry
  bool inTxn_ = false;
  bool write_ = false;        // the open transaction may write
  bool lingerReads_ = false;  // see lingerReads()
  bool lingering_ = false;    // a read's transaction waits for settle()

  // Where a page of a list ended: the next page goes on from its last row's order
  // terms while nothing has changed since (store_list.cc).
  struct Cursor {
    std::string shape;                     // the list without its paging
    std::int64_t next = 0;                 // the offset after the page
    std::vector<Bound> after;              // the order terms of its last row
    std::pair<std::int64_t, std::int64_t> stamp;  // Db::changeStamp() when it was read
  };
  static constexpr std::size_t kCursors = 16;
  static constexpr std::size_t kIdsByValue = 16;  // a page this short reads its entries by id
  std::vector<Cursor> cursors_;
  void remember(std::int64_t next, const std::pair<std::int64_t, std::int64_t> &stamp);

  // What a list builds, kept for its buffers (a list of the same shape as the one
  // before allocates nothing): the shape and statements, the page's ids and the
  // order terms of its last row, where each id's entry goes, the entries.
  BuiltSql shapeSql_, page_, rows_;
  std::string shape_;
  std::vector<std::int64_t> ids_;
  std::vector<Bound> last_;
  std::vector<std::pair<std::int64_t, std::size_t>> at_;
  std::vector<Entry> listed_;
  std::vector<Fields::node_type> spareFields_;
  static constexpr std::size_t kSpareFields = 1024;
};

}  // namespace qlm::rqmgr
