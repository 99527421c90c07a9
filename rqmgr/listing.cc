#include "listing.h"

namespace qlm::rqmgr {

const std::string &Row::value(std::uint16_t id) const {
  static const std::string kEmpty;
  for (const Value &v : record)
    if (v.id == id) return v.text;
  return kEmpty;
}

bool writeRows(Reply &reply, const std::vector<Row> &rows) {
  for (const Row &r : rows)
    if (!reply.record(r.segType, r.record)) return false;
  return true;
}

}  // namespace qlm::rqmgr
