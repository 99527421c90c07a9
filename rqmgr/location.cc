// Where the store is (location.h).
#include "location.h"

#include <cstdlib>
#include <utility>

#include "common/config.h"
#include "common/memory.h"
#include "db.h"

namespace qlm::rqmgr {

std::string StoreLocation(const std::string &root, const std::string &dataDir,
                          const std::function<void(const std::string &)> &log) {
  const std::string sqlite = dataDir + "/quillmar.db";
  if (const char *env = std::getenv("QLM_STORE"); env != nullptr && *env != '\0')
    return std::string(env) == "sqlite" ? sqlite : env;
  const std::string ini = root + "quillmar.ini";
  std::string backend, conninfo;
  for (auto [key, out] : {std::pair{"Backend", &backend}, {"Conninfo", &conninfo}})
    if (char *v = qlm::ReadINIFile(ini.c_str(), "Store", key)) {
      *out = v;
      qlm::FreeBuf(&v);
    }
  while (!backend.empty() && (backend.back() == '\r' || backend.back() == ' ')) backend.pop_back();
  if (backend == "postgresql") return std::string(kPostgresPrefix) + conninfo;
  if (!backend.empty() && backend != "sqlite") log("quillmar.ini: Backend=" + backend + " is not known; SQLite stands");
  return sqlite;
}

}  // namespace qlm::rqmgr
