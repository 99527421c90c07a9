// The order and receipt shelves. The library addresses only the shelf
// "$Default$": deleting sends relation 10001 (no related record) and the shelf's
// name in a data segment; listing sends relation 10001 and no data segment, and
// reads a mixed list of send and receive entries.
#include <array>
#include <cstddef>

#include "interface/exchange.h"
#include "interface/patterns.h"
#include "mailbox/families.h"
#include "qlmc32.h"

using namespace qlm;

namespace {
// The shelf name blank-padded to its width; it travels as its 9 characters.
constexpr auto kShelfName = [] {
  std::array<char, rec::kShelfNameWidth> name{};
  for (std::size_t i = 0; i < name.size(); ++i) name[i] = i + 1 < sizeof rec::kDefaultShelf ? rec::kDefaultShelf[i] : ' ';
  return name;
}();

// A shelf's delete: its name ID is the data segment's type and item.
constexpr rec::Keyed deleting(const rec::Shelf &s) {
  return {s.deleteRequest, {0, rec::kShelfNameWidth, s.nameId}};
}
}  // namespace

extern "C" {

QLM_API QlmRc QlmDeleteOrdrShlf(char *request) {
  QLM_TRACED("cfrdtos", "QlmDeleteOrdrShlf",
             cfDeleteRequest(deleting(rec::kOrdrShlf), request, 0, rec::kNoRelation, kShelfName.data()));
}
QLM_API QlmRc QlmDeleteRcptShlf(char *request) {
  QLM_TRACED("cfrdtrs", "QlmDeleteRcptShlf",
             cfDeleteRequest(deleting(rec::kRcptShlf), request, 0, rec::kNoRelation, kShelfName.data()));
}
QLM_API QlmRc QlmListOrdrsOnOrdrShlf(char *qualifier, uint16_t *count, char *array) {
  QLM_TRACED("cfrlzos", "QlmListOrdrsOnOrdrShlf",
             cfListRequest(rec::kOrdrShlf.list, &rec::kOrdrShlfListing, kAnyOrdrsListed, nullptr, qualifier, count, array));
}
QLM_API QlmRc QlmListRcptsOnRcptShlf(char *qualifier, uint16_t *count, char *array) {
  QLM_TRACED("cfrlzrs", "QlmListRcptsOnRcptShlf",
             cfListRequest(rec::kRcptShlf.list, nullptr, kAnyRcptsListed, nullptr, qualifier, count, array));
}

}  // extern "C"
