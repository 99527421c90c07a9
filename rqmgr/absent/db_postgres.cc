// The PostgreSQL backend of a Request Manager built without PostgreSQL's client
// library: a PostgreSQL store is refused at start-up, saying why.
#include "../db.h"

namespace qlm::rqmgr {

std::unique_ptr<Db> openPostgres(const std::string &, int) {
  throw StoreError("this Request Manager was built without PostgreSQL (install libpq-dev and build it again)");
}

}  // namespace qlm::rqmgr
