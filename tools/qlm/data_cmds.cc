// qlm export, import, backup and restore (qlm.h).
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "qlm.h"
#include "records_io.h"
#include "store.h"

namespace qlm::admin {
namespace {

namespace fs = std::filesystem;
using rqmgr::Db;
using rqmgr::Store;
using rqmgr::StoreError;
using rqmgr::Use;

bool FormatOf(const Parsed &p, const char *command, Format &f) {
  const std::string v = p.get("format", "jsonl");
  if (v == "jsonl" || v == "json") f = Format::Jsonl;
  else if (v == "csv") f = Format::Csv;
  else {
    std::fprintf(stderr, "qlm %s: --format is jsonl or csv, not %s\n", command, v.c_str());
    return false;
  }
  return true;
}

// The installation's store, opened (and made or upgraded, as a Request Manager
// would); `mustExist`: an SQLite file that is not there yet is an error.
std::unique_ptr<Store> OpenStore(const Installation &in, const char *command, bool mustExist) {
  if (!in.postgres()) {
    if (mustExist && !Exists(in.store)) {
      std::fprintf(stderr, "qlm %s: there is no database at %s yet (data home %s: %s)\n", command, in.store.c_str(),
                   in.home.c_str(), in.homeRule.c_str());
      return nullptr;
    }
    std::error_code ec;
    fs::create_directories(in.dataDir, ec);
    ::chmod(in.dataDir.c_str(), 0700);
  }
  try {
    return std::make_unique<Store>(in.store);
  } catch (const StoreError &e) {
    std::fprintf(stderr, "qlm %s: cannot open the database: %s\n", command, e.what());
    return nullptr;
  }
}

// One row's columns as bytes.
struct Row {
  std::vector<std::string> cells;
  std::int64_t integer(std::size_t i) const { return std::stoll(cells[i]); }
};

std::vector<Row> Query(Db &db, const char *sql) {
  std::vector<Row> rows;
  rqmgr::Stmt &s = db.prepare(sql);
  Use u(s);
  while (s.next()) {
    Row r;
    for (int i = 0; i < s.columns(); ++i) r.cells.push_back(s.bytes(i));
    rows.push_back(std::move(r));
  }
  return rows;
}

}  // namespace

// ---------------------------------------------------------------------------- export

int Export(const Args &args) {
  Parsed p;
  Format format;
  if (!ParseArgs(args, {}, {"project", "format", "output"}, p, "export") || !FormatOf(p, "export", format)) return 2;
  if (!p.operands.empty()) {
    std::fputs("Usage: qlm export [--project NAME] [--format jsonl|csv] [--output FILE]\n", stderr);
    return 2;
  }
  Installation in;
  if (!NeedInstallation(in, "export")) return 1;
  std::unique_ptr<Store> store = OpenStore(in, "export", true);
  if (!store) return 1;
  std::ofstream file;
  const std::string output = p.get("output", "-");
  if (output != "-") {
    file.open(output, std::ios::binary | std::ios::trunc);
    if (!file) {
      std::fprintf(stderr, "qlm export: cannot write %s: %s\n", output.c_str(), std::strerror(errno));
      return 1;
    }
  }
  std::ostream &out = output == "-" ? std::cout : file;
  const bool oneProject = p.has("project");
  const std::string only = p.get("project");
  std::int64_t written = 0;
  try {
    Store::Transaction txn(*store, false);
    Db &db = store->db();
    const std::vector<Row> entries = Query(db, "SELECT id, scope, kind, key, created, changed FROM entries ORDER BY id");
    std::map<std::int64_t, std::vector<std::pair<std::uint16_t, std::string>>> fields;
    for (const Row &r : Query(db, "SELECT entry, name_id, value FROM fields ORDER BY entry, name_id"))
      fields[r.integer(0)].emplace_back(static_cast<std::uint16_t>(r.integer(1)), r.cells[2]);
    // id -> (project key, kind, key) of every entry
    std::map<std::int64_t, Record> byId;
    std::map<std::int64_t, std::string> projectKey;  // project id -> key
    for (const Row &r : entries)
      if (r.integer(1) == rqmgr::kInstallation && r.integer(2) == KindNumber("project")) projectKey[r.integer(0)] = r.cells[3];
    if (oneProject && std::none_of(projectKey.begin(), projectKey.end(), [&](auto &kv) { return kv.second == only; })) {
      std::fprintf(stderr, "qlm export: there is no project %s\n", only.c_str());
      return 1;
    }
    if (format == Format::Csv) out << kCsvHeader;
    Progress progress("exporting", static_cast<std::int64_t>(entries.size()));
    std::int64_t done = 0;
    for (const Row &r : entries) {
      progress.set(++done);
      Record e;
      e.project = r.integer(1) == rqmgr::kInstallation ? "" : projectKey[r.integer(1)];
      e.kind = KindName(static_cast<std::uint16_t>(r.integer(2)));
      e.key = r.cells[3];
      e.created = r.cells[4];
      e.changed = r.cells[5];
      for (const auto &[id, value] : fields[r.integer(0)]) e.fields[FieldName(id)] = value;
      byId[r.integer(0)] = e;
      const bool wanted = !oneProject || e.project == only || (e.project.empty() && e.kind == "project" && e.key == only);
      if (!wanted) continue;
      out << Write(e, format);
      ++written;
    }
    for (const Row &r : Query(db, "SELECT container, member FROM assignments ORDER BY id")) {
      const Record &c = byId[r.integer(0)];
      const Record &m = byId[r.integer(1)];
      if (oneProject && c.project != only) continue;
      Record a;
      a.type = Record::Assignment;
      a.project = c.project;
      a.kind = c.kind;
      a.key = c.key;
      a.memberKind = m.kind;
      a.member = m.key;
      out << Write(a, format);
      ++written;
    }
    for (const Row &r : Query(db, "SELECT scope, kind, next FROM sequences ORDER BY scope, kind")) {
      Record s;
      s.type = Record::Sequence;
      s.project = r.integer(0) == rqmgr::kInstallation ? "" : projectKey[r.integer(0)];
      if (oneProject && s.project != only) continue;
      s.kind = KindName(static_cast<std::uint16_t>(r.integer(1)));
      s.next = r.integer(2);
      out << Write(s, format);
      ++written;
    }
    txn.commit();
  } catch (const StoreError &e) {
    std::fprintf(stderr, "qlm export: the database failed: %s\n", e.what());
    return 1;
  }
  out.flush();
  if (!out) {
    std::fprintf(stderr, "qlm export: writing failed\n");
    return 1;
  }
  std::fprintf(stderr, "qlm export: %lld records written\n", static_cast<long long>(written));
  return 0;
}

// ---------------------------------------------------------------------------- import

int Import(const Args &args) {
  Parsed p;
  if (!ParseArgs(args, {}, {"format"}, p, "import")) return 2;
  if (p.operands.size() != 1) {
    std::fputs("Usage: qlm import [--format jsonl|csv] FILE\n", stderr);
    return 2;
  }
  std::stringstream buffer;
  if (p.operands[0] == "-") {
    buffer << std::cin.rdbuf();
  } else {
    std::ifstream in(p.operands[0], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "qlm import: cannot read %s: %s\n", p.operands[0].c_str(), std::strerror(errno));
      return 1;
    }
    buffer << in.rdbuf();
  }
  std::string text = buffer.str();
  Format format = text.rfind("record,", 0) == 0 ? Format::Csv : Format::Jsonl;
  if (p.has("format") && !FormatOf(p, "import", format)) return 2;
  Installation in;
  if (!NeedInstallation(in, "import")) return 1;
  std::unique_ptr<Store> store = OpenStore(in, "import", false);
  if (!store) return 1;
  const std::size_t size = text.size();
  Reader reader(std::move(text), format);
  std::int64_t count = 0;
  try {
    Store::Transaction txn(*store, true);
    Db &db = store->db();
    std::map<std::string, std::int64_t> projects;  // key -> id
    auto scopeOf = [&](const std::string &project) -> std::int64_t {
      if (project.empty()) return rqmgr::kInstallation;
      if (auto it = projects.find(project); it != projects.end()) return it->second;
      auto found = store->find(rqmgr::kInstallation, KindNumber("project"), project);
      if (!found) throw std::runtime_error("there is no project \"" + project + "\" (its entry must come first)");
      return projects[project] = found->id;
    };
    auto kindOf = [](const std::string &kind) {
      const std::uint16_t k = KindNumber(kind);
      if (k == 0) throw std::runtime_error("unknown kind \"" + kind + "\"");
      return k;
    };
    Progress progress("importing", static_cast<std::int64_t>(size));
    while (std::optional<Record> r = reader.next()) {
      progress.set(static_cast<std::int64_t>(reader.position()));
      try {
        const std::int64_t scope = scopeOf(r->project);
        const std::uint16_t kind = kindOf(r->kind);
        if (r->type == Record::Entry) {
          if (store->find(scope, kind, r->key))
            throw std::runtime_error(r->kind + " \"" + r->key + "\" exists already (import into an empty installation)");
          rqmgr::Fields fields;
          for (const auto &[name, value] : r->fields) {
            const std::uint16_t id = FieldNumber(name);
            if (id == 0) throw std::runtime_error("unknown field \"" + name + "\"");
            fields[id] = value;
          }
          const std::int64_t id = store->add(scope, kind, r->key, fields, r->created);
          rqmgr::Stmt &s = db.prepare("UPDATE entries SET changed = ?2 WHERE id = ?1");
          Use u(s);
          s.bind(1, id);
          s.bindText(2, r->changed);
          s.run();
        } else if (r->type == Record::Assignment) {
          auto c = store->find(scope, kind, r->key);
          auto m = store->find(scope, kindOf(r->memberKind), r->member);
          if (!c || !m) throw std::runtime_error("an assignment names an entry that is not there");
          store->assign(c->id, m->id);
        } else {
          rqmgr::Stmt &s = db.prepare(
              "INSERT INTO sequences(scope, kind, next) VALUES(?1, ?2, ?3) "
              "ON CONFLICT(scope, kind) DO UPDATE SET next = excluded.next");
          Use u(s);
          s.bind(1, scope);
          s.bind(2, kind);
          s.bind(3, r->next);
          s.run();
        }
        ++count;
      } catch (const std::runtime_error &e) {
        if (dynamic_cast<const StoreError *>(&e) != nullptr) throw;
        throw std::runtime_error("line " + std::to_string(reader.line()) + ": " + e.what());
      }
    }
    txn.commit();
  } catch (const std::exception &e) {
    std::fprintf(stderr, "qlm import: %s; nothing was imported\n", e.what());
    return 1;
  }
  std::fprintf(stderr, "qlm import: %lld records imported into %s\n", static_cast<long long>(count),
               store->describe().c_str());
  return 0;
}

// ---------------------------------------------------------------------------- backup, restore

namespace {

// Copies database `from` into `to` with SQLite's online backup, in steps, showing
// progress. The source is read in one read transaction, so that writers going on
// meanwhile neither wait for the copy nor make it start again: the copy is the
// database as it was when the copy began.
bool CopyDatabase(const std::string &from, const std::string &to, const char *what, std::string &error) {
  sqlite3 *src = nullptr, *dst = nullptr;
  auto done = [&](bool ok) {
    if (!ok && error.empty()) error = dst != nullptr ? sqlite3_errmsg(dst) : "cannot open";
    sqlite3_close(src);
    sqlite3_close(dst);
    return ok;
  };
  if (sqlite3_open_v2(from.c_str(), &src, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    error = from + ": " + sqlite3_errmsg(src);
    return done(false);
  }
  const mode_t old = ::umask(077);
  const int rc = sqlite3_open_v2(to.c_str(), &dst, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  ::umask(old);
  if (rc != SQLITE_OK) {
    error = to + ": " + sqlite3_errmsg(dst);
    return done(false);
  }
  sqlite3_busy_timeout(src, rqmgr::kBusyTimeoutMs);
  sqlite3_busy_timeout(dst, rqmgr::kBusyTimeoutMs);
  if (sqlite3_exec(src, "BEGIN; SELECT count(*) FROM sqlite_master;", nullptr, nullptr, nullptr) != SQLITE_OK) {
    error = from + ": " + sqlite3_errmsg(src);
    return done(false);
  }
  sqlite3_backup *b = sqlite3_backup_init(dst, "main", src, "main");
  if (b == nullptr) return done(false);
  Progress progress(what, 1);
  int step;
  do {
    step = sqlite3_backup_step(b, 256);
    progress.setTotal(sqlite3_backup_pagecount(b));
    progress.set(sqlite3_backup_pagecount(b) - sqlite3_backup_remaining(b));
    if (step == SQLITE_BUSY || step == SQLITE_LOCKED) sqlite3_sleep(50);
  } while (step == SQLITE_OK || step == SQLITE_BUSY || step == SQLITE_LOCKED);
  const int finish = sqlite3_backup_finish(b);
  sqlite3_exec(src, "COMMIT", nullptr, nullptr, nullptr);
  if (step != SQLITE_DONE || finish != SQLITE_OK) {
    error = sqlite3_errstr(step != SQLITE_DONE ? step : finish);
    return done(false);
  }
  return done(true);
}

// Copies the files of directory `from` that `to` lacks; false with `error` on a failure.
bool CopyBodies(const std::string &from, const std::string &to, std::string &error) {
  std::error_code ec;
  if (!fs::is_directory(from, ec)) return true;
  fs::create_directories(to, ec);
  ::chmod(to.c_str(), 0700);
  for (const fs::directory_entry &e : fs::directory_iterator(from, ec)) {
    const fs::path target = fs::path(to) / e.path().filename();
    if (!e.is_regular_file() || fs::exists(target)) continue;
    if (!fs::copy_file(e.path(), target, ec)) {
      error = e.path().string() + ": " + ec.message();
      return false;
    }
  }
  if (ec) error = ec.message();
  return !ec;
}

bool SqliteOnly(const Installation &in, const char *command) {
  if (!in.postgres()) return true;
  std::fprintf(stderr,
               "qlm %s: the store is PostgreSQL: use pg_dump -Fc (backup) and pg_restore --clean (restore), "
               "see docs/server.md\n",
               command);
  return false;
}

}  // namespace

namespace {

// qlm backup (the installation's database and message bodies into FILE and
// FILE.messages/, which must not exist yet) and qlm restore (the other way; the
// installation's database is made when missing).
int CopyCommand(const Args &args, const char *command, bool restoring) {
  Parsed p;
  if (!ParseArgs(args, {}, {}, p, command)) return 2;
  if (p.operands.size() != 1) {
    std::fprintf(stderr, "Usage: qlm %s FILE\n", command);
    return 2;
  }
  Installation in;
  if (!NeedInstallation(in, command) || !SqliteOnly(in, command)) return 1;
  const std::string file = p.operands[0];
  const std::string &from = restoring ? file : in.store;
  if (!Exists(from)) {
    std::fprintf(stderr, "qlm %s: there is no %s\n", command, from.c_str());
    return 1;
  }
  if (!restoring && Exists(file)) {
    std::fprintf(stderr, "qlm %s: %s exists already\n", command, file.c_str());
    return 1;
  }
  std::error_code ec;
  fs::create_directories(in.dataDir, ec);
  ::chmod(in.dataDir.c_str(), 0700);
  const std::string bodies = in.dataDir + "/messages", copiedBodies = file + ".messages";
  std::string error;
  if (!CopyDatabase(from, restoring ? in.store : file, restoring ? "restoring" : "backing up", error) ||
      !CopyBodies(restoring ? copiedBodies : bodies, restoring ? bodies : copiedBodies, error)) {
    std::fprintf(stderr, "qlm %s: %s\n", command, error.c_str());
    return 1;
  }
  std::fprintf(stderr, "qlm %s: %s copied to %s\n", command, from.c_str(), (restoring ? in.store : file).c_str());
  return 0;
}

}  // namespace

int Backup(const Args &args) { return CopyCommand(args, "backup", false); }

int Restore(const Args &args) { return CopyCommand(args, "restore", true); }

}  // namespace qlm::admin
