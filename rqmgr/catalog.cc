#include "catalog.h"

#include <array>

#include "records/addressbook.h"
#include "records/mailbox.h"
#include "records/sessions.h"

namespace qlm::rqmgr {

namespace {

struct Codes {
  std::array<ListCode, 8> items{};
  std::size_t size = 0;
};

// The codes of an entity: its key, its other keywords, and the codes of its shelf.
consteval Codes codes(const rec::Entity &e, std::initializer_list<ListCode> shelf = {}) {
  Codes c;
  c.items[c.size++] = {kKeyCode, e.segType};
  for (const rec::Keyword &k : e.list.keywords) c.items[c.size++] = {k.nameId, k.nameId};
  for (const ListCode &s : shelf) c.items[c.size++] = s;
  return c;
}

// The order shelf's codes: 9982 the name, 9981 the description of either kind.
static_assert(rec::kOrdrShlfKeywords[0].nameId == 9982 && rec::kOrdrShlfKeywords[1].nameId == 9981);
constexpr Codes kProj = codes(rec::kProj), kAddr = codes(rec::kAddr), kDistList = codes(rec::kDistList),
                kTradProf = codes(rec::kTradProf), kCommProf = codes(rec::kCommProf), kVnLogon = codes(rec::kVnLogon),
                kSendOrdr = codes(rec::kSendOrdr, {{9982, 1180}, {9981, 1181}}),
                kRecvOrdr = codes(rec::kRecvOrdr, {{9982, 687}, {9981, 688}}), kSendRcpt = codes(rec::kSendRcpt),
                kRecvRcpt = codes(rec::kRecvRcpt), kDropBox = codes(rec::kDropBox), kSessRcpt = codes(rec::kSessRcpt);

constexpr std::span<const ListCode> span(const Codes &c) { return {c.items.data(), c.size}; }

constexpr std::uint16_t kOrderShelf = rec::kOrdrShlf.list.request, kReceiptShelf = rec::kRcptShlf.list.request;

constexpr KindCodes kCatalog[] = {
    {rec::kProj.segType, rec::kProj.segType, span(kProj)},
    {rec::kAddr.segType, rec::kAddr.segType, span(kAddr)},
    {rec::kDistList.segType, rec::kDistList.segType, span(kDistList)},
    {rec::kTradProf.segType, rec::kTradProf.segType, span(kTradProf)},
    {rec::kCommProf.segType, rec::kCommProf.segType, span(kCommProf)},
    {rec::kVnLogon.segType, rec::kVnLogon.segType, span(kVnLogon)},
    {rec::kSendOrdr.segType, kOrderShelf, span(kSendOrdr)},
    {rec::kRecvOrdr.segType, kOrderShelf, span(kRecvOrdr)},
    {rec::kSendRcpt.segType, kReceiptShelf, span(kSendRcpt)},
    {rec::kRecvRcpt.segType, kReceiptShelf, span(kRecvRcpt)},
    {rec::kDropBox.segType, rec::kDropBox.segType, span(kDropBox)},
    {rec::kSessRcpt.segType, rec::kSessRcpt.segType, span(kSessRcpt)},
};

// Every code names a field of its kind's record; no code is there twice.
consteval bool sound() {
  const rec::Entity *entities[] = {&rec::kProj,     &rec::kAddr,     &rec::kDistList, &rec::kTradProf,
                                   &rec::kCommProf, &rec::kVnLogon,  &rec::kSendOrdr, &rec::kRecvOrdr,
                                   &rec::kSendRcpt, &rec::kRecvRcpt, &rec::kDropBox,  &rec::kSessRcpt};
  for (std::size_t i = 0; i < std::size(kCatalog); ++i) {
    const KindCodes &k = kCatalog[i];
    if (k.kind != entities[i]->segType) return false;
    for (std::size_t a = 0; a < k.codes.size(); ++a) {
      if (!entities[i]->record.has(k.codes[a].field)) return false;
      for (std::size_t b = a + 1; b < k.codes.size(); ++b)
        if (k.codes[a].code == k.codes[b].code) return false;
    }
  }
  return true;
}
static_assert(sound());

constexpr UniqueField kUnique[] = {{rec::kVnLogon.segType, 473}};
static_assert(rec::kVnLogon.record.has(473));

}  // namespace

std::span<const KindCodes> catalog() { return kCatalog; }
std::span<const UniqueField> uniqueFields() { return kUnique; }

const KindCodes *codesOf(std::uint16_t kind) {
  for (const KindCodes &k : kCatalog)
    if (k.kind == kind) return &k;
  return nullptr;
}

int storedCode(std::uint16_t kind, std::uint16_t requested) {
  const KindCodes *k = codesOf(kind);
  if (k == nullptr) return -1;
  for (const ListCode &c : k->codes)
    if (c.code == requested) return c.field == kind ? kKeyCode : c.code;
  return -1;
}

std::string catalogFingerprint() {
  std::string s;
  for (const KindCodes &k : kCatalog) {
    s += std::to_string(k.kind) + "/" + std::to_string(k.group) + ":";
    for (const ListCode &c : k.codes) s += std::to_string(c.code) + "=" + std::to_string(c.field) + ",";
    s += ";";
  }
  for (const UniqueField &u : kUnique) s += "unique " + std::to_string(u.kind) + "." + std::to_string(u.field) + ";";
  return s;
}

}  // namespace qlm::rqmgr
