// What the reader fuzz target and the seed maker share: the caller's areas with
// guard bytes, the request records, and one call of every reader family.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "interface/context_table.h"
#include "qlmc32.h"

namespace qlm::fuzz {

inline constexpr std::size_t kGuard = 64;
inline constexpr std::uint8_t kGuardByte = 0xA5;
inline constexpr int kMaxCapacity = 24;
inline constexpr std::size_t kMaxEntry = 725;  // the widest entry of any list (QlmRecvRcptEntry)

// A caller's area with guard bytes on both sides.
struct Area {
  explicit Area(std::size_t size, char fill = ' ') : bytes(size + 2 * kGuard, kGuardByte), size(size) {
    std::memset(bytes.data() + kGuard, fill, size);
  }
  char *get() { return reinterpret_cast<char *>(bytes.data() + kGuard); }
  void check() const {
    for (std::size_t i = 0; i < kGuard; ++i)
      if (bytes[i] != kGuardByte || bytes[kGuard + size + i] != kGuardByte) std::abort();
  }
  std::vector<std::uint8_t> bytes;
  std::size_t size;
};

inline constexpr char kProject[] = "FUZZ";

// A request record: the context name, then every other field filled, so that none
// is refused as blank before the request goes out.
inline Area Request(std::size_t size) {
  Area a(size, 'A');
  std::memset(a.get(), ' ', size < 20 ? size : 20);
  std::memcpy(a.get(), kProject, sizeof kProject - 1);
  return a;
}

inline void PutNumber(char *field, int width, int value) {
  std::memset(field, ' ', width);
  const std::string t = std::to_string(value);
  std::memcpy(field, t.data(), t.size());
}

// A list's request record R asking for `capacity` entries from the first, in the
// project's context when R has one (the paging record of a project list has none).
template <class R>
inline Area PagedRecord(int capacity, bool inProject) {
  Area q(sizeof(R));
  if (inProject) std::memcpy(q.get(), kProject, sizeof kProject - 1);
  auto *r = reinterpret_cast<R *>(q.get());
  PutNumber(r->startentry, 5, 1);
  PutNumber(r->numentries, 5, capacity);
  return q;
}
inline Area Qualifier(int capacity) { return PagedRecord<QlmListQual>(capacity, true); }
inline Area SmallQualifier(int capacity) { return PagedRecord<QlmSmallListQual>(capacity, true); }
inline Area Paging(int capacity) { return PagedRecord<QlmPaging>(capacity, false); }
inline Area Name() {
  Area n(20);
  std::memcpy(n.get(), "NAME", 4);
  return n;
}

using AddFn = QlmRc (*)(char *, char *);
using ListFn = QlmRc (*)(char *, std::uint16_t *, char *);
using ListOnFn = QlmRc (*)(char *, char *, std::uint16_t *, char *);

inline void Single(AddFn f, std::size_t requestSize, std::size_t outSize) {
  Area req = Request(requestSize), out(outSize);
  f(req.get(), out.get());
  req.check();
  out.check();
}
inline void List(ListFn f, Area qual, int capacity, std::size_t entry) {
  Area array(static_cast<std::size_t>(capacity) * entry);
  std::uint16_t count = 0;
  f(qual.get(), &count, array.get());
  if (count > capacity) std::abort();
  array.check();
  qual.check();
}
inline void ListOn(ListOnFn f, Area qual, int capacity, std::size_t entry) {
  Area name = Name(), array(static_cast<std::size_t>(capacity) * entry);
  std::uint16_t count = 0;
  f(name.get(), qual.get(), &count, array.get());
  if (count > capacity) std::abort();
  array.check();
}

// One call of each reader; `capacity` entries asked of lists.
inline const std::vector<std::function<void(int)>> &Calls() {
  static const std::vector<std::function<void(int)>> calls = {
      [](int) { Single(QlmAddAddr, sizeof(QlmAddrReq), sizeof(QlmAddr)); },
      [](int) { Single(QlmReplaceAddr, sizeof(QlmAddrReq), sizeof(QlmAddr)); },
      [](int c) { List(QlmListAddr, Qualifier(c), c, sizeof(QlmAddr)); },
      [](int) { Single(QlmAddDistList, sizeof(QlmDistListReq), sizeof(QlmDistList)); },
      [](int c) { List(QlmListDistList, Qualifier(c), c, sizeof(QlmDistList)); },
      [](int c) { ListOn(QlmListAddrsOnDistList, SmallQualifier(c), c, sizeof(QlmAddr)); },
      [](int) { Single(QlmAddTradProf, sizeof(QlmTradProfReq), sizeof(QlmTradProf)); },
      [](int c) { List(QlmListTradProf, Qualifier(c), c, sizeof(QlmTradProf)); },
      [](int c) { ListOn(QlmListAddrsOnTradProf, SmallQualifier(c), c, sizeof(QlmAddr)); },
      [](int c) { ListOn(QlmListDistListsOnTradProf, SmallQualifier(c), c, sizeof(QlmDistList)); },
      [](int) { Single(QlmAddProj, sizeof(QlmProj), sizeof(QlmProjInfo)); },
      [](int) { Single(QlmReplaceProj, sizeof(QlmProj), sizeof(QlmProjInfo)); },
      [](int c) { List(QlmListProj, Paging(c), c, sizeof(QlmProjInfo)); },
      [](int) { Single(QlmAddCommProf, sizeof(QlmCommProfReq), sizeof(QlmCommProf)); },
      [](int c) { List(QlmListCommProf, Qualifier(c), c, sizeof(QlmCommProf)); },
      [](int c) { ListOn(QlmListProjsOnCommProf, Paging(c), c, sizeof(QlmProjInfo)); },
      [](int) { Single(QlmAddVnLogon, sizeof(QlmVnLogonReq), sizeof(QlmVnLogon)); },
      [](int c) { List(QlmListVnLogon, Qualifier(c), c, sizeof(QlmVnLogon)); },
      [](int) { Single(QlmAddSendOrdr, sizeof(QlmSendOrdrReq), sizeof(QlmSendOrdr)); },
      [](int) { Single(QlmReplaceSendOrdr, sizeof(QlmSendOrdrReplaceReq), sizeof(QlmSendOrdr)); },
      [](int c) { List(QlmListSendOrdr, Qualifier(c), c, sizeof(QlmSendOrdrEntry)); },
      [](int) { Single(QlmAddRecvOrdr, sizeof(QlmRecvOrdrReq), sizeof(QlmRecvOrdr)); },
      [](int c) { List(QlmListRecvOrdr, Qualifier(c), c, sizeof(QlmRecvOrdrEntry)); },
      [](int) { Single(QlmAddSendRcpt, sizeof(QlmSendRcptReq), sizeof(QlmSendRcpt)); },
      [](int c) { List(QlmListSendRcpt, Qualifier(c), c, sizeof(QlmSendRcptEntry)); },
      [](int c) { ListOn(QlmListSendRcptsOnSendOrdr, SmallQualifier(c), c, sizeof(QlmSendRcptEntry)); },
      [](int) { Single(QlmAddRecvRcpt, sizeof(QlmRecvRcptReq), sizeof(QlmRecvRcpt)); },
      [](int c) { List(QlmListRecvRcpt, Qualifier(c), c, sizeof(QlmRecvRcptEntry)); },
      [](int c) { List(QlmListOrdrsOnOrdrShlf, Qualifier(c), c, kMaxEntry); },  // mixed
      [](int c) { List(QlmListRcptsOnRcptShlf, Qualifier(c), c, kMaxEntry); },  // mixed
      [](int) { Single(QlmAddDropBox, sizeof(QlmDropBoxReq), sizeof(QlmDropBox)); },
      [](int c) { List(QlmListDropBox, Qualifier(c), c, sizeof(QlmDropBox)); },
      [](int c) { ListOn(QlmListOrdrsOnDropBox, SmallQualifier(c), c, kMaxEntry); },  // mixed
      [](int) { Single(QlmProcDropBox, sizeof(QlmDropBoxProcReq), sizeof(QlmSessResult)); },
      [](int) { Single(QlmStartSess, sizeof(QlmSessStartReq), sizeof(QlmSessStarted)); },
      [](int) { Single(QlmEndSess, sizeof(QlmSessEndReq), sizeof(QlmSessResult)); },
      [](int) { Single(QlmDoSendOrdr, sizeof(QlmSendOrdrDoReq), sizeof(QlmSendOrdrDone)); },
      [](int) { Single(QlmDoRecvOrdr, sizeof(QlmRecvOrdrDoReq), sizeof(QlmRecvOrdrDone)); },
      [](int) { Single(QlmDoPurgOrdr, sizeof(QlmPurgOrdrReq), sizeof(QlmPurgOrdrDone)); },
      [](int c) { List(QlmDoQuryOrdr, SmallQualifier(c), c, sizeof(QlmQuryOrdrEntry)); },
      [](int) { Single(QlmAddSessRcpt, sizeof(QlmSessRcptReq), sizeof(QlmSessRcpt)); },
      [](int c) { List(QlmListSessRcpt, Qualifier(c), c, sizeof(QlmSessRcpt)); },
      [](int) { Single(QlmRecoverSessRcpt, sizeof(QlmSessRcptRecoverReq), sizeof(QlmSessRcptRecovered)); },
      [](int c) { ListOn(QlmListRcptsOnSessRcpt, SmallQualifier(c), c, kMaxEntry); },  // mixed
      [](int) {
        Area req = Request(sizeof(QlmErrTextReq)), out(sizeof(QlmRetrievedErrText));
        QlmRetrieveErrText(req.get(), out.get());
        req.check();
        out.check();
      },
      [](int) {
        Area open(sizeof(QlmProjOpen)), result(sizeof(QlmProjOpenResult));
        std::memcpy(open.get(), "OTHER", 5);
        QlmOpenProj(open.get(), result.get());
        result.check();
        char name[20];
        std::memset(name, ' ', 20);
        std::memcpy(name, "OTHER", 5);
        cfDeleteProjEntry(name);
      },
  };
  return calls;
}


// The project context the calls use, with every handle set.
inline void OpenFuzzContext() {
  char name[20], handle[10] = {'P', 'H'};
  std::memset(name, ' ', 20);
  std::memcpy(name, kProject, sizeof kProject - 1);
  cfClearProjTable();
  cfAddProjEntry(name, handle);
  for (std::uint16_t sel : {kSelAdbk, kSelMbox, kSelMsys}) cfModProjEntry(name, sel, "HANDLE0000");
}

}  // namespace qlm::fuzz
