// Where the store of an installation is (db.h, openDb): $QLM_STORE when set
// ("postgresql:<connection string>", or "sqlite"), else section [Store] of
// <root>/quillmar.ini (Backend=postgresql with Conninfo=<connection string>, or
// Backend=sqlite), else the SQLite file <data dir>/quillmar.db. `log` hears about a
// Backend it does not know (SQLite then stands).
#pragma once
#include <functional>
#include <string>

namespace qlm::rqmgr {

std::string StoreLocation(const std::string &root, const std::string &dataDir,
                          const std::function<void(const std::string &)> &log);

}  // namespace qlm::rqmgr
