#include "listing.h"

namespace qlm::rqmgr {

const std::string &Row::value(std::uint16_t id) const {
  static const std::string kEmpty;
  for (const Value &v : record)
    if (v.id == id) return v.text;
  return kEmpty;
}

std::string &Computed::set(std::uint16_t id) {
  auto &v = values_.at(used_++);
  v.first = id;
  v.second.clear();
  return v.second;
}

const std::string *Computed::find(std::uint16_t id) const {
  for (std::size_t i = 0; i < used_; ++i)
    if (values_[i].first == id) return &values_[i].second;
  return nullptr;
}

bool writeRows(Reply &reply, const std::vector<Row> &rows) {
  for (const Row &r : rows)
    if (!reply.record(r.segType, r.record)) return false;
  return true;
}

}  // namespace qlm::rqmgr
