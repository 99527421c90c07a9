// Helpers of the store's source files for SQLite statements.
#pragma once
#include <sqlite3.h>

#include <string>
#include <string_view>

namespace qlm::rqmgr {

// Resets a cached statement when the use ends.
struct Use {
  sqlite3_stmt *s;
  explicit Use(sqlite3_stmt *st) : s(st) {}
  ~Use() {
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
  }
  Use(const Use &) = delete;
  Use &operator=(const Use &) = delete;
};

inline void bindText(sqlite3_stmt *s, int i, std::string_view v) {
  sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
}
inline void bindBlob(sqlite3_stmt *s, int i, std::string_view v) {
  sqlite3_bind_blob(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
}
inline std::string columnBytes(sqlite3_stmt *s, int i) {
  const void *p = sqlite3_column_blob(s, i);
  const int n = sqlite3_column_bytes(s, i);
  return p ? std::string(static_cast<const char *>(p), n) : std::string();
}

}  // namespace qlm::rqmgr
