#include <cstdio>
#include <string>

#include "service_internal.h"

namespace qlm::rqmgr {

std::string_view trimRight(std::string_view v) {
  while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
  return v;
}

std::string cut(std::string_view v, std::size_t width) { return std::string(trimRight(v.substr(0, width))); }

const Segment *dataSegment(const Request &r, long type) {
  return !r.data.empty() && r.data.front().type() == type ? &r.data.front() : nullptr;
}

Err readRecord(const Request &r, const rec::Send &send, std::string *key, Fields *fields) {
  const Segment *s = dataSegment(r, send.segType);
  if (s == nullptr) return Err::Malformed;
  for (const Item &i : s->items) {
    const rec::Field *f = send.items.find(i.id);
    if (f == nullptr || i.id == wire::kSegType) continue;
    std::string v = cut(i.value, f->width);
    if (i.id == send.segType) *key = v;
    else if (!v.empty()) (*fields)[i.id] = v;
  }
  return key->empty() ? Err::BlankKey : Err::None;
}

Err readKey(const Request &r, std::uint16_t keyId, std::size_t width, std::string *key) {
  const Segment *s = dataSegment(r, keyId);
  if (s == nullptr) return Err::Malformed;
  const Item *i = s->find(keyId);
  *key = i ? cut(i->value, width) : std::string();
  return key->empty() ? Err::BlankKey : Err::None;
}

std::int64_t scopeOf(const Family &f, std::int64_t project) {
  return f.scope == Scope::Installation ? kInstallation : project;
}

std::uint16_t keyWidth(const Family &f) {
  const rec::Field *k = f.entity->record.find(f.kind());
  return k ? k->width : 20;
}

std::string counterText(std::int64_t n) {
  char text[8];
  std::snprintf(text, sizeof text, "%05lld", static_cast<long long>(n < 0 ? 0 : n > 99999 ? 99999 : n));
  return text;
}

void readFields(const Segment &s, const rec::Layout &items, Fields *fields) {
  for (const Item &i : s.items) {
    const rec::Field *f = i.id == wire::kSegType ? nullptr : items.find(i.id);
    if (f == nullptr) continue;
    std::string v = cut(i.value, f->width);
    if (!v.empty()) (*fields)[i.id] = std::move(v);
  }
}

}  // namespace qlm::rqmgr
