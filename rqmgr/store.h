// The Request Manager's storage: one SQLite database per installation,
// <root>/data/quillmar.db, shared by every Request Manager process of the
// installation.
//
// Schema (user_version 3; schema.cc makes and upgrades it):
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
//   opened(project, pid, handle)
//       projects held open by the clients of every Request Manager process; rows of
//       processes that no longer exist do not count and are removed at start-up.
//   messages(id, sender, receiver, class, subject, filename, size, sent)
//       the network: the heads of the messages waiting for a network mailbox
//       (receiver). id is the message id, unique and increasing. The bodies are
//       files beside the database (transfer.h, MessageBodies).
//   sessions(receipt, logon, mailbox, owner, handle)
//       the active sessions: their session receipt entry, the logon entry and the
//       mailbox they serve, the token of the Request Manager process that holds them
//       (process.h) and its message system handle.
//   sequences(scope, kind, next)
//       the counters of the names the Request Manager makes (receipts, sessions).
//   sortkeys(entry, code, scope, kind, grp, class, num, text, kclass, knum, ktext)
//       one row per list code of every entry (catalog.h): the field's value as a
//       SortKey, and the entry's key as one, so that lists select, order and page
//       on indexes (ListSpec).
//   kind_counts(scope, kind, n)
//       how many entries of each kind a scope holds, kept by triggers.
//   meta(key, value)
//       "catalog": the catalog the sortkeys rows were made from (catalog.h).
// Deleting an entry deletes its fields, its assignments (either side), its open
// marks and, for a project, every entry scoped to it.
//
// Durability and sharing: WAL journal, synchronous=FULL, foreign keys on, a busy
// time-out of kBusyTimeoutMs. Every request runs in one transaction (begin/commit);
// a write transaction takes the write lock when it begins, so that concurrent
// processes wait for each other instead of failing. Any SQLite failure throws
// StoreError; the caller rolls back.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace qlm::rqmgr {

inline constexpr int kBusyTimeoutMs = 10000;
inline constexpr std::int64_t kInstallation = 0;  // the scope of installation-wide entries

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

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
struct ListSpec {
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
  // Opens the database, creating the file (mode 0600) and the schema on first use. A
  // transaction that waits longer than `busyTimeoutMs` for another process's lock fails.
  // A database this process cannot write (read-only, or a full disk at the start) is
  // opened for reading only: begin(true) then throws. begin throws too once the file at `path` is no longer the one opened.
  // ":memory:" is a database of this process alone, without a file.
  explicit Store(const std::string &path, int busyTimeoutMs = kBusyTimeoutMs);
  ~Store();
  Store(const Store &) = delete;
  Store &operator=(const Store &) = delete;

  // One transaction. `write`: take the write lock at once.
  void begin(bool write);
  void commit();
  void rollback();  // never throws; nothing when no transaction is open

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
  std::vector<Entry> list(const ListSpec &spec);
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
  // How many containers of a kind the member is assigned to.
  std::int64_t containerCount(std::int64_t member, std::uint16_t kind);
  // How many members of a kind are assigned to the container.
  std::int64_t memberCount(std::int64_t container, std::uint16_t kind);

  // Open marks of projects (this process's pid).
  void markOpen(std::int64_t project, const std::string &handle);
  void markClosed(const std::string &handle);
  // Whether a live Request Manager process holds the project open (this one only
  // when `countSelf`).
  bool isOpen(std::int64_t project, bool countSelf);
  // Removes the marks of processes that no longer exist and this pid's old marks.
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

  // Sessions.
  void addSession(const Session &s);
  std::optional<Session> session(std::int64_t receipt);
  // The session a process holds on a message system handle.
  std::optional<Session> sessionHeld(const std::string &owner, const std::string &handle);
  void removeSession(std::int64_t receipt);
  // Sessions of a logon held by running Request Managers.
  std::int64_t liveSessions(std::int64_t logon);

  // A value a list statement is bound to: an integer, or bytes.
  using Bound = std::variant<std::int64_t, std::string>;

  // A savepoint inside the open transaction: what follows can be undone alone.
  void savepoint();
  void release();
  void rollbackToSavepoint();

  // The current local time as "YYYYMMDDhhmmss".
  static std::string now();

 private:
  void migrate(const std::string &path);
  int schemaVersion();
  // Writes the index rows of an entry; of every entry.
  void reindex(const Entry &e);
  void reindexAll();
  // Makes the index rows anew unless they were made from this catalog.
  void indexFor(const std::string &fingerprint);
  bool indexedFrom(const std::string &fingerprint);
  sqlite3_stmt *prepareText(const std::string &sql);
  std::optional<Session> readSession(sqlite3_stmt *s);
  sqlite3_stmt *prepare(const char *sql);
  // count(*) of `sql` bound to (id, kind).
  std::int64_t countAssignments(const char *sql, std::int64_t id, std::uint16_t kind);
  void exec(const char *sql);
  [[noreturn]] void fail(const char *what);
  std::vector<Entry> readEntries(sqlite3_stmt *s);

  sqlite3 *db_ = nullptr;
  bool inTxn_ = false;
  // Opening: the path, whether only reading is possible, and the identity of the
  // file opened (checked by begin).
  void openConnection(int busyTimeoutMs);
  std::string path_;
  bool readOnly_ = false;
  std::string readOnlyWhy_;  // "is read-only", or why it cannot be written
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  std::unordered_map<const char *, sqlite3_stmt *> stmts_;
  std::unordered_map<std::string, sqlite3_stmt *> dynamic_;  // statements made for a query's shape

  // Where a page of a list ended: the next page goes on from its last row's order
  // terms while nothing has changed since (store_list.cc).
  struct Cursor {
    std::string shape;                     // the list without its paging
    std::int64_t next = 0;                 // the offset after the page
    std::vector<Bound> after;              // the order terms of its last row
    std::pair<std::int64_t, std::int64_t> stamp;  // changeStamp() when it was read
  };
  static constexpr std::size_t kCursors = 16;
  std::vector<Cursor> cursors_;
  void remember(Cursor c);
  std::pair<std::int64_t, std::int64_t> changeStamp();
};

}  // namespace qlm::rqmgr
