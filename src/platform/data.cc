// Data objects: the blocks of data that pokes carry. See platform/windows.h.
#include <algorithm>
#include <cstring>

#include "platform/internal.h"

namespace qlm::platform {

namespace {
constexpr std::uint32_t kDataMagic = 0x44444544;  // "DEDD"
struct DataObject {
  std::uint32_t magic = kDataMagic;
  std::vector<BYTE> bytes;
  UINT fmt = 0;
};

// Deleted objects kept for the next ones (with the room of their bytes), so that
// the data of one poke after another allocates nothing.
constexpr std::size_t kSpareObjects = 8;
std::vector<DataObject *> &g_spare = *new std::vector<DataObject *>;

DataObject *AsData(HDDEDATA h) {
  auto *d = reinterpret_cast<DataObject *>(h);
  return d != nullptr && d->magic == kDataMagic ? d : nullptr;
}
}  // namespace

// A data object of `offset` zero bytes followed by the `n` bytes at `p` (zeros when null).
HDDEDATA NewData(const BYTE *p, std::size_t n, UINT fmt, std::size_t offset) {
  DataObject *d = nullptr;
  if (!g_spare.empty()) {
    d = g_spare.back();
    g_spare.pop_back();
    d->magic = kDataMagic;
  } else {
    d = new DataObject;
  }
  d->bytes.assign(offset + n, 0);
  if (p != nullptr && n > 0) std::memcpy(d->bytes.data() + offset, p, n);
  d->fmt = fmt;
  return reinterpret_cast<HDDEDATA>(d);
}

void DeleteData(HDDEDATA h) {
  if (DataObject *d = AsData(h)) {
    d->magic = 0;
    if (g_spare.size() < kSpareObjects && d->bytes.capacity() <= 65536) {
      if (g_spare.capacity() < kSpareObjects) g_spare.reserve(kSpareObjects);
      g_spare.push_back(d);
    } else {
      delete d;
    }
  }
}

const std::vector<BYTE> *DataBytes(HDDEDATA h) {
  const DataObject *d = AsData(h);
  return d != nullptr ? &d->bytes : nullptr;
}

}  // namespace qlm::platform

using namespace qlm::platform;

HDDEDATA DdeCreateDataHandle(DWORD idInst, LPBYTE pSrc, DWORD cb, DWORD cbOff, HSZ, UINT wFmt, UINT) {
  if (!qlm::platform::InstanceExists(idInst)) return nullptr;
  return NewData(pSrc, cb, wFmt, cbOff);
}

BOOL DdeFreeDataHandle(HDDEDATA hData) {
  if (AsData(hData) == nullptr) return FALSE;
  DeleteData(hData);
  return TRUE;
}

DWORD DdeGetData(HDDEDATA hData, LPBYTE pDst, DWORD cbMax, DWORD cbOff) {
  const DataObject *d = AsData(hData);
  if (d == nullptr) return 0;
  if (pDst == nullptr) return static_cast<DWORD>(d->bytes.size());
  if (cbOff >= d->bytes.size()) return 0;
  const std::size_t n = std::min<std::size_t>(cbMax, d->bytes.size() - cbOff);
  std::memcpy(pDst, d->bytes.data() + cbOff, n);
  return static_cast<DWORD>(n);
}
